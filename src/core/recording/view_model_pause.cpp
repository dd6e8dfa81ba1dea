// Pause and resume of a live recording. While paused the capture keeps running, the pipeline
// sends silence of the same length and the keep-alive feeds the stream, so the backend session
// stays open; resuming first checks that the session and the stream are still alive.
#include "backend/stt_api_client.h"
#include "backend/websocket_stream_client.h"
#include "foundation/app_log.h"
#include "recording/pause_label.h"
#include "recording/recording_rules.h"
#include "recording/transcription_view_model.h"
#include "wire/clock.h"

namespace vernalo {

namespace {

using namespace std::chrono_literals;

constexpr auto kResumeRecordingTimeout = 12s;
constexpr auto kPauseTickInterval = 1s;

} // namespace

void TranscriptionViewModel::pauseRecording()
{
    if (!canPause())
        return;
    m_resumeRecordingTimeout->stop();
    m_resumeAttemptID = QUuid::createUuid();
    setPhase(RecordingPhase::Paused);
    setStatusText(QStringLiteral("Tauolla"));
    startPauseTracking();
    setDiagnosticHint(QStringLiteral("Tallennus tauolla"));
    AppLog::write(QStringLiteral("recording paused session=%1 capture=muted").arg(m_sessionId));
}

void TranscriptionViewModel::resumeRecording()
{
    if (!canResume())
        return;
    if (!m_webSocketClient) {
        // Nothing to resume into: the recording is over and a new one has to be started. The
        // stop runs while the flags still say recording, so the capture is closed and the text
        // kept rather than left running behind an idle screen.
        stopRecording();
        setStatusText(QStringLiteral("Jatkaminen epäonnistui: yhteys puuttuu"));
        return;
    }
    setStatusText(QStringLiteral("Jatketaan..."));
    const QUuid attemptID = QUuid::createUuid();
    m_resumeAttemptID = attemptID;
    setPhase(RecordingPhase::Resuming);
    connect(m_resumeRecordingTimeout, &Timer::timeout, this,
            &TranscriptionViewModel::handleResumeRecordingTimeout, Qt::UniqueConnection);
    m_resumeRecordingTimeout->start(kResumeRecordingTimeout);
    runResumeCheck(attemptID, m_sessionId, currentConfig());
}

QCoro::Task<> TranscriptionViewModel::runResumeCheck(QUuid attemptID, QString sessionId,
                                                     STTConfiguration config)
{
    QPointer<TranscriptionViewModel> self(this);
    STTAPIClient *api = m_apiClient;
    std::optional<SessionMetaResponse> meta;
    if (!sessionId.isEmpty() && m_resumeAttemptID == attemptID) {
        try {
            meta = co_await api->getSessionMeta(config, sessionId);
        } catch (const std::exception &) {
            // A failed fetch does not fail the resume; the stream check decides.
        }
    }
    if (!self || m_resumeAttemptID != attemptID)
        co_return;
    if (meta && isTerminalSessionStatus(meta->status, meta->endedAt)) {
        m_resumeRecordingTimeout->stop();
        handleRemoteSessionStopped(meta, QStringLiteral("resume-meta-stopped"));
        co_return;
    }
    if (!m_webSocketClient || !m_webSocketClient->isActive()) {
        m_resumeRecordingTimeout->stop();
        handleRemoteSessionStopped(std::nullopt, QStringLiteral("resume-websocket-inactive"));
        co_return;
    }
    m_resumeRecordingTimeout->stop();
    m_resumeAttemptID = QUuid::createUuid();
    setPhase(RecordingPhase::Live);
    stopPauseTracking();
    setDiagnosticHint(QString());
    setListeningStatus(m_settings->inputMode());
    AppLog::write(QStringLiteral("recording resumed session=%1 mode=%2 capture=unmuted")
                      .arg(sessionId, rawValue(m_settings->inputMode())));
}

void TranscriptionViewModel::handleResumeRecordingTimeout()
{
    // A newer attempt, a confirmed resume or a stop has already moved the attempt ID on, and
    // the timer is stopped with it; this only guards a timeout that was already due.
    if (m_phase != RecordingPhase::Resuming)
        return;
    setPhase(RecordingPhase::Paused);
    setStatusText(QStringLiteral("Jatkaminen aikakatkaistiin"));
    setDiagnosticHint(QStringLiteral(
        "Jatkaminen jäi odottamaan yhteyttä liian pitkäksi aikaa. Teksti säilyi, ja voit yrittää "
        "jatkaa tai lopettaa tallennuksen."));
    AppLog::write(QStringLiteral("resumeRecording timeout session=%1 mode=%2")
                      .arg(m_sessionId, rawValue(m_settings->inputMode())));
    // The attempt that timed out must not finish the resume when its answer comes late.
    m_resumeAttemptID = QUuid::createUuid();
}

void TranscriptionViewModel::startPauseTracking()
{
    if (!isPaused())
        return;
    if (!m_pauseStartedAt)
        m_pauseStartedAt = m_clock->now();
    updatePauseElapsedLabel();
    if (!m_pauseTicker) {
        m_pauseTicker = m_clock->createTimer(this);
        connect(m_pauseTicker, &Timer::timeout, this,
                &TranscriptionViewModel::updatePauseElapsedLabel);
    }
    m_pauseTicker->stop();
    m_pauseTicker->start(kPauseTickInterval);
}

void TranscriptionViewModel::stopPauseTracking()
{
    if (m_pauseStartedAt) {
        m_accumulatedPausedDuration += m_pauseStartedAt->msecsTo(m_clock->now()) / 1000.0;
        m_pauseStartedAt.reset();
    }
    if (m_pauseTicker)
        m_pauseTicker->stop();
    setPauseElapsedLabel(QString());
}

void TranscriptionViewModel::resetPauseTracking()
{
    m_accumulatedPausedDuration = 0;
    m_pauseStartedAt.reset();
    if (m_pauseTicker)
        m_pauseTicker->stop();
    setPauseElapsedLabel(QString());
}

void TranscriptionViewModel::updatePauseElapsedLabel()
{
    if (!isPaused()) {
        setPauseElapsedLabel(QString());
        return;
    }
    const double current =
        m_pauseStartedAt ? m_pauseStartedAt->msecsTo(m_clock->now()) / 1000.0 : 0;
    setPauseElapsedLabel(pauseDurationLabel(m_accumulatedPausedDuration + current));
}

} // namespace vernalo
