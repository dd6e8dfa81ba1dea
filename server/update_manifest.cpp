#include "update_manifest.h"

#include "build_config.h"
#include "wire/json_fields.h"
#include "wire/wire_coding.h"

#include <QFile>

namespace vernalo::server {

AppUpdateManifest UpdateManifest::generated(const QDateTime &publishedAt)
{
    AppUpdateManifest manifest;
    manifest.app = QStringLiteral("Vernalo");
    manifest.channel = QStringLiteral("stable");
    manifest.version = QStringLiteral(VERNALO_VERSION);
    manifest.buildNumber = QStringLiteral(VERNALO_BUILD_NUMBER);
    manifest.publishedAt = toIso8601(publishedAt);
    manifest.minimumSystemVersion = QStringLiteral("Debian 12");
    return manifest;
}

std::optional<AppUpdateManifest> UpdateManifest::load(const QString &path, QString *error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("cannot read update manifest ") + path;
        return std::nullopt;
    }
    // Refused at start rather than served: a manifest the client cannot read fails every
    // update check.
    QString reason;
    auto manifest = wire::decode<AppUpdateManifest>(file.readAll(), &reason);
    if (!manifest)
        *error =
            QStringLiteral("update manifest %1 is not one the client reads: %2").arg(path, reason);
    return manifest;
}

} // namespace vernalo::server
