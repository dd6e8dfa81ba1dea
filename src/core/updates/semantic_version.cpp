#include "updates/semantic_version.h"

#include <limits>
#include <optional>
#include <QList>
#include <QStringList>

namespace vernalo {

namespace {

// A whole decimal number with an optional sign and nothing else around it.
std::optional<qint64> parseWholeNumber(QStringView text)
{
    bool negative = false;
    if (!text.isEmpty() && (text.front() == u'+' || text.front() == u'-')) {
        negative = text.front() == u'-';
        text = text.mid(1);
    }
    if (text.isEmpty())
        return std::nullopt;
    qint64 value = 0;
    for (QChar c : text) {
        if (c < u'0' || c > u'9')
            return std::nullopt;
        const int digit = c.unicode() - u'0';
        if (value > (std::numeric_limits<qint64>::max() - digit) / 10)
            return std::nullopt; // too large to be a number at all
        value = value * 10 + digit;
    }
    return negative ? -value : value;
}

QList<qint64> numericParts(const QString &version)
{
    QList<qint64> parts;
    for (const QStringView part : QStringView(version).split(u'.', Qt::SkipEmptyParts)) {
        if (const auto number = parseWholeNumber(part))
            parts.append(*number);
    }
    return parts;
}

} // namespace

int compareSemanticVersion(const QString &a, const QString &b)
{
    const QList<qint64> left = numericParts(a);
    const QList<qint64> right = numericParts(b);
    const qsizetype count = std::max(left.size(), right.size());
    for (qsizetype i = 0; i < count; ++i) {
        const qint64 x = i < left.size() ? left.at(i) : 0;
        const qint64 y = i < right.size() ? right.at(i) : 0;
        if (x != y)
            return x > y ? 1 : -1;
    }
    return 0;
}

} // namespace vernalo
