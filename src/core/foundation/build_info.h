#pragma once

#include <QString>

namespace vernalo::buildinfo {

// Running version from the project version, e.g. "0.1.0".
QString version();
// Commit count at configure time, "-" when it was unknown.
QString buildNumber();

QString defaultBackendURL();
QString defaultAuthServiceURL();
QString defaultUpdateManifestURL();
QString defaultSharedAPIKey();

} // namespace vernalo::buildinfo
