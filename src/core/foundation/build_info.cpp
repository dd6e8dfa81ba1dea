#include "foundation/build_info.h"

#include "build_config.h"

namespace vernalo::buildinfo {

QString version()
{
    return QStringLiteral(VERNALO_VERSION);
}
QString buildNumber()
{
    return QStringLiteral(VERNALO_BUILD_NUMBER);
}
QString defaultBackendURL()
{
    return QStringLiteral(VERNALO_DEFAULT_BACKEND_URL);
}
QString defaultAuthServiceURL()
{
    return QStringLiteral(VERNALO_DEFAULT_AUTH_URL);
}
QString defaultUpdateManifestURL()
{
    return QStringLiteral(VERNALO_DEFAULT_UPDATE_MANIFEST_URL);
}
QString defaultSharedAPIKey()
{
    return QStringLiteral(VERNALO_DEFAULT_SHARED_API_KEY);
}

} // namespace vernalo::buildinfo
