#pragma once

#include "sessions/saved_session.h"

namespace vernalo::test {

// The crash test writes three sessions over and over; each version of each has one exact,
// reproducible content (and a size that varies from a few hundred bytes to ~100 kB), so the
// checker can tell a whole old or new file from anything torn or mixed.
inline constexpr int kCrashTestSlots = 3;
QString crashTestSessionId(int slot);
SavedSession crashTestSession(int slot, qint64 version);
// The version a stored session claims to be, or -1.
qint64 crashTestVersion(const SavedSession &session);

} // namespace vernalo::test
