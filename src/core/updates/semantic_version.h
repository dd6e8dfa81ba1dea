#pragma once

#include <QString>

namespace vernalo {

// Compares two dotted version strings by their numeric parts: 1 when a is newer, -1 when it is
// older, 0 when equal. Parts that are not whole decimal numbers are ignored and missing parts
// count as 0, so "1.2" equals "1.2.0", "1.10" is newer than "1.9" and "1.2.3-beta" reads as 1.2.
int compareSemanticVersion(const QString &a, const QString &b);

} // namespace vernalo
