#include "host_policy.h"

namespace vernalo::server {

namespace {

QString hostName(const QHostAddress &address)
{
    return address.protocol() == QAbstractSocket::IPv6Protocol
        ? QLatin1Char('[') + address.toString() + QLatin1Char(']')
        : address.toString();
}

// "name", "name:port", "[v6]" or "[v6]:port" without the port, lower case.
QString withoutPort(const QString &host)
{
    if (host.startsWith(QLatin1Char('['))) {
        const qsizetype close = host.indexOf(QLatin1Char(']'));
        const QString rest = host.mid(close + 1);
        if (close < 0 || (!rest.isEmpty() && !rest.startsWith(QLatin1Char(':'))))
            return {};
        return host.left(close + 1).toLower();
    }
    return host.section(QLatin1Char(':'), 0, 0).toLower();
}

QString normalOrigin(const QString &origin)
{
    return origin.trimmed().toLower();
}

} // namespace

HostPolicy::HostPolicy(const QHostAddress &bindAddress, const QStringList &extraHosts,
                       const QStringList &allowedOrigins)
{
    m_hosts = {QStringLiteral("127.0.0.1"), QStringLiteral("localhost"), QStringLiteral("[::1]")};
    if (!bindAddress.isNull() && bindAddress != QHostAddress::Any &&
        bindAddress != QHostAddress::AnyIPv6 && bindAddress != QHostAddress::AnyIPv4)
        m_hosts.insert(hostName(bindAddress));
    for (const QString &host : extraHosts)
        m_hosts.insert(withoutPort(host.trimmed()));
    for (const QString &origin : allowedOrigins)
        m_origins.insert(normalOrigin(origin));
}

std::optional<HttpReply> HostPolicy::check(const QByteArray &host, const QByteArray &origin) const
{
    const QString name = withoutPort(QString::fromLatin1(host).trimmed());
    if (name.isEmpty() || !m_hosts.contains(name))
        return HttpReply::error(
            421, QStringLiteral("Tuntematon palvelinnimi: ") + QString::fromLatin1(host).left(100));
    if (!origin.isEmpty() && !m_origins.contains(normalOrigin(QString::fromLatin1(origin))))
        return HttpReply::error(403,
                                QStringLiteral("Selaimen lähde ei ole sallittu: ") +
                                    QString::fromLatin1(origin).left(100));
    return std::nullopt;
}

} // namespace vernalo::server
