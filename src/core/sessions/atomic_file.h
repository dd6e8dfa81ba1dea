#pragma once

#include <optional>
#include <QByteArray>
#include <QString>

namespace vernalo {

// Replaces the file at `path` with `content` so that a crash or power cut at any moment leaves
// either the old file or the new one, never a mix: the bytes go to a temporary file in the
// same folder, are flushed to disk, renamed over the target, and then the folder itself is
// flushed so the rename survives. The folder must exist. Returns why it failed (English, for
// the log), or no value on success.
std::optional<QString> writeFileAtomically(const QString &path, const QByteArray &content);

// Flushes a folder's entries (renames, removals) to disk. Returns why it failed, if it did.
std::optional<QString> syncDirectory(const QString &directory);

} // namespace vernalo
