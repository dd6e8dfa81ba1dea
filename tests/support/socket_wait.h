#pragma once

#include <functional>

namespace vernalo::test {

// Runs the event loop until `condition` holds or `timeoutMs` of real time pass, waking on each
// event rather than polling on a fixed step, so loopback I/O is awaited at its own pace. Only
// for real socket traffic; timers of the code under test run on a FakeClock.
bool waitUntil(const std::function<bool()> &condition, int timeoutMs = 10000);

} // namespace vernalo::test
