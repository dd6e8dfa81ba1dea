#include "support/zip_contents.h"

#include <QFile>
#include <zip.h>

namespace vernalo::test {

std::optional<ZipContents> ZipContents::read(const QString &path)
{
    int error = 0;
    zip_t *archive =
        zip_open(QFile::encodeName(path).constData(), ZIP_RDONLY | ZIP_CHECKCONS, &error);
    if (!archive)
        return std::nullopt;
    ZipContents result;
    const zip_int64_t count = zip_get_num_entries(archive, 0);
    for (zip_int64_t index = 0; index < count; ++index) {
        zip_stat_t stat;
        zip_file_t *file = nullptr;
        if (zip_stat_index(archive, index, 0, &stat) != 0 ||
            !(file = zip_fopen_index(archive, index, 0))) {
            zip_discard(archive);
            return std::nullopt;
        }
        QByteArray bytes(static_cast<qsizetype>(stat.size), Qt::Uninitialized);
        const zip_int64_t got = zip_fread(file, bytes.data(), stat.size);
        // The CRC is checked when the whole entry has been read.
        const bool intact = got == static_cast<zip_int64_t>(stat.size) && zip_fclose(file) == 0;
        if (!intact) {
            zip_discard(archive);
            return std::nullopt;
        }
        result.names.append(QString::fromUtf8(stat.name));
        result.contents.append(bytes);
    }
    zip_discard(archive);
    return result;
}

std::optional<QByteArray> ZipContents::entry(const QString &name) const
{
    const qsizetype index = names.indexOf(name);
    if (index < 0)
        return std::nullopt;
    return contents.at(index);
}

} // namespace vernalo::test
