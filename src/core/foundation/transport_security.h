#pragma once

#include <QString>

namespace vernalo {

// An http:// address of another machine: what is sent there (tokens, keys, speech) crosses the
// network readable by anyone on the path. Loopback stays quiet; the scheme is matched in any
// case.
bool isUnencryptedRemote(const QString &address);

} // namespace vernalo
