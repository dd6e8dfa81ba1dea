#pragma once

#include "sessions/saved_session.h"
#include "sessions/session_store_error.h"

#include <optional>
#include <QList>
#include <QString>

namespace vernalo {

class SessionSearchIndex;

// The local history: one JSON file per finished recording, named after its session ID, in
// <application data>/Vernalo-Mac/sessions. Nothing is cached; every call reads the disk.
// Main thread only. Operations that can fail return the error, or no value on success.
class SessionHistoryStore
{
public:
    // The user's history folder (created when missing; a failure shows on the first save).
    SessionHistoryStore();
    // A history kept in another folder (tests, benchmarks, separate profiles).
    explicit SessionHistoryStore(QString directory);

    // <application data>/Vernalo-Mac/sessions, or the same under the temporary folder when
    // there is no application data folder.
    static QString defaultDirectory();

    const QString &directory() const { return m_directory; }

    // Keeps `index` in step with every save and delete from now on (null: none). The store
    // does not own it; call SessionSearchIndex::synchronize() once to catch up with the files.
    void attachSearchIndex(SessionSearchIndex *index) { m_index = index; }
    SessionSearchIndex *searchIndex() const { return m_index; }

    // Every listable file's ID with its stamp (see fileStamp()), in directory order.
    QList<QPair<QString, QString>> sessionFileStamps() const;
    // Where the session of a safe ID lives.
    QString filePath(const QString &id) const;

    // Writes the session atomically as <id>.json, replacing an older file of that ID. An ID
    // that is not a safe file-name stem is refused before anything is written.
    [[nodiscard]] std::optional<SessionStoreError> save(const SavedSession &session) const;

    // Every readable session, newest `endedAt` first; sessions ending at the same moment keep
    // the directory's order. Skipped and left on disk: hidden files, names not ending exactly
    // in ".json", files that do not decode, and files whose recorded ID is not their own name
    // (such an entry could be neither loaded nor deleted by its ID).
    QList<SavedSessionListItem> list() const;

    // No value when the ID is unsafe, the file is missing or it does not decode.
    std::optional<SavedSession> load(const QString &id) const;

    // Removes <id>.json; an unknown ID is no error.
    [[nodiscard]] std::optional<SessionStoreError> deleteSession(const QString &id) const;

    // Removes every visible file named exactly *.json, undecodable ones included; other files
    // stay. Stops at the first failure, keeping what was removed before it.
    [[nodiscard]] std::optional<SessionStoreError> deleteAll() const;

private:
    bool ensureDirectory() const;
    // Session files in directory order: full path and stem.
    QList<QPair<QString, QString>> sessionFiles() const;

    QString m_directory;
    SessionSearchIndex *m_index = nullptr;
};

} // namespace vernalo
