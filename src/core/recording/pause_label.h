#pragma once

#include <QString>

namespace vernalo {

// The paused-time label: "mm:ss" below an hour, "h:mm:ss" from an hour on. Fractions are cut
// off and negative totals count as zero.
QString pauseDurationLabel(double seconds);

} // namespace vernalo
