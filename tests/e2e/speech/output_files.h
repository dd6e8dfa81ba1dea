#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

namespace vernalo::test {

// The files a client run left behind for the user or for support (log, stored sessions,
// exports, packages), read back for inspection. A zip archive is opened and each of its entries
// becomes an item of its own, so a secret inside a package is found like one in a plain file.
class OutputFileSet
{
public:
    struct Item
    {
        QString name; // the path, or "archive.zip!entry" for a packaged file
        QByteArray content;
    };

    // Adds one file; false when it cannot be read (or is an unreadable archive).
    bool addFile(const QString &path);
    // Adds every file under the folder, recursively; returns how many were added.
    int addFolder(const QString &path);

    const QList<Item> &items() const { return m_items; }
    QStringList names() const;

    // "<item>: <label>" for every item holding a secret, as written or in a form it could be
    // written in (percent-encoded, Base64, JSON-escaped). Secrets are given as label → value.
    QStringList findSecrets(const QList<QPair<QString, QString>> &secrets) const;

private:
    bool addArchive(const QString &path);

    QList<Item> m_items;
};

} // namespace vernalo::test
