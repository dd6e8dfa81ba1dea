#pragma once

#include <QString>

namespace vernalo::server {

// The reference server's own plain-text log, apart from the client's: "<seconds since 1970>
// <message>\n" lines appended to one file (by default server.log in the data folder). Lines
// written before a file is opened, or after it is closed, are dropped. Safe from any thread.
class ServerLog
{
public:
    ServerLog() = delete;

    // Appends from now on to `path`, creating its folder; false with *error when it cannot be
    // opened. Replaces any file opened before.
    static bool open(const QString &path, QString *error = nullptr);
    static void close();
    // The file lines go to; empty when none is open.
    static QString path();

    static void write(const QString &message);
};

} // namespace vernalo::server
