#include "recording/recording_monitor.h"

#include "audio/outgoing_audio_pipeline.h"
#include "recording/pause_label.h"
#include "recording/transcription_view_model.h"
#include "wire/clock.h"

namespace vernalo {

using namespace std::chrono_literals;

RecordingMonitor::RecordingMonitor(TranscriptionViewModel *controller, Clock *clock,
                                   QObject *parent)
    : QObject(parent)
    , m_controller(controller)
    , m_clock(clock)
    // The controller owns its one pipeline as a child object for its whole life.
    , m_pipeline(controller->findChild<OutgoingAudioPipeline *>())
    , m_ticker(clock->createTimer(this))
{
    connect(m_ticker, &Timer::timeout, this, &RecordingMonitor::elapsedChanged);
    connect(controller, &TranscriptionViewModel::recordingStateChanged, this,
            &RecordingMonitor::recordingStateChanged);
    connect(controller, &TranscriptionViewModel::statusTextChanged, this,
            &RecordingMonitor::checkHowItEnded);
    if (m_pipeline) {
        connect(m_pipeline, &OutgoingAudioPipeline::micLevelChanged, this,
                &RecordingMonitor::levelsChanged);
        connect(m_pipeline, &OutgoingAudioPipeline::systemLevelChanged, this,
                &RecordingMonitor::levelsChanged);
    }
}

void RecordingMonitor::recordingStateChanged()
{
    const bool running = m_controller->isRecording();
    const bool paused = running && m_controller->isPaused();
    const qint64 now = m_clock->monotonicMs();
    if (running && !m_running) {
        m_startedMs = now;
        m_pausedMs = 0;
        m_awaitingEndStatus = false;
        m_ticker->start(1s);
    } else if (!running && m_running) {
        m_ticker->stop();
        // The controller's next status line, written right after it leaves the live state, says
        // why the recording ended.
        m_awaitingEndStatus = true;
    }
    if (paused && !m_paused)
        m_pauseBeganMs = now;
    else if (!paused && m_paused)
        m_pausedMs += now - m_pauseBeganMs;
    const bool changed = running != m_running || paused != m_paused;
    m_running = running;
    m_paused = paused;
    if (changed) {
        emit elapsedChanged();
        emit levelsChanged();
    }
}

void RecordingMonitor::checkHowItEnded()
{
    // The stop button's own status line; every other way out of a live recording ended it by
    // itself.
    static const QString kUserStopStatus = QStringLiteral("Pysäytetään...");
    if (!m_awaitingEndStatus)
        return;
    m_awaitingEndStatus = false;
    const QString status = m_controller->statusText();
    if (!m_running && status != kUserStopStatus)
        emit endedByItself(status);
}

qint64 RecordingMonitor::activeMs() const
{
    if (!m_running)
        return 0;
    const qint64 now = m_clock->monotonicMs();
    const qint64 paused = m_pausedMs + (m_paused ? now - m_pauseBeganMs : 0);
    return now - m_startedMs - paused;
}

QString RecordingMonitor::elapsedLabel() const
{
    return m_running ? pauseDurationLabel(double(activeMs()) / 1000.0) : QString();
}

double RecordingMonitor::microphoneLevel() const
{
    return m_running && m_pipeline ? m_pipeline->micAudioLevel() : 0.0;
}

double RecordingMonitor::systemAudioLevel() const
{
    return m_running && m_pipeline ? m_pipeline->systemAudioLevel() : 0.0;
}

} // namespace vernalo
