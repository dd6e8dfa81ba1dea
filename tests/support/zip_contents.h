#pragma once

#include <optional>
#include <QByteArray>
#include <QList>
#include <QString>

namespace vernalo::test {

// A zip archive read back with libzip: entry names in archive order and each entry's
// decompressed bytes. No value when the file is not a readable zip or an entry fails its check.
struct ZipContents
{
    QStringList names;
    QList<QByteArray> contents;

    static std::optional<ZipContents> read(const QString &path);
    // The bytes of one entry; no value when the archive has no such entry.
    std::optional<QByteArray> entry(const QString &name) const;
};

} // namespace vernalo::test
