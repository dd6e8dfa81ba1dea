// The five-second audio test: the chosen sources capture without a backend session, nothing is
// sent, and the result says what arrived and what to do about it.
#include "audio/microphone_capture.h"
#include "audio/pcm_format.h"
#include "audio/system_audio_capture.h"
#include "recording/audio_test_verdict.h"
#include "recording/transcription_view_model.h"
#include "wire/clock.h"

namespace vernalo {

namespace {

using namespace std::chrono_literals;

constexpr auto kAudioTestDuration = 5s;

} // namespace

void TranscriptionViewModel::runAudioQualityTest()
{
    if (m_isStartingRecording || m_isRecording) {
        setStatusText(QStringLiteral("Pysäytä tallennus ennen äänitestiä"));
        return;
    }
    if (m_isAudioTestRunning)
        return;
    setAudioTestRunning(true);
    setStatusText(QStringLiteral("Äänitesti käynnissä (5 s)..."));
    setDiagnosticHint(QString());
    const JobSlot::Ticket ticket = m_audioTest.start();
    runAudioTest(m_inputMode, m_selectedInputDeviceID, m_selectedSystemDisplayID,
                 m_selectedSystemApplicationBundleID, ticket);
}

QCoro::Task<> TranscriptionViewModel::runAudioTest(AudioInputMode mode, quint32 microphoneID,
                                                   quint32 displayID, QString applicationBundleID,
                                                   JobSlot::Ticket ticket)
{
    QPointer<TranscriptionViewModel> self(this);
    Clock *clock = m_clock;
    auto tally = std::make_shared<AudioTestTally>();
    const auto counter = [self, tally, ticket](bool fromMicrophone) {
        return [self, tally, ticket, fromMicrophone](const QByteArray &chunk) {
            if (self && self->m_audioTest.isCurrent(ticket))
                tally->add(fromMicrophone, estimatePCM16Level(chunk));
        };
    };

    std::optional<QString> failure;
    try {
        if (mode != AudioInputMode::SystemAudio) {
            m_microphone->onPCMFrame = counter(true);
            m_microphone->setPreferredInputDeviceID(
                microphoneID == 0 ? std::nullopt : std::optional(microphoneID));
            m_microphone->start();
        }
        if (mode != AudioInputMode::Microphone) {
            m_systemAudio->setPreferredDisplayID(displayID == 0 ? std::nullopt
                                                                : std::optional(displayID));
            m_systemAudio->setPreferredApplicationBundleID(applicationBundleID);
            m_systemAudio->onRawAudioSample = nullptr;
            m_systemAudio->onPCMFrame = counter(false);
            m_systemAudio->start();
        }
    } catch (const SystemAudioCaptureError &error) {
        handleSystemAudioPermissionError(error.kind());
        failure = error.errorDescription();
    } catch (const MicrophoneCaptureError &error) {
        refreshMicrophonePermissionStatus(false);
        failure = error.errorDescription();
    }
    if (failure) {
        m_audioTest.finish(ticket);
        stopAudioTestCapture();
        setStatusText(QStringLiteral("Äänitesti epäonnistui: ") + *failure);
        setAudioTestRunning(false);
        co_return;
    }

    co_await clock->sleep(kAudioTestDuration);
    if (!self || !m_audioTest.isCurrent(ticket))
        co_return;
    m_audioTest.finish(ticket);
    stopAudioTestCapture();
    const AudioTestVerdict verdict = audioTestVerdict(mode, *tally);
    setStatusText(verdict.statusText);
    setDiagnosticHint(verdict.diagnosticHint);
    setAudioTestRunning(false);
}

void TranscriptionViewModel::stopAudioTestCapture()
{
    m_microphone->onPCMFrame = nullptr;
    m_microphone->stop();
    m_systemAudio->onPCMFrame = nullptr;
    m_systemAudio->onRawAudioSample = nullptr;
    m_systemAudio->stop();
}

void TranscriptionViewModel::setAudioTestRunning(bool running)
{
    if (m_isAudioTestRunning == running)
        return;
    m_isAudioTestRunning = running;
    emit isAudioTestRunningChanged();
    // The start button waits for the test.
    emit recordingStateChanged();
}

} // namespace vernalo
