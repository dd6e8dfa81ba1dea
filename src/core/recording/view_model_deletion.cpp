// Deleting one or all sessions, locally and on the server. A server deletion that failed is
// remembered, so crash recovery does not bring the session back from the server.
#include "backend/stt_api_client.h"
#include "foundation/app_log.h"
#include "foundation/secure_settings.h"
#include "recording/transcription_view_model.h"
#include "sessions/session_history_store.h"

#include <QPointer>

namespace vernalo {

namespace {

// True when the server confirmed the deletion; its error is only logged.
QCoro::Task<bool> deleteOnServer(STTAPIClient *client, STTConfiguration config, QString id)
{
    try {
        co_await client->deleteSession(config, id);
        co_return true;
    } catch (const std::exception &error) {
        AppLog::write(QStringLiteral("server session delete failed session=%1 error=%2")
                          .arg(id, QString::fromUtf8(error.what())));
    }
    co_return false;
}

} // namespace

QStringList TranscriptionViewModel::pendingServerDeletions() const
{
    return m_configStore->settings()
        ->value(QLatin1String(kPendingServerDeletionsKey))
        .toStringList();
}

void TranscriptionViewModel::notePendingServerDeletions(const QStringList &failed,
                                                        const QStringList &succeeded)
{
    QStringList pending = pendingServerDeletions();
    for (const QString &id : succeeded)
        pending.removeAll(id);
    for (const QString &id : failed)
        if (!pending.contains(id))
            pending.append(id);
    SecureSettings *settings = m_configStore->settings();
    const QString ownersKey = QLatin1String(kPendingServerDeletionOwnersKey);
    QVariantMap owners = settings->value(ownersKey).toMap();
    for (const QString &id : succeeded)
        owners.remove(id);
    for (const QString &id : failed)
        owners.insert(id, m_signedInUser);
    if (pending.isEmpty()) {
        settings->remove(QLatin1String(kPendingServerDeletionsKey));
        settings->remove(ownersKey);
    } else {
        settings->setValue(QLatin1String(kPendingServerDeletionsKey), pending);
        settings->setValue(ownersKey, owners);
    }
}

void TranscriptionViewModel::deleteSession(const QString &id)
{
    if (isRecording() || id.isEmpty())
        return;
    setStatusText(QStringLiteral("Poistetaan sessio..."));
    m_history->changeDeletionJobs(+1, false);
    runDeleteSession(id, currentConfig());
}

QCoro::Task<> TranscriptionViewModel::runDeleteSession(QString id, STTConfiguration config)
{
    QPointer<TranscriptionViewModel> self(this);
    const bool serverDeleted = co_await deleteOnServer(m_apiClient, config, id);
    if (!self)
        co_return;
    m_history->changeDeletionJobs(-1, false);
    if (m_historyStore->deleteSession(id)) {
        setStatusText(QStringLiteral("Session poisto epäonnistui"));
        co_return;
    }
    notePendingServerDeletions(serverDeleted ? QStringList() : QStringList {id},
                               serverDeleted ? QStringList {id} : QStringList());
    if (m_history->selectedSessionHistoryId() == id)
        m_history->setSelectedSessionHistoryId(QString());
    refreshSessionHistory();
    setStatusText(
        serverDeleted
            ? QStringLiteral("Sessio poistettu (myös palvelimelta)")
            : QStringLiteral("Sessio poistettu paikallisesti (palvelinpoisto epäonnistui)"));
}

void TranscriptionViewModel::deleteAllSessions()
{
    // A second press while the first still runs would delete every session on the server twice.
    if (isRecording() || m_history->isDeletingAllSessions())
        return;
    QStringList ids;
    for (const SavedSessionListItem &item : m_historyStore->list())
        ids.append(item.id);
    setStatusText(QStringLiteral("Poistetaan kaikki sessiot..."));
    m_history->changeDeletionJobs(+1, true);
    runDeleteAllSessions(ids, currentConfig());
}

QCoro::Task<> TranscriptionViewModel::runDeleteAllSessions(QStringList ids, STTConfiguration config)
{
    QPointer<TranscriptionViewModel> self(this);
    QStringList failed;
    QStringList succeeded;
    for (const QString &id : ids) {
        const bool deleted = co_await deleteOnServer(m_apiClient, config, id);
        if (!self)
            co_return;
        (deleted ? succeeded : failed).append(id);
    }
    m_history->changeDeletionJobs(-1, true);
    // Only what was listed when the action started: a recording saved while the server
    // deletions ran stays.
    bool localFailure = false;
    for (const QString &id : ids)
        localFailure = m_historyStore->deleteSession(id).has_value() || localFailure;
    notePendingServerDeletions(failed, succeeded);
    if (localFailure) {
        refreshSessionHistory();
        setStatusText(QStringLiteral("Sessioiden poisto epäonnistui"));
        co_return;
    }
    m_history->setSelectedSessionHistoryId(QString());
    refreshSessionHistory();
    setStatusText(failed.isEmpty() ? QStringLiteral("Kaikki sessiot poistettu (myös palvelimelta)")
                                   : QStringLiteral("Kaikki sessiot poistettu paikallisesti (%1 "
                                                    "palvelinpoistoa epäonnistui)")
                                         .arg(failed.size()));
}

} // namespace vernalo
