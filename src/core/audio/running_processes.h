#pragma once

#include <QString>

namespace vernalo {

// Whether a process runs whose program is `binary` (the name the sound server reports as the
// client's process binary), by the first word of its command line or, for kernel-shortened
// names, its 15-character comm. A meeting application that has not connected to the sound
// server yet is running by this test. `procRoot` is /proc outside tests.
bool isProcessRunning(const QString &binary, const QString &procRoot = QStringLiteral("/proc"));

} // namespace vernalo
