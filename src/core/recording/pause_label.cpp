#include "recording/pause_label.h"

#include <cmath>

namespace vernalo {

QString pauseDurationLabel(double seconds)
{
    const qint64 total =
        std::isfinite(seconds) && seconds > 0 ? static_cast<qint64>(std::floor(seconds)) : 0;
    const auto two = [](qint64 value) { return QString::number(value).rightJustified(2, u'0'); };
    if (total < 3600)
        return two(total / 60) + u':' + two(total % 60);
    return QString::number(total / 3600) + u':' + two(total / 60 % 60) + u':' + two(total % 60);
}

} // namespace vernalo
