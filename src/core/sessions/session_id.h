#pragma once

#include <optional>
#include <QString>

namespace vernalo {

// The backend's session ID is also the stem of the history file and of exported files, so it
// must never be able to name a path outside the folder it is written to. Accepted: 1 to 128
// ASCII letters, digits, '-', '_' and '.', starting with a letter or digit, with no "..".
// Every ID the backend hands out (UUIDs in either case, prefixed or time-ordered IDs) passes.
bool isSafeSessionId(const QString &id);

// Why an ID is refused, in English for the log; no value when it is safe.
std::optional<QString> sessionIdProblem(const QString &id);

// An ID as it may appear inside one log line: control characters escaped, long IDs cut.
QString sessionIdForLog(const QString &id);

} // namespace vernalo
