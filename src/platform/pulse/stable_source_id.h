#pragma once

#include <QString>

namespace vernalo::pulse {

// The id of a source as the rest of the program sees it: a non-zero 32-bit hash of the
// source's name. Server indices are reused when devices come and go, and a stored preferred
// device must never open a different one.
quint32 stableSourceId(const QString &sourceName);

} // namespace vernalo::pulse
