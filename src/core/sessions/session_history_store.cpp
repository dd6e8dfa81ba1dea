#include "sessions/session_history_store.h"

#include "foundation/app_log.h"
#include "sessions/atomic_file.h"
#include "sessions/session_file_stamp.h"
#include "sessions/session_id.h"
#include "sessions/session_search_index.h"

#include <algorithm>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

namespace vernalo {

namespace {
const QString kExtension = QStringLiteral(".json");

SessionStoreError unsafeIdError(const QString &id, const QString &problem)
{
    AppLog::write(
        QStringLiteral("session id refused id=%1 reason=%2").arg(sessionIdForLog(id), problem));
    return {SessionStoreError::Kind::UnsafeId, id, problem};
}
} // namespace

SessionHistoryStore::SessionHistoryStore()
    : SessionHistoryStore(defaultDirectory())
{ }

SessionHistoryStore::SessionHistoryStore(QString directory)
    : m_directory(std::move(directory))
{
    ensureDirectory();
}

QString SessionHistoryStore::defaultDirectory()
{
    QString base = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    if (base.isEmpty())
        base = QDir::tempPath();
    // Folder names kept as earlier releases wrote them, so existing histories stay visible.
    return base + QStringLiteral("/Vernalo-Mac/sessions");
}

QString SessionHistoryStore::filePath(const QString &id) const
{
    return m_directory + QLatin1Char('/') + id + kExtension;
}

bool SessionHistoryStore::ensureDirectory() const
{
    if (QFileInfo(m_directory).isDir())
        return true;
    if (!QDir().mkpath(m_directory))
        return false;
    // Meeting transcripts are private; other local users have no business listing them.
    QFile::setPermissions(m_directory,
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    return true;
}

std::optional<SessionStoreError> SessionHistoryStore::save(const SavedSession &session) const
{
    if (const auto problem = sessionIdProblem(session.id))
        return unsafeIdError(session.id, *problem);
    if (!ensureDirectory()) {
        const QString detail = QStringLiteral("cannot create folder %1").arg(m_directory);
        AppLog::write(QStringLiteral("session save failed id=%1 error=%2").arg(session.id, detail));
        return SessionStoreError {SessionStoreError::Kind::WriteFailed, session.id, detail};
    }
    if (const auto failure = writeFileAtomically(filePath(session.id), session.encode())) {
        AppLog::write(
            QStringLiteral("session save failed id=%1 error=%2").arg(session.id, *failure));
        return SessionStoreError {SessionStoreError::Kind::WriteFailed, session.id, *failure};
    }
    // The file is already the truth; an index that misses this update catches up at the next
    // start because its stamp for the file is then out of date.
    if (m_index)
        m_index->put(session, fileStamp(filePath(session.id)));
    return std::nullopt;
}

QList<QPair<QString, QString>> SessionHistoryStore::sessionFiles() const
{
    QList<QPair<QString, QString>> files;
    // Hidden entries are left out because QDir::Hidden is not asked for; no sorting, so ties
    // later keep the order the file system returned.
    QDirIterator it(m_directory, QDir::Files | QDir::NoDotAndDotDot);
    while (it.hasNext()) {
        const QString path = it.next();
        const QString name = it.fileName();
        // Exact, case-sensitive extension; "x.JSON" and "x.json.tmp" are not sessions.
        if (name.size() > kExtension.size() && name.endsWith(kExtension, Qt::CaseSensitive))
            files.append({path, name.chopped(kExtension.size())});
    }
    return files;
}

QList<QPair<QString, QString>> SessionHistoryStore::sessionFileStamps() const
{
    QList<QPair<QString, QString>> stamps;
    for (const auto &[path, stem] : sessionFiles()) {
        if (isSafeSessionId(stem))
            stamps.append({stem, fileStamp(path)});
    }
    return stamps;
}

QList<SavedSessionListItem> SessionHistoryStore::list() const
{
    QList<SavedSessionListItem> items;
    for (const auto &[path, stem] : sessionFiles()) {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            continue;
        auto item = SavedSessionListItem::decode(file.readAll());
        if (!item || item->id != stem || !isSafeSessionId(item->id))
            continue;
        items.append(std::move(*item));
    }
    std::stable_sort(items.begin(), items.end(),
                     [](const SavedSessionListItem &a, const SavedSessionListItem &b) {
                         return a.endedAt > b.endedAt;
                     });
    return items;
}

std::optional<SavedSession> SessionHistoryStore::load(const QString &id) const
{
    if (!isSafeSessionId(id))
        return std::nullopt;
    QFile file(filePath(id));
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    return SavedSession::decode(file.readAll());
}

std::optional<SessionStoreError> SessionHistoryStore::deleteSession(const QString &id) const
{
    if (const auto problem = sessionIdProblem(id))
        return unsafeIdError(id, *problem);
    const QString path = filePath(id);
    QFile file(path);
    // exists() follows links; a dangling link is still an entry to remove.
    if (!file.exists() && !QFileInfo(path).isSymLink()) {
        if (m_index)
            m_index->remove(id); // removed by hand since the last start
        return std::nullopt;
    }
    if (!file.remove()) {
        const QString detail = file.errorString();
        AppLog::write(QStringLiteral("session delete failed id=%1 error=%2").arg(id, detail));
        return SessionStoreError {SessionStoreError::Kind::RemoveFailed, id, detail};
    }
    syncDirectory(m_directory);
    if (m_index)
        m_index->remove(id);
    return std::nullopt;
}

std::optional<SessionStoreError> SessionHistoryStore::deleteAll() const
{
    const QFileInfo folder(m_directory);
    if (!folder.exists())
        return std::nullopt; // nothing was ever stored
    if (!folder.isDir() || !folder.isReadable()) {
        const QString detail = QStringLiteral("cannot read folder %1").arg(m_directory);
        AppLog::write(QStringLiteral("session delete all failed error=%1").arg(detail));
        return SessionStoreError {SessionStoreError::Kind::ListFailed, {}, detail};
    }
    std::optional<SessionStoreError> failure;
    for (const auto &[path, stem] : sessionFiles()) {
        QFile file(path);
        if (!file.remove()) {
            const QString detail = file.errorString();
            AppLog::write(QStringLiteral("session delete failed id=%1 error=%2")
                              .arg(sessionIdForLog(stem), detail));
            failure = SessionStoreError {SessionStoreError::Kind::RemoveFailed, stem, detail};
            break;
        }
        if (m_index)
            m_index->remove(stem);
    }
    syncDirectory(m_directory);
    return failure;
}

} // namespace vernalo
