#include "wire/app_update_manifest.h"

#include "wire/json_fields.h"
#include "wire/wire_coding.h"

namespace vernalo {

using wire::insertOptional;

QJsonObject AppUpdateManifest::Artifact::toJson() const
{
    QJsonObject object {{QStringLiteral("file"), file}};
    insertOptional(object, "sha256", sha256);
    insertOptional(object, "size", size);
    insertOptional(object, "url", url);
    return object;
}

std::optional<AppUpdateManifest::Artifact>
AppUpdateManifest::Artifact::fromJson(const QJsonObject &object, QString *error)
{
    JsonReader reader(object);
    Artifact artifact;
    artifact.file = reader.requireString("file");
    artifact.sha256 = reader.optionalString("sha256");
    artifact.size = reader.optionalInt("size");
    artifact.url = reader.optionalString("url");
    return wire::finish(reader, artifact, error);
}

QJsonObject AppUpdateManifest::Artifacts::toJson() const
{
    QJsonObject object;
    if (dmg)
        object.insert(QStringLiteral("dmg"), dmg->toJson());
    if (zip)
        object.insert(QStringLiteral("zip"), zip->toJson());
    return object;
}

std::optional<AppUpdateManifest::Artifacts>
AppUpdateManifest::Artifacts::fromJson(const QJsonObject &object, QString *error)
{
    JsonReader reader(object);
    Artifacts artifacts;
    artifacts.dmg = wire::readOptionalObject<Artifact>(reader, "dmg");
    artifacts.zip = wire::readOptionalObject<Artifact>(reader, "zip");
    return wire::finish(reader, artifacts, error);
}

QJsonObject AppUpdateManifest::toJson() const
{
    QJsonObject object {{QStringLiteral("version"), version}};
    insertOptional(object, "app", app);
    insertOptional(object, "channel", channel);
    insertOptional(object, "buildNumber", buildNumber);
    insertOptional(object, "publishedAt", publishedAt);
    insertOptional(object, "minimumSystemVersion", minimumSystemVersion);
    insertOptional(object, "downloadURL", downloadURL);
    insertOptional(object, "releaseNotesURL", releaseNotesURL);
    if (artifacts)
        object.insert(QStringLiteral("artifacts"), artifacts->toJson());
    return object;
}

std::optional<AppUpdateManifest> AppUpdateManifest::fromJson(const QJsonObject &object,
                                                             QString *error)
{
    JsonReader reader(object);
    AppUpdateManifest manifest;
    manifest.app = reader.optionalString("app");
    manifest.channel = reader.optionalString("channel");
    manifest.version = reader.requireString("version");
    manifest.buildNumber = reader.optionalString("buildNumber");
    manifest.publishedAt = reader.optionalString("publishedAt");
    manifest.minimumSystemVersion = reader.optionalString("minimumSystemVersion");
    manifest.downloadURL = reader.optionalString("downloadURL");
    manifest.releaseNotesURL = reader.optionalString("releaseNotesURL");
    manifest.artifacts = wire::readOptionalObject<Artifacts>(reader, "artifacts");
    return wire::finish(reader, manifest, error);
}

} // namespace vernalo
