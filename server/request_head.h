#pragma once

#include <QByteArray>
#include <QString>

namespace vernalo::server {

// What the connection guard does with one complete request head. The rules are stricter than
// the HTTP server's own parser wherever the two could read the same bytes differently, so the
// guard never counts a body the server reads another way.
struct HeadVerdict
{
    enum class Kind { Body, Upgrade, Reject };
    Kind kind = Kind::Body;
    qint64 bodyLength = 0;
    int status = 0;
    QByteArray reason;
    QString message;

    static HeadVerdict reject(int status, const QByteArray &reason, const QString &message);
};

// Where a head ends in `bytes` (after its blank line, as the HTTP server would see it), or -1.
qsizetype requestHeadEnd(const QByteArray &bytes);

HeadVerdict judgeRequestHead(const QByteArray &head, qint64 maxBodyBytes);

} // namespace vernalo::server
