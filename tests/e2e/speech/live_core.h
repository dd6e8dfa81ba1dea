#pragma once

#include "audio/microphone_capture.h"
#include "audio/system_audio_capture.h"
#include "auth/auth_manager.h"
#include "backend/stt_api_client.h"
#include "foundation/secure_settings.h"
#include "foundation/stt_configuration.h"
#include "pulse/pulse_audio_system.h"
#include "recording/transcription_view_model.h"
#include "sessions/session_history_store.h"
#include "support/fake_desktop_services.h"
#include "support/pulse_fixture.h"
#include "support/reference_backend.h"
#include "wire/clock.h"

#include <memory>
#include <optional>
#include <QNetworkAccessManager>
#include <QTemporaryDir>
#include <QUrl>

namespace vernalo::test {

// The client's core as the application wires it, without screens: a real sound server (the
// process's PULSE_SERVER), the real clock, the REST, stream and auth clients against one
// backend address, a settings file, history folder and export folder of its own. Only the
// desktop dialogs are scripted.
class LiveCore
{
public:
    LiveCore(const QUrl &backend, const QString &apiKey);
    ~LiveCore();

    LiveCore(const LiveCore &) = delete;
    LiveCore &operator=(const LiveCore &) = delete;

    // Signs in and hands the user and token to the controller, as the main window does.
    bool signIn(const QString &email, const QString &password, QString *why = nullptr);
    // Selects the microphone shown under this name; false when it is not listed.
    bool selectMicrophone(const QString &name);

    // Presses start and waits (real time) until the recording is live.
    bool startRecording(const QString &mode, QString *why = nullptr);
    // Presses stop and waits until the closing steps (final fetch, save, export) are done.
    bool stopRecording(QString *why = nullptr);

    TranscriptionViewModel *controller() const { return m_controller.get(); }
    AuthManager *auth() const { return m_auth.get(); }
    QString historyFolder() const { return m_history->directory(); }
    QString exportFolder() const;

    FakeDesktopServices desktop;

private:
    QTemporaryDir m_folder;
    SystemClock m_clock;
    QNetworkAccessManager m_network;
    std::unique_ptr<SecureSettings> m_settings;
    std::unique_ptr<STTConfigurationStore> m_configStore;
    std::unique_ptr<SessionHistoryStore> m_history;
    std::unique_ptr<STTAPIClient> m_api;
    std::unique_ptr<PulseAudioSystem> m_audio;
    std::unique_ptr<MicrophoneCapture> m_microphone;
    std::unique_ptr<SystemAudioCapture> m_systemAudio;
    std::unique_ptr<AuthManager> m_auth;
    std::unique_ptr<TranscriptionViewModel> m_controller;
};

// What the e2e tests run against: a private sound server with a 16 kHz mono "Meeting Mic" and
// a 48 kHz stereo "Studio Mic", the reference server recognising speech with the e2e grammar,
// and the core wired to it. Torn down in that order backwards.
struct SpeechRig
{
    PulseFixture sound;
    std::optional<PulseFixture::FakeMicrophone> microphone;
    std::optional<PulseFixture::FakeMicrophone> studioMicrophone;
    QTemporaryDir serverData;
    std::unique_ptr<ServerProcess> server;
    std::unique_ptr<LiveCore> core;

    ~SpeechRig();
    bool start(const QString &apiKey, const QStringList &serverArguments, QString *error);
};

// A generated clip: the path of its 16 kHz mono .wav, and its samples (a name ending in .raw is
// already in its microphone's format); empty samples when the clips were not generated.
QString clipPath(const QString &name);
QByteArray clipSamples(const QString &name);

// True when every sentence is in the text, each after the one before it. Words are compared in
// lower case, letters and digits only, so time stamps, speaker brackets, punctuation and line
// layout do not count; a sentence may differ from what was written down by one word edit
// (insert, delete, replace) in five, rounded down, as a recognizer may mishear it.
bool containsInOrder(const QString &text, const QStringList &sentences);

// One sentence of containsInOrder().
inline bool heard(const QString &text, const QString &sentence)
{
    return containsInOrder(text, {sentence});
}

} // namespace vernalo::test
