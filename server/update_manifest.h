#pragma once

#include "wire/app_update_manifest.h"

#include <optional>
#include <QDateTime>
#include <QString>

namespace vernalo::server {

// The update manifest the client checks: this build's own version by default (so a client of
// the same build sees no update), or a file given on the command line.
class UpdateManifest
{
public:
    static AppUpdateManifest generated(const QDateTime &publishedAt);
    // The file's manifest; no value, with *error, unless the client's record reads it.
    static std::optional<AppUpdateManifest> load(const QString &path, QString *error);
};

} // namespace vernalo::server
