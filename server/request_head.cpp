#include "request_head.h"

#include <QList>

namespace vernalo::server {

namespace {

HeadVerdict badRequest(const QString &message)
{
    return HeadVerdict::reject(400, "Bad Request", message);
}

bool hasToken(const QByteArray &value, const QByteArray &token)
{
    for (const QByteArray &part : value.split(',')) {
        if (part.trimmed().compare(token, Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

bool isDigits(const QByteArray &text)
{
    if (text.isEmpty() || text.size() > 18)
        return false;
    return std::all_of(text.cbegin(), text.cend(), [](char c) { return c >= '0' && c <= '9'; });
}

// Bare CR or LF: the server's parser accepts LF-only lines, where the guard's count would drift.
bool hasBareLineBreak(const QByteArray &head)
{
    for (qsizetype i = 0; i < head.size(); ++i) {
        if (head[i] == '\r' && (i + 1 >= head.size() || head[i + 1] != '\n'))
            return true;
        if (head[i] == '\n' && (i == 0 || head[i - 1] != '\r'))
            return true;
    }
    return false;
}

} // namespace

HeadVerdict HeadVerdict::reject(int status, const QByteArray &reason, const QString &message)
{
    HeadVerdict verdict;
    verdict.kind = Kind::Reject;
    verdict.status = status;
    verdict.reason = reason;
    verdict.message = message;
    return verdict;
}

qsizetype requestHeadEnd(const QByteArray &bytes)
{
    const qsizetype lf = bytes.indexOf("\n\n");
    const qsizetype crlf = bytes.indexOf("\n\r\n");
    if (lf < 0 && crlf < 0)
        return -1;
    if (crlf < 0 || (lf >= 0 && lf < crlf))
        return lf + 2;
    return crlf + 3;
}

HeadVerdict judgeRequestHead(const QByteArray &head, qint64 maxBodyBytes)
{
    if (hasBareLineBreak(head))
        return badRequest(QStringLiteral("Pyynnön rivit pitää päättää CRLF-merkeillä"));
    const QList<QByteArray> lines = head.split('\n');
    const QByteArray method = lines.constFirst().left(lines.constFirst().indexOf(' '));
    int lengthHeaders = 0;
    QByteArray length;
    QList<QByteArray> encodings;
    QByteArray upgrade;
    QByteArray connection;
    for (qsizetype i = 1; i < lines.size(); ++i) {
        if (lines[i].size() <= 1)
            continue;
        const QByteArray line = lines[i].chopped(1); // the CR
        if (line.startsWith(' ') || line.startsWith('\t'))
            return badRequest(QStringLiteral("Jatkettuja otsakerivejä ei tueta"));
        const qsizetype colon = line.indexOf(':');
        const QByteArray name = line.left(colon).toLower();
        if (colon <= 0 || name.contains(' ') || name.contains('\t'))
            return badRequest(QStringLiteral("Virheellinen otsakerivi"));
        const QByteArray value = line.mid(colon + 1).trimmed();
        if (name == "content-length") {
            ++lengthHeaders;
            length = value;
        } else if (name == "transfer-encoding") {
            encodings.append(value);
        } else if (name == "upgrade") {
            upgrade = value;
        } else if (name == "connection") {
            connection += ',' + value;
        }
    }
    if (lengthHeaders > 1)
        return badRequest(QStringLiteral("Toistuva Content-Length"));
    if (lengthHeaders == 1 && !isDigits(length))
        return badRequest(QStringLiteral("Virheellinen Content-Length"));
    if (!encodings.isEmpty()) {
        if (lengthHeaders > 0 || encodings.size() > 1 ||
            encodings.constFirst().compare("chunked", Qt::CaseInsensitive) != 0)
            return badRequest(QStringLiteral("Ristiriitainen Transfer-Encoding"));
        return HeadVerdict::reject(411, "Length Required",
                                   QStringLiteral("Pyynnön rungon pituus puuttuu"));
    }
    const qint64 bodyLength = length.toLongLong();
    if (method == "CONNECT")
        return badRequest(QStringLiteral("CONNECT ei ole tuettu"));
    if (!upgrade.isEmpty() && hasToken(connection, "upgrade")) {
        // The rest of the connection is WebSocket frames, which have their own size limit; any
        // body the server would still buffer first is refused.
        if (bodyLength > 0 || method != "GET" || upgrade.compare("websocket", Qt::CaseInsensitive))
            return badRequest(QStringLiteral("Vain WebSocket-päivitys ilman runkoa on tuettu"));
        HeadVerdict verdict;
        verdict.kind = HeadVerdict::Kind::Upgrade;
        return verdict;
    }
    if (bodyLength > maxBodyBytes)
        return HeadVerdict::reject(
            413, "Payload Too Large",
            QStringLiteral("Pyynnön runko on liian suuri (enintään %1 tavua)").arg(maxBodyBytes));
    HeadVerdict verdict;
    verdict.bodyLength = bodyLength;
    return verdict;
}

} // namespace vernalo::server
