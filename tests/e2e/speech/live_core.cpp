#include "live_core.h"

#include "support/socket_wait.h"

#include <algorithm>
#include <qcoro/qcorotask.h>
#include <QFile>
#include <QRegularExpression>

namespace vernalo::test {

LiveCore::LiveCore(const QUrl &backend, const QString &apiKey)
{
    m_settings =
        std::make_unique<SecureSettings>(m_folder.filePath(QStringLiteral("Vernalo.conf")));
    m_settings->setValue(QLatin1String(AuthManager::kAuthURLKey), backend.toString());
    m_configStore = std::make_unique<STTConfigurationStore>(m_settings.get());
    STTConfiguration config = STTConfiguration::defaults();
    config.baseURL = backend.toString();
    config.apiKey = apiKey;
    m_configStore->save(config);

    m_history =
        std::make_unique<SessionHistoryStore>(m_folder.filePath(QStringLiteral("sessions")));
    m_api = std::make_unique<STTAPIClient>(&m_network, &m_clock);
    // One display, as a desktop session without a window system would offer.
    m_audio = std::make_unique<PulseAudioSystem>([] {
        return QList<AudioDisplayInfo> {AudioDisplayInfo {1, 1920, 1080}};
    });
    m_microphone = std::make_unique<MicrophoneCapture>(m_audio.get());
    m_systemAudio = std::make_unique<SystemAudioCapture>(m_audio.get(), &m_clock);
    m_auth = std::make_unique<AuthManager>(m_settings.get(), &m_network, &desktop, &m_clock);

    TranscriptionViewModel::Collaborators collaborators;
    collaborators.configStore = m_configStore.get();
    collaborators.historyStore = m_history.get();
    collaborators.apiClient = m_api.get();
    collaborators.streamClientFactory = defaultStreamClientFactory(&m_clock);
    collaborators.microphone = m_microphone.get();
    collaborators.systemAudio = m_systemAudio.get();
    collaborators.audioSystem = m_audio.get();
    collaborators.desktop = &desktop;
    collaborators.clock = &m_clock;
    collaborators.autoExportDirectory = exportFolder();
    m_controller = std::make_unique<TranscriptionViewModel>(std::move(collaborators));
}

// The controller goes first: it holds the captures, which hold the sound server.
LiveCore::~LiveCore()
{
    m_controller.reset();
    m_systemAudio.reset();
    m_microphone.reset();
}

QString LiveCore::exportFolder() const
{
    return m_folder.filePath(QStringLiteral("exports"));
}

bool LiveCore::signIn(const QString &email, const QString &password, QString *why)
{
    // The start-up restore finds nothing stored; let it finish before signing in.
    waitUntil([this] { return !m_auth->isChecking(); }, 10000);
    const bool signedIn = QCoro::waitFor(m_auth->login(email, password, true));
    if (!signedIn) {
        if (why)
            *why = m_auth->errorMessage();
        return false;
    }
    m_controller->updateAuthContext(m_auth->currentUserValue(),
                                    m_auth->currentBackendSessionToken().value_or(QString()));
    m_controller->refreshInputDevices();
    m_controller->permissions()->refreshMicrophonePermissionStatus(false);
    m_controller->permissions()->refreshSystemAudioPermissionStatus(false);
    return true;
}

bool LiveCore::selectMicrophone(const QString &name)
{
    m_controller->refreshInputDevices();
    for (const AudioInputDeviceOption &device : m_controller->sources()->availableInputDevices()) {
        if (device.name == name) {
            m_controller->setPreferredInputDevice(device.id);
            return m_controller->sources()->selectedInputDeviceID() == device.id;
        }
    }
    return false;
}

bool LiveCore::startRecording(const QString &mode, QString *why)
{
    TranscriptionViewModel *vm = m_controller.get();
    vm->settings()->setInputModeName(mode);
    vm->startRecording();
    const bool live =
        waitUntil([vm] { return vm->isRecording() || !vm->isStartingRecording(); }, 30000) &&
        vm->isRecording();
    if (!live && why)
        *why = vm->statusText() + QStringLiteral(" / ") + vm->diagnosticHint();
    return live;
}

bool LiveCore::stopRecording(QString *why)
{
    TranscriptionViewModel *vm = m_controller.get();
    vm->stopRecording();
    const bool stopped =
        waitUntil([vm] { return !vm->isRecording() && !vm->isStoppingRecording(); }, 30000);
    if (!stopped && why)
        *why = vm->statusText();
    return stopped;
}

SpeechRig::~SpeechRig()
{
    core.reset();
    server.reset();
    sound.stop();
}

bool SpeechRig::start(const QString &apiKey, const QStringList &serverArguments, QString *error)
{
    if (!sound.start(error))
        return false;
    const QStringList usb {QStringLiteral("device.bus=usb")};
    microphone = sound.addPipeMicrophone(QStringLiteral("e2e_mic"), QStringLiteral("Meeting Mic"),
                                         usb, 16000, 1);
    studioMicrophone = sound.addPipeMicrophone(QStringLiteral("e2e_studio"),
                                               QStringLiteral("Studio Mic"), usb, 48000, 2);
    if (!microphone || !studioMicrophone) {
        *error = QStringLiteral("the fake microphones did not load");
        return false;
    }
    server = std::make_unique<ServerProcess>(
        QStringLiteral(VERNALO_SERVER_BINARY),
        QStringList {"--data", serverData.path(), "--api-key", apiKey, "--recognizer",
                     "pocketsphinx", "--grammar", VERNALO_E2E_DATA_DIR "/e2e.jsgf"} +
            serverArguments);
    if (!server->start(error))
        return false;
    core = std::make_unique<LiveCore>(server->baseUrl(), apiKey);
    return true;
}

QString clipPath(const QString &name)
{
    return QStringLiteral(VERNALO_E2E_CLIPS_DIR "/") + name + QStringLiteral(".wav");
}

QByteArray clipSamples(const QString &name)
{
    if (!name.endsWith(QLatin1String(".raw")))
        return wavSamples(clipPath(name));
    QFile raw(QStringLiteral(VERNALO_E2E_CLIPS_DIR "/") + name);
    return raw.open(QIODevice::ReadOnly) ? raw.readAll() : QByteArray();
}

namespace {

QStringList normalisedWords(const QString &text)
{
    static const QRegularExpression separators(QStringLiteral("[^\\p{L}\\p{N}]+"));
    return text.toLower().split(separators, Qt::SkipEmptyParts);
}

// Edit distance with a free start and end in the text, from text word `from` on: entry j of the
// result is the best cost of matching the whole sentence so that the match ends after text word
// from + j.
QList<int> matchCosts(const QStringList &textWords, const QStringList &sentence, qsizetype from)
{
    const qsizetype n = textWords.size() - from;
    QList<int> previous(n + 1, 0);
    QList<int> row(n + 1, 0);
    for (qsizetype i = 1; i <= sentence.size(); ++i) {
        row[0] = static_cast<int>(i);
        for (qsizetype j = 1; j <= n; ++j) {
            const int replace =
                previous[j - 1] + (sentence[i - 1] == textWords[from + j - 1] ? 0 : 1);
            row[j] = std::min({replace, previous[j] + 1, row[j - 1] + 1});
        }
        std::swap(previous, row);
    }
    return previous;
}

} // namespace

bool containsInOrder(const QString &text, const QStringList &sentences)
{
    const QStringList words = normalisedWords(text);
    qsizetype from = 0;
    for (const QString &sentence : sentences) {
        const QStringList said = normalisedWords(sentence);
        const auto tolerance = said.size() / 5;
        const QList<int> costs = matchCosts(words, said, std::min(from, words.size()));
        const auto end = std::find_if(costs.cbegin(), costs.cend(),
                                      [tolerance](qsizetype cost) { return cost <= tolerance; });
        if (end == costs.cend())
            return false;
        from += end - costs.cbegin();
    }
    return true;
}

} // namespace vernalo::test
