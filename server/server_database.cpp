#include "server_database.h"

#include "server_log.h"

#include <QDir>
#include <QFile>
#include <QSqlError>
#include <QUuid>
#include <QVariant>

namespace vernalo::server {

namespace {

// Each entry brings the schema from version i to i + 1.
const char *const kMigrations[] = {
    R"(CREATE TABLE users (
        id INTEGER PRIMARY KEY AUTOINCREMENT,
        email TEXT NOT NULL UNIQUE,
        password_hash TEXT NOT NULL,
        role TEXT NOT NULL DEFAULT 'user',
        is_active INTEGER NOT NULL DEFAULT 1,
        created_at TEXT NOT NULL,
        updated_at TEXT NOT NULL,
        disabled_at TEXT,
        last_login_at TEXT);
    CREATE TABLE auth_tokens (
        token_hash BLOB PRIMARY KEY,
        user_id INTEGER NOT NULL REFERENCES users(id) ON DELETE CASCADE,
        created_at TEXT NOT NULL,
        expires_at TEXT NOT NULL);
    CREATE TABLE sessions (
        id TEXT PRIMARY KEY,
        owner_id INTEGER,
        stream_token_hash BLOB NOT NULL,
        status TEXT NOT NULL,
        created_at TEXT NOT NULL,
        ended_at TEXT,
        language TEXT NOT NULL,
        stt_model TEXT NOT NULL,
        enable_interim INTEGER NOT NULL,
        diarization INTEGER NOT NULL,
        speaker_count INTEGER NOT NULL,
        audio_frame_count INTEGER NOT NULL DEFAULT 0,
        audio_bytes INTEGER NOT NULL DEFAULT 0,
        level_sum REAL NOT NULL DEFAULT 0,
        peak_level REAL NOT NULL DEFAULT 0,
        interim_count INTEGER NOT NULL DEFAULT 0,
        final_count INTEGER NOT NULL DEFAULT 0,
        last_error_at TEXT,
        last_error_code INTEGER,
        last_error_message TEXT,
        last_activity_at TEXT NOT NULL);
    CREATE INDEX sessions_by_owner ON sessions(owner_id, created_at);
    CREATE TABLE segments (
        id INTEGER PRIMARY KEY AUTOINCREMENT,
        session_id TEXT NOT NULL REFERENCES sessions(id) ON DELETE CASCADE,
        text TEXT NOT NULL,
        ts TEXT NOT NULL,
        speaker_label TEXT);
    CREATE INDEX segments_by_session ON segments(session_id, id);
    CREATE TABLE memos (
        session_id TEXT PRIMARY KEY REFERENCES sessions(id) ON DELETE CASCADE,
        created_at TEXT NOT NULL,
        payload TEXT NOT NULL,
        docx BLOB NOT NULL);)",
    "ALTER TABLE sessions ADD COLUMN api_key_digest BLOB",
};

} // namespace

ServerDatabase::~ServerDatabase()
{
    if (m_connectionName.isEmpty())
        return;
    {
        QSqlDatabase db = QSqlDatabase::database(m_connectionName, false);
        if (db.isOpen())
            db.close();
    }
    QSqlDatabase::removeDatabase(m_connectionName);
}

bool ServerDatabase::open(const QString &dataDir, QString *error)
{
    QDir dir(dataDir);
    if (!dir.exists()) {
        if (!QDir().mkpath(dataDir)) {
            *error = QStringLiteral("cannot create data folder ") + dataDir;
            return false;
        }
        // Only a folder made here is ours to close to others; an existing one keeps its mode.
        QFile::setPermissions(
            dataDir, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    }
    m_filePath = dir.absoluteFilePath(QStringLiteral("reference-server.sqlite"));
    m_connectionName = QStringLiteral("vernalo-server-") + QUuid::createUuid().toString();
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_connectionName);
    db.setDatabaseName(m_filePath);
    db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=5000"));
    if (!db.open()) {
        *error = QStringLiteral("cannot open database: ") + db.lastError().text();
        return false;
    }
    QFile::setPermissions(m_filePath, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    for (const char *pragma :
         {"PRAGMA journal_mode=WAL", "PRAGMA synchronous=FULL", "PRAGMA foreign_keys=ON"}) {
        QSqlQuery query(db);
        if (!query.exec(QString::fromLatin1(pragma))) {
            *error = QStringLiteral("cannot configure database: ") + query.lastError().text();
            return false;
        }
    }
    return migrate(error);
}

bool ServerDatabase::migrate(QString *error)
{
    QSqlDatabase db = QSqlDatabase::database(m_connectionName);
    QSqlQuery versionQuery(db);
    if (!versionQuery.exec(QStringLiteral("PRAGMA user_version")) || !versionQuery.next()) {
        *error = QStringLiteral("cannot read schema version");
        return false;
    }
    const int current = versionQuery.value(0).toInt();
    const int target = static_cast<int>(std::size(kMigrations));
    if (current > target) {
        *error = QStringLiteral("database was written by a newer server (schema %1)").arg(current);
        return false;
    }
    for (int version = current; version < target; ++version) {
        if (!db.transaction()) {
            *error = QStringLiteral("cannot start migration");
            return false;
        }
        const QStringList statements =
            QString::fromLatin1(kMigrations[version]).split(QLatin1Char(';'), Qt::SkipEmptyParts);
        for (const QString &statement : statements) {
            if (statement.trimmed().isEmpty())
                continue;
            QSqlQuery query(db);
            if (!query.exec(statement)) {
                *error = QStringLiteral("migration failed: ") + query.lastError().text();
                db.rollback();
                return false;
            }
        }
        QSqlQuery bump(db);
        if (!bump.exec(QStringLiteral("PRAGMA user_version=%1").arg(version + 1)) || !db.commit()) {
            *error = QStringLiteral("cannot record schema version");
            db.rollback();
            return false;
        }
    }
    return true;
}

QSqlQuery ServerDatabase::prepare(const QString &statement) const
{
    QSqlQuery query(QSqlDatabase::database(m_connectionName, false));
    if (!query.prepare(statement))
        ServerLog::write(QStringLiteral("server db prepare failed error=") +
                         query.lastError().text() + QStringLiteral(" sql=") +
                         statement.simplified());
    return query;
}

bool ServerDatabase::exec(QSqlQuery &query) const
{
    if (query.exec())
        return true;
    ServerLog::write(QStringLiteral("server db query failed error=") + query.lastError().text() +
                     QStringLiteral(" sql=") + query.lastQuery().simplified());
    return false;
}

bool ServerDatabase::transaction()
{
    return QSqlDatabase::database(m_connectionName, false).transaction();
}

bool ServerDatabase::commit()
{
    return QSqlDatabase::database(m_connectionName, false).commit();
}

void ServerDatabase::rollback()
{
    QSqlDatabase::database(m_connectionName, false).rollback();
}

QString ServerDatabase::timeText(const QDateTime &time)
{
    return time.toUTC().toString(Qt::ISODateWithMs);
}

std::optional<QDateTime> ServerDatabase::timeFrom(const QVariant &value)
{
    if (value.isNull())
        return std::nullopt;
    QDateTime time = QDateTime::fromString(value.toString(), Qt::ISODateWithMs);
    if (!time.isValid())
        return std::nullopt;
    return time.toUTC();
}

} // namespace vernalo::server
