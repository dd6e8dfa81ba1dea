#pragma once

#include <QString>

namespace vernalo {

// What identifies one version of a file without reading it: size, modification and change
// times in nanoseconds and the inode. An atomic replace always gives a new inode, and an edit
// in place moves the times, so a stamp that is unchanged means the content the index read.
// Empty when the file cannot be inspected.
QString fileStamp(const QString &path);

// The modification time a stamp holds, in nanoseconds; 0 for an empty or foreign stamp.
qint64 stampModifiedNs(const QString &stamp);

} // namespace vernalo
