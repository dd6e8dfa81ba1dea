#pragma once

#include <functional>
#include <optional>
#include <QByteArray>
#include <QHostAddress>
#include <QJsonObject>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>
#include <QUrlQuery>

namespace vernalo::server {

// A request as the handlers see it, independent of the HTTP server class, so handlers can be
// driven directly.
struct HttpRequest
{
    QByteArray method;
    QString path;
    QUrlQuery query;
    QList<QPair<QByteArray, QByteArray>> headers;
    QByteArray body;
    QHostAddress remoteAddress;

    // Value of a header by case-insensitive name; empty when absent.
    QByteArray header(const QByteArray &name) const;
};

struct HttpReply
{
    int status = 200;
    QByteArray body;
    QByteArray contentType = "application/json";
    QList<QPair<QByteArray, QByteArray>> headers;

    static HttpReply json(int status, const QJsonObject &object);
    // {"error": message}: the text both the STT and the auth clients show to the user.
    static HttpReply error(int status, const QString &message);
};

// Matches "METHOD /literal/{}/literal" patterns; each {} captures one non-empty segment. A path
// that exists under another method answers 405 with an Allow header, an unknown path 404.
class HttpRouter
{
public:
    using Handler = std::function<HttpReply(const HttpRequest &, const QStringList &args)>;

    void add(const QByteArray &method, const QString &pattern, Handler handler);
    HttpReply dispatch(const HttpRequest &request) const;

private:
    struct Route
    {
        QByteArray method;
        QStringList segments;
        Handler handler;
    };
    static std::optional<QStringList> match(const QStringList &pattern, const QStringList &path);

    QList<Route> m_routes;
};

} // namespace vernalo::server
