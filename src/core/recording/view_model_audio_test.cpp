// The five-second audio test: the chosen sources capture without a backend session, nothing is
// sent, and the result says what arrived and what to do about it.
#include "audio/capture_errors.h"
#include "recording/audio_test_verdict.h"
#include "recording/capture_rig.h"
#include "recording/recording_permissions.h"
#include "recording/transcription_view_model.h"
#include "wire/clock.h"

namespace vernalo {

namespace {

using namespace std::chrono_literals;

constexpr auto kAudioTestDuration = 5s;

} // namespace

void TranscriptionViewModel::runAudioQualityTest()
{
    if (isStartingRecording() || isRecording()) {
        setStatusText(QStringLiteral("Pysäytä tallennus ennen äänitestiä"));
        return;
    }
    if (m_support->isAudioTestRunning())
        return;
    m_support->setAudioTestRunning(true);
    setStatusText(QStringLiteral("Äänitesti käynnissä (5 s)..."));
    setDiagnosticHint(QString());
    const JobSlot::Ticket ticket = m_audioTest.start();
    runAudioTest(m_settings->inputMode(),
                 {m_sources->selectedInputDeviceID(), m_sources->selectedSystemDisplayID(),
                  m_sources->selectedSystemApplicationBundleID()},
                 ticket);
}

QCoro::Task<> TranscriptionViewModel::runAudioTest(AudioInputMode mode, CaptureSelection selection,
                                                   JobSlot::Ticket ticket)
{
    QPointer<TranscriptionViewModel> self(this);
    Clock *clock = m_clock;
    std::optional<QString> failure;
    try {
        m_rig->startTest(mode, selection);
    } catch (const SystemAudioCaptureError &error) {
        m_permissions->applySystemAudioCaptureError(error.kind());
        failure = error.errorDescription();
    } catch (const MicrophoneCaptureError &error) {
        m_permissions->refreshMicrophonePermissionStatus(false);
        failure = error.errorDescription();
    }
    if (failure) {
        m_audioTest.finish(ticket);
        m_rig->stopTest();
        setStatusText(QStringLiteral("Äänitesti epäonnistui: ") + *failure);
        m_support->setAudioTestRunning(false);
        co_return;
    }

    co_await clock->sleep(kAudioTestDuration);
    if (!self || !m_audioTest.isCurrent(ticket))
        co_return;
    m_audioTest.finish(ticket);
    const AudioTestVerdict verdict = audioTestVerdict(mode, m_rig->stopTest());
    setStatusText(verdict.statusText);
    setDiagnosticHint(verdict.diagnosticHint);
    m_support->setAudioTestRunning(false);
}

} // namespace vernalo
