#include "foundation/transport_security.h"

#include <QHostAddress>
#include <QUrl>

namespace vernalo {

bool isUnencryptedRemote(const QString &address)
{
    const QUrl url(address.trimmed());
    // QUrl keeps schemes in lower case, whatever was typed.
    if (url.scheme() != u"http")
        return false;
    const QString host = url.host();
    if (host.isEmpty() || host == u"localhost")
        return false;
    const QHostAddress ip(host);
    return ip.isNull() || !ip.isLoopback();
}

} // namespace vernalo
