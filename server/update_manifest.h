#pragma once

#include <optional>
#include <QDateTime>
#include <QJsonObject>
#include <QString>

namespace vernalo::server {

// The update manifest the client checks: this build's own version by default (so a client of
// the same build sees no update), or a file given on the command line.
class UpdateManifest
{
public:
    static QJsonObject generated(const QDateTime &publishedAt);
    // The file's JSON object; no value with *error unless it is an object with a string
    // "version".
    static std::optional<QJsonObject> load(const QString &path, QString *error);
};

} // namespace vernalo::server
