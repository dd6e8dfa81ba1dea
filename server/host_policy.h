#pragma once

#include "http_router.h"

#include <optional>
#include <QHostAddress>
#include <QSet>

namespace vernalo::server {

// Refuses requests addressed to a host name this server does not go by, and browser requests
// from pages it does not know, so a web page whose name is rebound to a loopback address cannot
// talk to it.
class HostPolicy
{
public:
    HostPolicy(const QHostAddress &bindAddress, const QStringList &extraHosts,
               const QStringList &allowedOrigins);

    // The answer to send instead, or nothing when the request may go on.
    std::optional<HttpReply> check(const QByteArray &host, const QByteArray &origin) const;

private:
    QSet<QString> m_hosts;
    QSet<QString> m_origins;
};

} // namespace vernalo::server
