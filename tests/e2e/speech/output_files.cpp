#include "output_files.h"

#include <QDirIterator>
#include <QFile>
#include <QJsonDocument>
#include <QJsonValue>
#include <QUrl>
#include <zip.h>

namespace vernalo::test {

void OutputFileSet::addFile(const QString &path)
{
    QFile file(path);
    if (!path.endsWith(QLatin1String(".zip"), Qt::CaseInsensitive)) {
        if (file.open(QIODevice::ReadOnly))
            m_items.append({path, file.readAll()});
        return;
    }
    // An entry that cannot be read is left out: the tests count the items they expect.
    int error = 0;
    zip_t *archive = zip_open(QFile::encodeName(path).constData(), ZIP_RDONLY, &error);
    for (zip_int64_t i = 0; archive && i < zip_get_num_entries(archive, 0); ++i) {
        const auto index = static_cast<zip_uint64_t>(i);
        zip_stat_t stat;
        zip_file_t *entry = zip_stat_index(archive, index, 0, &stat) == 0
            ? zip_fopen_index(archive, index, 0)
            : nullptr;
        if (!entry)
            continue;
        QByteArray content(static_cast<qsizetype>(stat.size), Qt::Uninitialized);
        const bool whole =
            zip_fread(entry, content.data(), stat.size) == static_cast<zip_int64_t>(stat.size);
        zip_fclose(entry);
        if (whole)
            m_items.append({path + QLatin1Char('!') + QString::fromUtf8(stat.name), content});
    }
    if (archive)
        zip_close(archive);
}

void OutputFileSet::addFolder(const QString &path)
{
    QDirIterator it(path, QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        addFile(it.next());
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
