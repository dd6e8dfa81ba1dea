#pragma once

#include <optional>
#include <QJsonObject>
#include <QString>

namespace vernalo {

// The published description of the newest desktop build. Only `version` and `downloadURL` steer
// the update check; the rest is read so that a malformed manifest is noticed.
struct AppUpdateManifest
{
    struct Artifact
    {
        QString file;
        std::optional<QString> sha256;
        std::optional<qint64> size;
        std::optional<QString> url;

        bool operator==(const Artifact &) const = default;
        QJsonObject toJson() const;
        static std::optional<Artifact> fromJson(const QJsonObject &object,
                                                QString *error = nullptr);
    };

    struct Artifacts
    {
        std::optional<Artifact> dmg;
        std::optional<Artifact> zip;

        bool operator==(const Artifacts &) const = default;
        QJsonObject toJson() const;
        static std::optional<Artifacts> fromJson(const QJsonObject &object,
                                                 QString *error = nullptr);
    };

    std::optional<QString> app;
    std::optional<QString> channel;
    QString version;
    std::optional<QString> buildNumber;
    std::optional<QString> publishedAt;
    std::optional<QString> minimumSystemVersion;
    std::optional<QString> downloadURL;
    std::optional<QString> releaseNotesURL;
    std::optional<Artifacts> artifacts;

    bool operator==(const AppUpdateManifest &) const = default;
    QJsonObject toJson() const;
    static std::optional<AppUpdateManifest> fromJson(const QJsonObject &object,
                                                     QString *error = nullptr);
};

} // namespace vernalo
