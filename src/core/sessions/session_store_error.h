#pragma once

#include <QString>

namespace vernalo {

// Why a history operation failed. description() is the sentence for the user, detail the
// technical reason for the log.
struct SessionStoreError
{
    enum class Kind {
        UnsafeId, // the ID could name a path outside the history folder; nothing was touched
        WriteFailed, // the folder could not be made or the file not written
        RemoveFailed, // a file exists but could not be removed
        ListFailed, // the history folder exists but cannot be read
    };

    Kind kind;
    QString sessionId;
    QString detail;

    QString description() const;
};

} // namespace vernalo
