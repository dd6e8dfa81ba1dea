#include "output_files.h"

#include <QDirIterator>
#include <QFile>
#include <QJsonDocument>
#include <QJsonValue>
#include <QUrl>
#include <zip.h>

namespace vernalo::test {

bool OutputFileSet::addFile(const QString &path)
{
    if (path.endsWith(QLatin1String(".zip"), Qt::CaseInsensitive))
        return addArchive(path);
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    m_items.append({path, file.readAll()});
    return true;
}

int OutputFileSet::addFolder(const QString &path)
{
    int added = 0;
    QDirIterator it(path, QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        if (addFile(it.next()))
            ++added;
    }
    return added;
}

bool OutputFileSet::addArchive(const QString &path)
{
    int error = 0;
    zip_t *archive = zip_open(QFile::encodeName(path).constData(), ZIP_RDONLY, &error);
    if (!archive)
        return false;
    bool whole = true;
    const zip_int64_t count = zip_get_num_entries(archive, 0);
    for (zip_int64_t i = 0; i < count; ++i) {
        zip_stat_t stat;
        zip_file_t *entry = nullptr;
        if (zip_stat_index(archive, static_cast<zip_uint64_t>(i), 0, &stat) != 0 ||
            !(entry = zip_fopen_index(archive, static_cast<zip_uint64_t>(i), 0))) {
            whole = false;
            continue;
        }
        QByteArray content(static_cast<qsizetype>(stat.size), Qt::Uninitialized);
        const zip_int64_t read = zip_fread(entry, content.data(), stat.size);
        zip_fclose(entry);
        if (read != static_cast<zip_int64_t>(stat.size))
            whole = false;
        m_items.append({path + QLatin1Char('!') + QString::fromUtf8(stat.name), content});
    }
    zip_close(archive);
    return whole;
}

QStringList OutputFileSet::names() const
{
    QStringList out;
    for (const Item &item : m_items)
        out << item.name;
    return out;
}

QStringList OutputFileSet::findSecrets(const QList<QPair<QString, QString>> &secrets) const
{
    QStringList hits;
    for (const auto &[label, value] : secrets) {
        const QByteArray raw = value.toUtf8();
        // A JSON string literal of the value without its quotes.
        const QByteArray jsonEscaped = QJsonDocument::fromVariant(QVariantList {value})
                                           .toJson(QJsonDocument::Compact)
                                           .mid(2)
                                           .chopped(2);
        const QList<QPair<QString, QByteArray>> forms = {
            {QStringLiteral("as written"), raw},
            {QStringLiteral("percent-encoded"), QUrl::toPercentEncoding(value)},
            {QStringLiteral("Base64"), raw.toBase64(QByteArray::OmitTrailingEquals)},
            {QStringLiteral("JSON-escaped"), jsonEscaped},
        };
        for (const Item &item : m_items) {
            for (const auto &[form, bytes] : forms) {
                if (!bytes.isEmpty() && item.content.contains(bytes)) {
                    hits << QStringLiteral("%1: %2 (%3)").arg(item.name, label, form);
                    break;
                }
            }
        }
    }
    return hits;
}

} // namespace vernalo::test
