#pragma once

#include "sessions/saved_session.h"

#include <QDateTime>
#include <QList>
#include <QString>

namespace vernalo {

class SessionHistoryStore;

// One matching segment of a stored session.
struct SessionSearchHit
{
    QString sessionId;
    QDateTime endedAt;
    int segmentIndex = 0;
    QDateTime segmentTime;
    // The segment's text around the match, cut with "…"; every matched word is enclosed in
    // kMatchOpen and kMatchClose.
    QString snippet;

    static constexpr QChar kMatchOpen = QChar(0x02);
    static constexpr QChar kMatchClose = QChar(0x03);
    // The snippet with the marks replaced; with `html` the text is escaped first, so a
    // transcript can never inject markup into a rich-text label.
    QString markedSnippet(const QString &open, const QString &close, bool html) const;
};

// What synchronize() found.
struct SearchIndexSyncReport
{
    bool rebuilt = false; // the index file was missing, unreadable, corrupt or of another version
    int indexed = 0; // sessions (re)read from their files
    int removed = 0; // sessions whose files are gone
};

// A full-text index of the history's transcripts in one SQLite file (FTS5, diacritics and case
// folded, prefix matching). The JSON files stay the only truth: every row carries the stamp
// (size, times, inode) of the file it was read from, and synchronize() re-reads any file whose
// stamp differs, so an index left behind by a crash, a hand-edited file or a removed one is
// caught up at the next start. A corrupt or foreign index file is thrown away and rebuilt.
// One instance per thread: the database connection belongs to the thread that made it.
class SessionSearchIndex
{
public:
    // Opens (or creates) the index at `path`; a file that is not a usable index is replaced.
    explicit SessionSearchIndex(QString path);
    ~SessionSearchIndex();
    SessionSearchIndex(const SessionSearchIndex &) = delete;
    SessionSearchIndex &operator=(const SessionSearchIndex &) = delete;

    // The index beside a sessions folder: <parent of sessions>/search-index.sqlite.
    static QString pathBeside(const QString &sessionsDirectory);

    const QString &path() const { return m_path; }
    bool isUsable() const { return m_usable; }
    bool wasRebuilt() const { return m_rebuilt; }

    // Brings the index in line with the store's files, in one transaction.
    SearchIndexSyncReport synchronize(const SessionHistoryStore &store);

    // Replaces what the index holds for a session with what its file holds: `fileBytes` are
    // the file's bytes (a valid history file), `stamp` its stamp after the write. Empty stamp:
    // the file could not be inspected, so the next synchronize reads it again.
    void put(const SavedSession &session, const QString &stamp);
    void remove(const QString &id);

    // Segments matching every word of `text` (see searchTerms()), best first by relevance (bm25)
    // among the newest kRankedCandidates (or `limit`, when larger) matching segments, ties newest
    // first.
    QList<SessionSearchHit> search(const QString &text, int limit = 50) const;
    static constexpr int kRankedCandidates = 500;

private:
    bool openDatabase();
    bool hasUsableSchema();
    bool createSchema();
    void discardFile();
    bool putRow(const SavedSession &session, const QString &stamp);
    bool removeRow(const QString &id);

    QString m_path;
    QString m_connection;
    bool m_usable = false;
    bool m_rebuilt = false;
};

} // namespace vernalo
