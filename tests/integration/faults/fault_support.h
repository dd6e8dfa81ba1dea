#pragma once

#include "support/reference_backend.h"

#include <memory>
#include <QList>
#include <QString>

namespace vernalo::test {

// The reference server as a child on the data folder with the script recognizer and the user
// faults@vernalo.local (password "faults").
std::unique_ptr<ServerProcess> faultServer(const QString &dataDir, const QString &scriptPath);

// A recognition script whose finals are "segment 1", "segment 2", ... one per second of audio,
// so a lost, repeated or reordered final shows as a gap or a repeat in the numbers.
QByteArray numberedScript(int seconds);
// The N of "segment N"; 0 for any other text.
int segmentNumber(const QString &text);

// Iteration counts: the test default, raised by the soak run through the environment.
int iterationsFrom(const char *variable, int fallback);
// The seed of a run: VERNALO_FAULT_SEED when set, else a fresh one. Printed by the caller.
quint32 faultSeed();

// min / median / max of measured values, as one line for the run's output.
QString figureLine(const QString &name, QList<double> values, const QString &unit);

} // namespace vernalo::test
