#pragma once

#include <QString>

namespace vernalo {

// The program's own plain-text log: "<seconds since 1970> <message>\n" lines appended on a
// worker thread, so a caller never waits for the disk. No levels, no rotation.
class AppLog
{
public:
    AppLog() = delete;

    // Queues one line and returns at once.
    static void write(const QString &message);
    // $XDG_STATE_HOME/Vernalo/desktop.log, falling back to ~/.local/state, then the temp folder.
    static QString currentLogURL();
    // The log or its last maxBytes bytes, after every line queued before this call. A tail cut
    // inside a multi-byte character starts with U+FFFD; a whole file that is not UTF-8 gives "".
    // Never call it from the log thread itself.
    static QString snapshot(qint64 maxBytes);
    // Waits until every queued line is on disk (tests, shutdown).
    static void flush();
    // A file that would grow past this becomes desktop.log.1 (replacing the older one) and a
    // new file starts; snapshot() reads across both.
    static constexpr qint64 kDefaultMaxFileBytes = 4 * 1024 * 1024;
    static void setMaxFileBytes(qint64 bytes);
    static QString previousLogURL() { return currentLogURL() + QStringLiteral(".1"); }

    // Formats one line's time stamp: shortest round-trip decimal, always with a fraction.
    static QString formatTimestamp(double secondsSince1970);
    // The tail rule of snapshot() on bytes already read.
    static QString decodeTail(const QByteArray &content, qint64 maxBytes);
};

} // namespace vernalo
