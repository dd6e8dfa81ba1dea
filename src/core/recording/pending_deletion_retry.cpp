#include "recording/pending_deletion_retry.h"

#include "backend/api_client_error.h"
#include "backend/stt_api_client.h"
#include "foundation/app_log.h"
#include "foundation/secure_settings.h"
#include "recording/transcription_view_model.h"
#include "wire/clock.h"

namespace vernalo {

PendingDeletionRetry::PendingDeletionRetry(TranscriptionViewModel *controller,
                                           SecureSettings *settings, STTAPIClient *api,
                                           Clock *clock, QObject *parent)
    : QObject(parent)
    , m_controller(controller)
    , m_settings(settings)
    , m_api(api)
    , m_timer(clock->createTimer(this))
{
    m_timer->setSingleShot(true);
    connect(m_timer, &Timer::timeout, this, &PendingDeletionRetry::retryNow);
}

void PendingDeletionRetry::retryNow()
{
    if (m_running || !m_controller || m_controller->pendingServerDeletions().isEmpty() ||
        !m_controller->configuration().authToken)
        return;
    runPass();
}

QCoro::Task<> PendingDeletionRetry::runPass()
{
    QPointer<PendingDeletionRetry> self(this);
    m_running = true;
    const STTConfiguration config = m_controller->configuration();
    const QString user = m_controller->signedInUser();
    const QVariantMap owners =
        m_settings->value(QLatin1String(TranscriptionViewModel::kPendingServerDeletionOwnersKey))
            .toMap();
    for (const QString &id : m_controller->pendingServerDeletions()) {
        // Another user's token would be told 404 and the session would stay on the server.
        const QString owner = owners.value(id).toString();
        if (!owner.isEmpty() && owner != user)
            continue;
        QString outcome = QStringLiteral("deleted");
        try {
            co_await m_api->deleteSession(config, id);
        } catch (const APIClientError &error) {
            outcome = error.httpStatus() == 404
                ? QStringLiteral("already gone")
                : QStringLiteral("failed error=") + error.localizedDescription();
        } catch (const std::exception &error) {
            outcome = QStringLiteral("failed error=") + QString::fromUtf8(error.what());
        }
        if (!self || !m_controller)
            co_return;
        AppLog::write(
            QStringLiteral("pending server delete retried session=%1 result=%2").arg(id, outcome));
        if (!outcome.startsWith(QLatin1String("failed")))
            forget(id);
    }
    m_running = false;
    if (!m_controller->pendingServerDeletions().isEmpty())
        m_timer->start(kRetryInterval);
    emit passFinished();
}

// Re-read at each write: a deletion that failed meanwhile may have added an entry.
void PendingDeletionRetry::forget(const QString &id)
{
    const QString key = QLatin1String(TranscriptionViewModel::kPendingServerDeletionsKey);
    QStringList pending = m_settings->value(key).toStringList();
    pending.removeAll(id);
    if (pending.isEmpty())
        m_settings->remove(key);
    else
        m_settings->setValue(key, pending);
    const QString ownersKey =
        QLatin1String(TranscriptionViewModel::kPendingServerDeletionOwnersKey);
    QVariantMap owners = m_settings->value(ownersKey).toMap();
    if (owners.remove(id) > 0)
        m_settings->setValue(ownersKey, owners);
}

} // namespace vernalo
