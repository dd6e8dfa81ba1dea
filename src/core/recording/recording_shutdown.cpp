#include "recording/recording_shutdown.h"

#include "foundation/app_log.h"
#include "ports/desktop_services.h"
#include "recording/transcription_view_model.h"
#include "sessions/session_history_store.h"
#include "wire/clock.h"

#include <qcoro/qcorosignal.h>

namespace vernalo {

RecordingShutdown::RecordingShutdown(TranscriptionViewModel *controller,
                                     SessionHistoryStore *history, Clock *clock,
                                     DesktopServices *desktop, QObject *parent)
    : QObject(parent)
    , m_controller(controller)
    , m_history(history)
    , m_clock(clock)
    , m_desktop(desktop)
{
    connect(controller, &TranscriptionViewModel::recordingStateChanged, this, [this] {
        if (!isRecordingActive())
            emit settled();
    });
}

bool RecordingShutdown::isRecordingActive() const
{
    return m_controller &&
        (m_controller->isStartingRecording() || m_controller->isRecording() ||
         m_controller->isResumingRecording() || m_controller->isStoppingRecording());
}

QCoro::Task<> RecordingShutdown::stopAndSave(std::chrono::milliseconds limit)
{
    if (!isRecordingActive())
        co_return;
    QPointer<RecordingShutdown> self(this);
    AppLog::write(QStringLiteral("shutdown stops recording session=%1 limitMs=%2")
                      .arg(m_controller->sessionId())
                      .arg(limit.count()));
    // A stop already under way is waited for, not started again.
    if (m_controller->canStop())
        m_controller->stopRecording();
    if (!isRecordingActive())
        co_return;
    Timer *deadline = m_clock->createTimer(this);
    deadline->setSingleShot(true);
    bool timedOut = false;
    connect(deadline, &Timer::timeout, this, [this, &timedOut] {
        timedOut = true;
        emit settled();
    });
    deadline->start(limit);
    co_await qCoro(this, &RecordingShutdown::settled);
    if (!self)
        co_return;
    deadline->stop();
    deadline->deleteLater();
    if (timedOut && isRecordingActive())
        saveWhatIsOnScreen();
}

void RecordingShutdown::stopAndSaveBlocking(std::chrono::milliseconds limit)
{
    if (isRecordingActive())
        QCoro::waitFor(stopAndSave(limit));
}

QCoro::Task<bool> RecordingShutdown::confirmThenStop(QString message, QString acceptButton)
{
    if (!isRecordingActive())
        co_return true;
    QPointer<RecordingShutdown> self(this);
    ConfirmRequest request;
    request.title = QStringLiteral("Vernalo");
    request.message = message;
    request.acceptButton = acceptButton;
    request.destructive = true;
    const bool accepted = co_await m_desktop->confirm(request);
    if (!self || !accepted)
        co_return false;
    co_await stopAndSave();
    co_return static_cast<bool>(self);
}

void RecordingShutdown::saveWhatIsOnScreen()
{
    const QList<TranscriptSegment> segments = m_controller->segments();
    const QString id = m_controller->sessionId();
    AppLog::write(QStringLiteral("shutdown stop timed out session=%1 segments=%2")
                      .arg(id)
                      .arg(segments.size()));
    if (id.isEmpty() || segments.isEmpty())
        return;
    const QDateTime now = m_clock->now();
    const SavedSession session {id,
                                segments.first().timestamp,
                                now,
                                m_controller->settings()->language(),
                                m_controller->settings()->sttModel(),
                                segments};
    if (const auto error = m_history->save(session))
        AppLog::write(QStringLiteral("shutdown save failed session=%1 error=%2")
                          .arg(id, error->description()));
}

} // namespace vernalo
