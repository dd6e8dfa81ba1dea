#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
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

    // Adds one file, or every file under a folder, recursively.
    void addFile(const QString &path);
    void addFolder(const QString &path);
    void addContent(const QString &name, const QByteArray &content)
    {
        m_items.append({name, content});
    }

    const QList<Item> &items() const { return m_items; }

    // "<item>: <label>" for every item holding a secret, as written or in a form it could be
    // written in (percent-encoded, Base64, JSON-escaped). Secrets are given as label → value.
    QStringList findSecrets(const QList<QPair<QString, QString>> &secrets) const;

private:
    QList<Item> m_items;
};

} // namespace vernalo::test
