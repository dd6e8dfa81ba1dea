#include "sessions/session_search_index.h"

#include "foundation/app_log.h"
#include "sessions/search_rank.h"
#include "sessions/search_terms.h"
#include "sessions/session_file_stamp.h"
#include "sessions/session_history_store.h"
#include "sessions/session_id.h"
#include "wire/json_fields.h"

#include <algorithm>
#include <limits>
#include <QAtomicInteger>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSqlDatabase>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <sqlite3.h>
#include <utility>
#include <vector>

namespace vernalo {

namespace {
// Bumped whenever the tables or the tokenizer change; an index of another version is rebuilt.
constexpr int kSchemaVersion = 2;
// A segment's row is its session's key times this plus its index, so one session's rows form
// one rowid range that FTS5 deletes without scanning the table.
constexpr qint64 kSegmentsPerSession = qint64(1) << 20;
constexpr qint64 kMaxKey = std::numeric_limits<qint64>::max() / kSegmentsPerSession - 1;
const QDateTime kReferenceEpoch = fromReferenceSeconds(0);
// Sessions read before their rows are written, about 40 hours of speech.
constexpr qsizetype kBatchSegments = 16000;

QAtomicInteger<quint64> g_connections;

QDateTime fromStored(const QVariant &value)
{
    return value.isNull() ? QDateTime() : fromReferenceSeconds(value.toDouble());
}

bool run(QSqlQuery &query, const char *what)
{
    if (query.exec())
        return true;
    AppLog::write(QStringLiteral("search index query failed step=%1 error=%2")
                      .arg(QLatin1String(what), query.lastError().text()));
    return false;
}

// The connection's own SQLite handle (the Qt driver links the same library).
sqlite3 *handleOf(const QSqlDatabase &db)
{
    const QVariant handle = db.driver()->handle();
    if (!handle.isValid() || qstrcmp(handle.typeName(), "sqlite3*") != 0)
        return nullptr;
    return *static_cast<sqlite3 *const *>(handle.constData());
}

// One prepared statement of the connection, finalized when it goes.
class Statement
{
public:
    Statement(sqlite3 *db, const char *sql)
    {
        if (db && sqlite3_prepare_v2(db, sql, -1, &m_statement, nullptr) != SQLITE_OK)
            m_statement = nullptr;
    }
    ~Statement() { sqlite3_finalize(m_statement); }
    Statement(const Statement &) = delete;
    Statement &operator=(const Statement &) = delete;
    sqlite3_stmt *get() const { return m_statement; }

private:
    sqlite3_stmt *m_statement = nullptr;
};

qint64 firstKeyFor(const QDateTime &endedAt)
{
    return std::clamp<qint64>(endedAt.isValid() ? kReferenceEpoch.msecsTo(endedAt) : 0, 1, kMaxKey);
}

bool runText(const QSqlDatabase &db, const QString &sql, const char *what)
{
    QSqlQuery query(db);
    if (!query.prepare(sql))
        return false;
    return run(query, what);
}
} // namespace

QString SessionSearchHit::markedSnippet(const QString &open, const QString &close, bool html) const
{
    QString text = html ? snippet.toHtmlEscaped() : snippet;
    text.replace(kMatchOpen, open);
    text.replace(kMatchClose, close);
    return text;
}

SessionSearchIndex::SessionSearchIndex(QString path)
    : m_path(std::move(path))
    , m_connection(QStringLiteral("vernalo-search-%1").arg(++g_connections))
{
    m_usable = openDatabase() && hasUsableSchema();
    if (!m_usable) {
        // Nothing in here is the only copy of anything: start again from the files.
        discardFile();
        m_usable = openDatabase() && createSchema();
        m_rebuilt = true;
    }
    QFile::setPermissions(m_path, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
}

SessionSearchIndex::~SessionSearchIndex()
{
    QSqlDatabase::database(m_connection, false).close();
    QSqlDatabase::removeDatabase(m_connection);
}

QString SessionSearchIndex::pathBeside(const QString &sessionsDirectory)
{
    return QFileInfo(sessionsDirectory).absolutePath() + QStringLiteral("/search-index.sqlite");
}

bool SessionSearchIndex::openDatabase()
{
    QSqlDatabase db = QSqlDatabase::contains(m_connection)
        ? QSqlDatabase::database(m_connection, false)
        : QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_connection);
    db.setDatabaseName(m_path);
    if (!db.open()) {
        AppLog::write(
            QStringLiteral("search index open failed error=%1").arg(db.lastError().text()));
        return false;
    }
    // WAL keeps the last committed state through a killed process; losing the newest commits
    // to a power cut costs only a re-read of those files at the next start.
    runText(db, QStringLiteral("PRAGMA journal_mode=WAL"), "wal");
    runText(db, QStringLiteral("PRAGMA synchronous=NORMAL"), "synchronous");
    if (!registerSearchRank(handleOf(db))) {
        AppLog::write(QStringLiteral("search index open failed error=no full-text ranking"));
        return false;
    }
    return true;
}

bool SessionSearchIndex::hasUsableSchema()
{
    const QSqlDatabase db = QSqlDatabase::database(m_connection, false);
    QSqlQuery query(db);
    if (!query.exec(QStringLiteral("PRAGMA user_version")) || !query.next() ||
        query.value(0).toInt() != kSchemaVersion)
        return false;
    if (!query.exec(QStringLiteral("PRAGMA quick_check")) || !query.next() ||
        query.value(0).toString() != u"ok")
        return false;
    return query.exec(QStringLiteral("SELECT count(*) FROM sqlite_master WHERE type = 'table' "
                                     "AND name IN ('sessions', 'segments')")) &&
        query.next() && query.value(0).toInt() == 2;
}

bool SessionSearchIndex::createSchema()
{
    const QSqlDatabase db = QSqlDatabase::database(m_connection, false);
    // The stamp says which version of the file the rows came from; dates are kept as the
    // files write them, seconds since 2001.
    const bool created =
        runText(db,
                QStringLiteral("CREATE TABLE sessions(key INTEGER PRIMARY KEY, id TEXT NOT NULL "
                               "UNIQUE, endedAt REAL, stamp TEXT)"),
                "create sessions") &&
        runText(db,
                QStringLiteral("CREATE VIRTUAL TABLE segments USING fts5(text, at UNINDEXED, "
                               "tokenize = 'unicode61 remove_diacritics 2', prefix = '2 3 4')"),
                "create segments") &&
        runText(db, QStringLiteral("PRAGMA user_version=%1").arg(kSchemaVersion), "version");
    // A rebuild writes hundreds of thousands of rows in one transaction; flushing them in
    // 16 MB runs instead of 1 MB ones leaves FTS5 a third less merging to do.
    if (created)
        runText(db,
                QStringLiteral("INSERT INTO segments(segments, rank) VALUES('hashsize', %1)")
                    .arg(16 * 1024 * 1024),
                "hashsize");
    if (!created)
        AppLog::write(QStringLiteral("search index unusable path=%1").arg(m_path));
    return created;
}

void SessionSearchIndex::discardFile()
{
    QSqlDatabase::database(m_connection, false).close();
    bool existed = false;
    for (const char *suffix : {"", "-wal", "-shm", "-journal"})
        existed = QFile::remove(m_path + QLatin1String(suffix)) || existed;
    AppLog::write(QStringLiteral("search index rebuilt reason=%1")
                      .arg(existed ? QStringLiteral("unusable") : QStringLiteral("missing")));
}

bool SessionSearchIndex::removeRow(const QString &id)
{
    const QSqlDatabase db = QSqlDatabase::database(m_connection, false);
    QSqlQuery query(db);
    query.prepare(QStringLiteral("SELECT key FROM sessions WHERE id = ?"));
    query.addBindValue(id);
    if (!run(query, "find"))
        return false;
    if (!query.next())
        return true;
    const qint64 key = query.value(0).toLongLong();
    query.prepare(QStringLiteral("DELETE FROM segments WHERE rowid >= ? AND rowid < ?"));
    query.addBindValue(key * kSegmentsPerSession);
    query.addBindValue((key + 1) * kSegmentsPerSession);
    if (!run(query, "delete segments"))
        return false;
    query.prepare(QStringLiteral("DELETE FROM sessions WHERE key = ?"));
    query.addBindValue(key);
    return run(query, "delete session");
}

bool SessionSearchIndex::putRow(const SavedSession &session, const QString &stamp)
{
    if (!removeRow(session.id))
        return false;
    const QSqlDatabase db = QSqlDatabase::database(m_connection, false);
    QSqlQuery query(db);
    // Keys follow the end time, so rowid order is newest-session order and a search can stop
    // after the newest matches instead of ranking every one.
    const QDateTime &endedAt = session.endedAt;
    qint64 key = firstKeyFor(endedAt);
    query.prepare(QStringLiteral("SELECT 1 FROM sessions WHERE key = ?"));
    for (;; ++key) {
        query.bindValue(0, key);
        if (!run(query, "key"))
            return false;
        if (!query.next())
            break;
    }
    query.finish();
    query.prepare(
        QStringLiteral("INSERT INTO sessions(key, id, endedAt, stamp) VALUES (?, ?, ?, ?)"));
    query.addBindValue(key);
    query.addBindValue(session.id);
    query.addBindValue(endedAt.isValid() ? QVariant(toReferenceSeconds(endedAt)) : QVariant());
    query.addBindValue(stamp);
    if (!run(query, "insert session"))
        return false;
    query.finish();
    // Hundreds of rows a session: straight through SQLite, one prepared statement.
    sqlite3 *handle = handleOf(db);
    const Statement insert(handle, "INSERT INTO segments(rowid, text, at) VALUES (?, ?, ?)");
    if (!insert.get()) {
        AppLog::write(QStringLiteral("search index query failed step=prepare segment error=%1")
                          .arg(handle ? QString::fromUtf8(sqlite3_errmsg(handle))
                                      : QStringLiteral("no handle")));
        return false;
    }
    const qsizetype count = std::min<qsizetype>(session.segments.size(), kSegmentsPerSession);
    for (qsizetype i = 0; i < count; ++i) {
        const TranscriptSegment &segment = session.segments.at(i);
        const QByteArray text = segment.text.toUtf8();
        sqlite3_stmt *statement = insert.get();
        sqlite3_bind_int64(statement, 1, key * kSegmentsPerSession + i);
        sqlite3_bind_text(statement, 2, text.constData(), static_cast<int>(text.size()),
                          SQLITE_STATIC);
        sqlite3_bind_double(statement, 3, toReferenceSeconds(segment.timestamp));
        const int result = sqlite3_step(statement);
        sqlite3_reset(statement);
        if (result != SQLITE_DONE) {
            AppLog::write(QStringLiteral("search index query failed step=insert segment error=%1")
                              .arg(QString::fromUtf8(sqlite3_errmsg(handle))));
            return false;
        }
    }
    return true;
}

SearchIndexSyncReport SessionSearchIndex::synchronize(const SessionHistoryStore &store)
{
    SearchIndexSyncReport report;
    report.rebuilt = m_rebuilt;
    if (!m_usable)
        return report;
    QElapsedTimer timer;
    timer.start();
    QSqlDatabase db = QSqlDatabase::database(m_connection, false);
    QHash<QString, QString> indexed;
    QSqlQuery query(db);
    if (!query.exec(QStringLiteral("SELECT id, stamp FROM sessions")))
        return report;
    while (query.next())
        indexed.insert(query.value(0).toString(), query.value(1).toString());
    query.finish();

    QList<QPair<QString, QString>> stale;
    for (const auto &[id, stamp] : store.sessionFileStamps()) {
        const auto known = indexed.constFind(id);
        const bool current = known != indexed.constEnd() && !stamp.isEmpty() && *known == stamp;
        indexed.remove(id);
        if (!current)
            stale.append({id, stamp});
    }

    // Files are mostly written as their sessions end, so oldest-written first puts nearly
    // every batch after the one before it.
    std::stable_sort(stale.begin(), stale.end(), [](const auto &a, const auto &b) {
        return stampModifiedNs(a.second) < stampModifiedNs(b.second);
    });
    db.transaction();
    bool ok = true;
    for (qsizetype next = 0; next < stale.size();) {
        // Rows go in in rowid order: FTS5 writes its pending rows out whenever a row comes
        // before the previous one, which folder order did at nearly every session and which
        // made a rebuild take half again as long.
        std::vector<std::pair<SavedSession, QString>> batch;
        qsizetype segments = 0;
        for (; next < stale.size() && segments < kBatchSegments; ++next) {
            const auto &[id, stamp] = stale.at(next);
            // Stamp first, then read: a file that changes in between is simply read again
            // later. The sessions the history lists, no others: same decoding, same ID check.
            // One that does not decode keeps a row without segments, so it is not read at
            // every start.
            std::optional<SavedSession> session = store.load(id);
            if (!session || session->id != id)
                session = SavedSession {id, {}, {}, {}, {}, {}};
            segments += session->segments.size() + 1;
            batch.emplace_back(std::move(*session), stamp);
        }
        std::stable_sort(batch.begin(), batch.end(), [](const auto &a, const auto &b) {
            return firstKeyFor(a.first.endedAt) < firstKeyFor(b.first.endedAt);
        });
        for (const auto &[session, stamp] : batch) {
            ok = putRow(session, stamp) && ok;
            ++report.indexed;
        }
    }
    for (auto it = indexed.constBegin(); it != indexed.constEnd(); ++it) {
        ok = removeRow(it.key()) && ok;
        ++report.removed;
    }
    if (!db.commit())
        ok = false;
    AppLog::write(QStringLiteral("search index synchronized indexed=%1 removed=%2 ok=%3 ms=%4")
                      .arg(report.indexed)
                      .arg(report.removed)
                      .arg(ok ? QStringLiteral("true") : QStringLiteral("false"))
                      .arg(timer.elapsed()));
    m_rebuilt = false;
    return report;
}

void SessionSearchIndex::put(const SavedSession &session, const QString &stamp)
{
    if (!m_usable)
        return;
    QSqlDatabase db = QSqlDatabase::database(m_connection, false);
    db.transaction();
    // A failed update leaves the old stamp behind, so the next start reads the file again.
    if (!putRow(session, stamp)) {
        db.rollback();
        return;
    }
    db.commit();
}

void SessionSearchIndex::remove(const QString &id)
{
    if (!m_usable)
        return;
    QSqlDatabase db = QSqlDatabase::database(m_connection, false);
    db.transaction();
    if (!removeRow(id)) {
        db.rollback();
        return;
    }
    db.commit();
}

QList<SessionSearchHit> SessionSearchIndex::search(const QString &text, int limit) const
{
    QList<SessionSearchHit> hits;
    const QList<SearchTerm> terms = searchTerms(text);
    if (!m_usable || terms.isEmpty() || limit <= 0)
        return hits;
    const QSqlDatabase db = QSqlDatabase::database(m_connection, false);
    // Ranking every match of a common word costs more than a keystroke may; FTS5 hands the
    // newest matches over in rowid order without looking at the rest.
    QSqlQuery query(db);
    query.setForwardOnly(true);
    query.prepare(QStringLiteral("SELECT rowid, %1(segments) FROM segments WHERE segments MATCH ? "
                                 "ORDER BY rowid DESC LIMIT ?")
                      .arg(QLatin1String(kSearchRankFunction)));
    query.addBindValue(matchExpression(terms));
    query.addBindValue(std::max(kRankedCandidates, limit));
    if (!run(query, "search"))
        return hits;
    QList<QPair<double, qint64>> ranked;
    while (query.next())
        ranked.append({query.value(1).toDouble(), query.value(0).toLongLong()});
    // Lower ranks are better matches; newer rows stay first among equals.
    std::stable_sort(ranked.begin(), ranked.end(),
                     [](const auto &a, const auto &b) { return a.first < b.first; });
    ranked.resize(std::min<qsizetype>(ranked.size(), limit));

    // Plain rowid look-ups: another MATCH per hit would walk the word's whole posting list.
    QSqlQuery row(db);
    row.setForwardOnly(true);
    row.prepare(QStringLiteral("SELECT at, text FROM segments WHERE rowid = ?"));
    QSqlQuery owner(db);
    owner.setForwardOnly(true);
    owner.prepare(QStringLiteral("SELECT id, endedAt FROM sessions WHERE key = ?"));
    for (const auto &[score, rowid] : ranked) {
        row.bindValue(0, rowid);
        owner.bindValue(0, rowid / kSegmentsPerSession);
        if (!run(row, "segment") || !row.next() || !run(owner, "owner") || !owner.next())
            continue;
        SessionSearchHit hit;
        hit.sessionId = owner.value(0).toString();
        hit.endedAt = fromStored(owner.value(1));
        hit.segmentIndex = static_cast<int>(rowid % kSegmentsPerSession);
        hit.segmentTime = fromStored(row.value(0));
        hit.snippet = markedExcerpt(row.value(1).toString(), terms, SessionSearchHit::kMatchOpen,
                                    SessionSearchHit::kMatchClose);
        hits.append(std::move(hit));
    }
    return hits;
}

} // namespace vernalo
