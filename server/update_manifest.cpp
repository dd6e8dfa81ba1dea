#include "update_manifest.h"

#include "foundation/build_info.h"
#include "foundation/json_fields.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonParseError>

namespace vernalo::server {

QJsonObject UpdateManifest::generated(const QDateTime &publishedAt)
{
    return {{QStringLiteral("app"), QStringLiteral("Vernalo")},
            {QStringLiteral("channel"), QStringLiteral("stable")},
            {QStringLiteral("version"), buildinfo::version()},
            {QStringLiteral("buildNumber"), buildinfo::buildNumber()},
            {QStringLiteral("publishedAt"), toIso8601(publishedAt)},
            {QStringLiteral("minimumSystemVersion"), QStringLiteral("Debian 12")}};
}

std::optional<QJsonObject> UpdateManifest::load(const QString &path, QString *error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("cannot read update manifest ") + path;
        return std::nullopt;
    }
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll(), &parseError);
    if (parseError.error != QJsonParseError::NoError || !document.isObject() ||
        !document.object().value(QStringLiteral("version")).isString()) {
        *error = QStringLiteral("update manifest needs a JSON object with a string \"version\": ") +
            path;
        return std::nullopt;
    }
    return document.object();
}

} // namespace vernalo::server
