#include "http_router.h"

#include <QJsonDocument>

namespace vernalo::server {

QByteArray HttpRequest::header(const QByteArray &name) const
{
    for (const auto &[key, value] : headers) {
        if (key.compare(name, Qt::CaseInsensitive) == 0)
            return value;
    }
    return {};
}

HttpReply HttpReply::json(int status, const QJsonObject &object)
{
    HttpReply reply;
    reply.status = status;
    reply.body = QJsonDocument(object).toJson(QJsonDocument::Compact);
    return reply;
}

HttpReply HttpReply::error(int status, const QString &message)
{
    return json(status, QJsonObject {{QStringLiteral("error"), message}});
}

namespace {
QStringList splitPath(const QString &path)
{
    return path.split(QLatin1Char('/'), Qt::SkipEmptyParts);
}
} // namespace

void HttpRouter::add(const QByteArray &method, const QString &pattern, Handler handler)
{
    m_routes.append(Route {method, splitPath(pattern), std::move(handler)});
}

std::optional<QStringList> HttpRouter::match(const QStringList &pattern, const QStringList &path)
{
    if (pattern.size() != path.size())
        return std::nullopt;
    QStringList args;
    for (qsizetype i = 0; i < pattern.size(); ++i) {
        if (pattern[i] == QLatin1String("{}"))
            args.append(path[i]);
        else if (pattern[i] != path[i])
            return std::nullopt;
    }
    return args;
}

HttpReply HttpRouter::dispatch(const HttpRequest &request) const
{
    const QStringList path = splitPath(request.path);
    QByteArrayList allowed;
    for (const Route &route : m_routes) {
        const auto args = match(route.segments, path);
        if (!args)
            continue;
        if (route.method == request.method)
            return route.handler(request, *args);
        if (!allowed.contains(route.method))
            allowed.append(route.method);
    }
    if (!allowed.isEmpty()) {
        HttpReply reply =
            HttpReply::error(405,
                             QStringLiteral("Menetelmä %1 ei ole sallittu osoitteessa %2")
                                 .arg(QString::fromLatin1(request.method), request.path));
        reply.headers.append({QByteArrayLiteral("Allow"), allowed.join(", ")});
        return reply;
    }
    return HttpReply::error(404, QStringLiteral("Tuntematon osoite: ") + request.path);
}

} // namespace vernalo::server
