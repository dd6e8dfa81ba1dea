#include "sessions/session_id.h"

namespace vernalo {

namespace {
constexpr qsizetype kMaxSessionIdLength = 128;

bool isAsciiAlphanumeric(QChar c)
{
    const char16_t u = c.unicode();
    return (u >= u'a' && u <= u'z') || (u >= u'A' && u <= u'Z') || (u >= u'0' && u <= u'9');
}
} // namespace

std::optional<QString> sessionIdProblem(const QString &id)
{
    if (id.isEmpty())
        return QStringLiteral("empty");
    if (id.size() > kMaxSessionIdLength)
        return QStringLiteral("longer than %1 characters").arg(kMaxSessionIdLength);
    if (!isAsciiAlphanumeric(id.front()))
        return QStringLiteral("must start with a letter or digit");
    for (const QChar c : id) {
        if (!isAsciiAlphanumeric(c) && c != u'-' && c != u'_' && c != u'.')
            return QStringLiteral("character U+%1 not allowed")
                .arg(QString::number(c.unicode(), 16).toUpper().rightJustified(4, u'0'));
    }
    if (id.contains(QStringLiteral("..")))
        return QStringLiteral("contains \"..\"");
    return std::nullopt;
}

bool isSafeSessionId(const QString &id)
{
    return !sessionIdProblem(id).has_value();
}

QString sessionIdForLog(const QString &id)
{
    constexpr qsizetype kShown = 160;
    QString shown;
    for (const QChar c : id.left(kShown)) {
        if (c.isPrint() && c != u'\\')
            shown.append(c);
        else
            shown.append(QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QLatin1Char('0')));
    }
    if (id.size() > kShown)
        shown.append(QStringLiteral("..."));
    return shown;
}

} // namespace vernalo
