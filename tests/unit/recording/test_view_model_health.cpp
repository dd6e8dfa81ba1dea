// Audio health of a live recording through the controller: the repairs it makes by itself (each
// once per recording), what reaches the wire after a switch, the system-audio fallback, the live
// microphone change, and the live diagnostics line.
#include "foundation/app_log.h"
#include "support/controller_harness.h"
#include "support/test_environment.h"

#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <QtTest>

using namespace vernalo;
using namespace vernalo::test;
using namespace std::chrono_literals;

namespace {

const QString kSession = QStringLiteral("rec-1");
constexpr quint32 kHeadsetId = 21;
constexpr quint32 kSecondUsbId = 12;
const QByteArray kSilence(3200, '\0');

QString logSince(qsizetype offset)
{
    return AppLog::snapshot(1 << 22).mid(offset);
}

qsizetype logSize()
{
    return AppLog::snapshot(1 << 22).size();
}

RawAudioFrames unconvertibleFrames()
{
    RawAudioFrames frames = ControllerHarness::framesOf(QByteArray(960, '\x11'));
    frames.format = SampleFormat::Unsupported;
    return frames;
}

enum class Repair { StableMicrophone, MixedRestart, SystemFallback };

} // namespace

Q_DECLARE_METATYPE(Repair)

class ViewModelHealthTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<ControllerHarness> h;
    TranscriptionViewModel *vm = nullptr;
    qsizetype m_logStart = 0;
    QString m_session = kSession;

    // Only a Bluetooth headset is plugged in when the controller starts.
    void onlyHeadsetPlugged()
    {
        h->audio.sources.clear();
        h->audio.addSource(kHeadsetId, QStringLiteral("Jabra Evolve Headset"),
                           QStringLiteral("bluetooth"), QStringLiteral("headset"));
        h->audio.defaultSourceId = kHeadsetId;
    }

    void startLiveIn(AudioInputMode mode, const QString &session = kSession)
    {
        if (!vm)
            vm = h->build();
        vm->settings()->setInputMode(mode);
        m_session = session;
        h->expectSession(session);
        QString why;
        QVERIFY2(h->startLive(&why), qPrintable(why));
        m_logStart = logSize();
    }

    void serverMeta(const QByteArray &json)
    {
        h->setServerMeta(m_session, json);
        QVERIFY(h->nextSessionMetaPoll(m_session));
    }

    // Metadata polls stay unanswered from now on, so no health rule rewrites the hint or
    // repairs anything while a test watches the liveness check alone.
    void holdMetaPolls()
    {
        h->backend.on("GET", QStringLiteral("/v1/sessions/") + m_session,
                      ScriptedResponse::silence());
    }

    int logCount(const QString &fragment) const
    {
        return static_cast<int>(logSince(m_logStart).count(fragment));
    }

    int microphoneOpens() const
    {
        return static_cast<int>(std::count_if(
            h->audio.openRequests.begin(), h->audio.openRequests.end(),
            [](const CaptureTarget &t) { return t.kind == CaptureTarget::Kind::Source; }));
    }

private Q_SLOTS:
    void init()
    {
        h = std::make_unique<ControllerHarness>();
        QVERIFY(h->start());
        vm = nullptr;
    }
    void cleanup() { h.reset(); }

    // A headset that hands out nothing but digital silence is replaced by a wired microphone
    // plugged in meanwhile; the switch is stored, and the new device's audio is what goes out.
    void silentHeadsetIsReplacedAndTheNewMicrophoneIsOnTheWire()
    {
        onlyHeadsetPlugged();
        startLiveIn(AudioInputMode::Microphone);
        QCOMPARE(h->microphoneStream()->target().sourceId, kHeadsetId);
        holdMetaPolls();
        for (int i = 0; i < 3; ++i)
            h->speak(kSilence);
        QVERIFY(h->waitAudioChunks(3));
        h->audio.addSource(ControllerHarness::kMicrophoneId, QStringLiteral("Desk Mic"),
                           QStringLiteral("usb"));

        h->advance(4s);
        QCOMPARE(vm->statusText(), QStringLiteral("Mikrofoni vaihdettu: Desk Mic"));
        QCOMPARE(vm->diagnosticHint(),
                 QStringLiteral("Jabra Evolve Headset ei tuottanut mikrofonidataa. Vaihdettiin "
                                "automaattisesti vakaampaan mikrofoniin: Desk Mic."));
        QCOMPARE(vm->sources()->selectedInputDeviceID(), uint(ControllerHarness::kMicrophoneId));
        QCOMPARE(h->storedConfiguration().preferredInputDeviceID,
                 std::optional<quint32>(ControllerHarness::kMicrophoneId));
        QCOMPARE(h->audio.openStreams().size(), 1);
        QCOMPARE(h->microphoneStream()->target().sourceId, ControllerHarness::kMicrophoneId);
        QCOMPARE(logCount(QStringLiteral("microphone stable fallback trigger=mic-liveness-start "
                                         "previous=Jabra Evolve Headset fallback=Desk Mic")),
                 1);

        const int before = h->audioReceived().size();
        h->speak(ControllerHarness::testChunk(7));
        h->speak(ControllerHarness::testChunk(8));
        QVERIFY(h->waitAudioChunks(before + 2));
        // The keep-alive's silence may interleave; the sound is exactly the new device's.
        QList<QByteArray> sound = h->audioReceived().mid(before);
        sound.removeIf([](const QByteArray &chunk) { return chunk == kSilence; });
        QCOMPARE(
            sound,
            (QList<QByteArray> {ControllerHarness::testChunk(7), ControllerHarness::testChunk(8)}));
        // Sound from the new device keeps its liveness check quiet.
        h->advance(4s);
        QCOMPARE(logCount(QStringLiteral("microphone liveness failed")), 0);
        QCOMPARE(logCount(QStringLiteral("microphone stable fallback")), 1);
    }

    // A microphone muted in the sound server, or one already heard, stays through any silence
    // although another stable microphone is at hand: the silence is the speaker's choice.
    void keptMicrophoneIsNeverReplaced_data()
    {
        QTest::addColumn<AudioInputMode>("mode");
        QTest::addColumn<bool>("speakFirst");
        QTest::addColumn<bool>("mute");
        QTest::addColumn<int>("silentPolls"); // 2.5 s each
        QTest::addColumn<QString>("hint");
        const QString muted = QStringLiteral("Mikrofoni on mykistetty.");
        const auto mic = AudioInputMode::Microphone;
        QTest::newRow("muted from the start") << mic << false << true << 5 << muted;
        QTest::newRow("muted after speaking") << mic << true << true << 5 << muted;
        QTest::newRow("silent after speaking") << mic << true << false << 5 << QString();
        QTest::newRow("silent 35 s after speaking")
            << mic << true << false << 14
            << QStringLiteral("Puhetta ei havaita. Tarkista valittu mikrofoni.");
        QTest::newRow("mixed, muted from the start")
            << AudioInputMode::MicrophoneAndSystem << false << true << 5 << muted;
    }
    void keptMicrophoneIsNeverReplaced()
    {
        QFETCH(AudioInputMode, mode);
        QFETCH(bool, speakFirst);
        QFETCH(bool, mute);
        QFETCH(int, silentPolls);
        QFETCH(QString, hint);
        h->audio.addSource(kSecondUsbId, QStringLiteral("Podcast Mic"), QStringLiteral("usb"));
        startLiveIn(mode);
        h->setServerMeta(kSession, R"({"status":"active","audioFrameCount":100,"finalCount":1})");
        if (speakFirst) {
            h->speak(ControllerHarness::testChunk(1));
            QVERIFY(h->nextSessionMetaPoll(kSession));
        }
        h->audio.sources.first().muted = mute;
        for (int poll = 0; poll < silentPolls; ++poll) {
            h->speak(kSilence);
            h->playSystemAudio(ControllerHarness::testChunk(poll));
            QVERIFY(h->nextSessionMetaPoll(kSession));
        }
        QCOMPARE(h->microphoneStream()->target().sourceId, ControllerHarness::kMicrophoneId);
        QCOMPARE(h->storedConfiguration().preferredInputDeviceID, std::nullopt);
        QCOMPARE(vm->diagnosticHint(), hint);
    }

    // Capture that ends by itself during a recording. An unplugged microphone (the server stays)
    // is replaced at once, even a heard one. While the sound server is gone the status says so;
    // when it is back the sources reopen by themselves, also when its devices show up late.
    void endedCaptureIsReopened_data()
    {
        QTest::addColumn<AudioInputMode>("mode");
        QTest::addColumn<bool>("serverLost");
        QTest::addColumn<bool>("devicesLate");
        QTest::addColumn<QString>("logLine");
        const QString resumed = QStringLiteral("capture resumed after sound server restart mode=");
        const auto mic = AudioInputMode::Microphone, both = AudioInputMode::MicrophoneAndSystem;
        QTest::newRow("microphone unplugged") << both << false << false
                                              << "microphone stable fallback trigger=mic-ended "
                                                 "previous=Desk Mic fallback=Podcast Mic";
        QTest::newRow("server restart, system audio")
            << AudioInputMode::SystemAudio << true << false << resumed + "systemAudio";
        QTest::newRow("server restart, both") << both << true << false << resumed + rawValue(both);
        QTest::newRow("server restart, devices late")
            << mic << true << true << resumed + "microphone";
    }
    void endedCaptureIsReopened()
    {
        QFETCH(AudioInputMode, mode);
        QFETCH(bool, serverLost);
        QFETCH(bool, devicesLate);
        QFETCH(QString, logLine);
        h->audio.addSource(kSecondUsbId, QStringLiteral("Podcast Mic"), QStringLiteral("usb"));
        startLiveIn(mode);
        holdMetaPolls();
        h->speak(ControllerHarness::testChunk(1));
        const int streamsOpen = h->audio.openStreams().size();
        const QList<AudioSourceInfo> sources = h->audio.sources;
        h->audio.sources.removeFirst();
        h->audio.reachable = !serverLost;
        for (FakeCaptureStream *stream : h->audio.openStreams()) {
            if (serverLost || stream == h->microphoneStream())
                stream->endWith(h->audio.unreachableError);
        }
        if (serverLost) {
            emit h->audio.events().serverLost(h->audio.unreachableError);
            h->advance(10s);
            QCOMPARE(vm->statusText(), QStringLiteral("Äänipalvelin ei vastaa"));
            h->audio.sources = devicesLate ? QList<AudioSourceInfo>() : sources;
            h->audio.reachable = true;
            emit h->audio.events().serverBack(QStringLiteral("fake 1.0"));
            h->audio.sources = sources;
            h->advance(1s);
        }
        QCOMPARE(h->audio.openStreams().size(), streamsOpen);
        QCOMPARE(logCount(logLine), 1);
        QVERIFY2(vm->statusText().startsWith(serverLost ? "Kuuntelen..." : "Mikrofoni vaihdettu"),
                 qPrintable(vm->statusText()));
        if (mode != AudioInputMode::SystemAudio)
            QCOMPARE(h->microphoneStream()->target().sourceId,
                     serverLost ? ControllerHarness::kMicrophoneId : kSecondUsbId);
    }

    // Each repair runs once per recording however long its cause lasts.
    void eachRepairRunsOncePerRecording_data()
    {
        QTest::addColumn<Repair>("repair");
        QTest::addColumn<QString>("logLine");
        QTest::addColumn<int>("microphoneOpensAfter");
        QTest::newRow("switch to a stable microphone")
            << Repair::StableMicrophone << "microphone stable fallback trigger=" << 2;
        QTest::newRow("restart of the microphone of a mixed recording")
            << Repair::MixedRestart << "mixed microphone restart trigger=mixed-mic-no-frames" << 2;
        QTest::newRow("system audio turned into a mixed recording")
            << Repair::SystemFallback << "system fallback trigger=stt-audio-timeout" << 1;
    }
    void eachRepairRunsOncePerRecording()
    {
        QFETCH(Repair, repair);
        QFETCH(QString, logLine);
        QFETCH(int, microphoneOpensAfter);

        QByteArray meta = R"({"status":"active"})";
        switch (repair) {
        case Repair::StableMicrophone:
            // Two stable microphones appear: after the first switch there is still another.
            onlyHeadsetPlugged();
            startLiveIn(AudioInputMode::Microphone);
            h->audio.addSource(ControllerHarness::kMicrophoneId, QStringLiteral("Desk Mic"),
                               QStringLiteral("usb"));
            h->audio.addSource(kSecondUsbId, QStringLiteral("Front Mic"), QStringLiteral("pci"));
            break;
        case Repair::MixedRestart:
            startLiveIn(AudioInputMode::MicrophoneAndSystem);
            meta = R"({"status":"active","audioFrameCount":60,"finalCount":1})";
            break;
        case Repair::SystemFallback:
            startLiveIn(AudioInputMode::SystemAudio);
            meta = R"({"status":"active","audioFrameCount":30,"finalCount":1,)"
                   R"("lastSttError":{"message":"Audio timeout"}})";
            break;
        }
        QSignalSpy exports(vm, &TranscriptionViewModel::fallbackDiagnosticsRequested);
        h->setServerMeta(kSession, meta);
        // The cause persists for 15 s: six metadata polls and several liveness checks. No
        // microphone ever delivers, the system audio always does.
        for (int poll = 0; poll < 6; ++poll) {
            h->playSystemAudio(ControllerHarness::testChunk(poll));
            QVERIFY(h->nextSessionMetaPoll(kSession));
        }
        QCOMPARE(logCount(logLine), 1);
        QCOMPARE(microphoneOpens(), microphoneOpensAfter);
        QCOMPARE(exports.size(), repair == Repair::SystemFallback ? 1 : 0);
        QVERIFY(vm->isRecording());
    }

    // Every start forgets the repairs of the recording before it.
    void aNewRecordingMayRepairAgain()
    {
        startLiveIn(AudioInputMode::MicrophoneAndSystem);
        const QByteArray meta = R"({"status":"active","audioFrameCount":60,"finalCount":1})";
        serverMeta(meta);
        serverMeta(meta);
        QCOMPARE(logCount(QStringLiteral("mixed microphone restart trigger=")), 1);
        QVERIFY(h->stopAndFinish());

        startLiveIn(AudioInputMode::MicrophoneAndSystem, QStringLiteral("rec-2"));
        serverMeta(meta);
        QCOMPARE(logCount(QStringLiteral("mixed microphone restart trigger=")), 1);
    }

    // System audio arrives raw but never converts: on the second update the recording turns
    // mixed when that is allowed, or only says what to do when it is not.
    void silentSystemSourceFallsBackToMixed_data()
    {
        QTest::addColumn<bool>("allowed");
        QTest::newRow("fallback allowed") << true;
        QTest::newRow("fallback not allowed") << false;
    }
    void silentSystemSourceFallsBackToMixed()
    {
        QFETCH(bool, allowed);
        vm = h->build();
        vm->settings()->setAllowSystemFallback(allowed);
        startLiveIn(AudioInputMode::SystemAudio);
        QSignalSpy exports(vm, &TranscriptionViewModel::fallbackDiagnosticsRequested);
        h->systemStream()->deliver(unconvertibleFrames());

        const QString notConverting = QStringLiteral(
            "Systeemiääni saapuu, mutta formaatti ei muunnu PCM:ksi. Lähetä terminaalilogi.");
        const QString enableFallback = QStringLiteral(
            "Systeemiääni ei muodosta PCM-dataa. Ota varatila käyttöön tai vaihda tilaan Mikki + "
            "systeemiääni.");
        serverMeta(R"({"status":"active"})");
        QCOMPARE(vm->diagnosticHint(), allowed ? notConverting : enableFallback);
        QCOMPARE(vm->settings()->inputMode(), AudioInputMode::SystemAudio);
        serverMeta(R"({"status":"active"})");

        if (!allowed) {
            QCOMPARE(vm->diagnosticHint(), enableFallback);
            serverMeta(R"({"status":"active"})");
            QCOMPARE(vm->settings()->inputMode(), AudioInputMode::SystemAudio);
            QVERIFY(!vm->fallbackNoticeVisible());
            QCOMPARE(exports.size(), 0);
            QCOMPARE(h->microphoneStream(), nullptr);
            return;
        }
        QVERIFY(h->waitFor(
            [&] { return vm->settings()->inputMode() == AudioInputMode::MicrophoneAndSystem; }));
        QVERIFY(vm->fallbackNoticeVisible());
        QCOMPARE(exports.size(), 1);
        QCOMPARE(exports.first().first().toString(), QStringLiteral("raw-without-pcm"));
        QVERIFY(vm->lastHealthMeta().has_value());
        // The fallback leaves its diagnostics file behind, named after its trigger.
        QVERIFY(h->waitFor([&] {
            return vm->support()->lastDiagnosticsFileName().startsWith(
                "vernalo-diagnoosi-auto-raw-without-pcm-");
        }));
        QVERIFY(QFileInfo::exists(vm->support()->lastDiagnosticsPath()));
        QCOMPARE(vm->diagnosticHint(),
                 QStringLiteral("Systeemiääni ei tuottanut dataa. Vaihdettu automaattisesti "
                                "tilaan Mikki + systeemiääni. (Diagnoosi: ") +
                     vm->support()->lastDiagnosticsFileName() + u')');
        QCOMPARE(vm->statusText(),
                 QStringLiteral("Kuuntelen... (Näyttö 1 • Kaikki sovellukset + Desk Mic)"));
        QVERIFY(h->microphoneStream());
        serverMeta(R"({"status":"active"})");
        QCOMPARE(exports.size(), 1);

        // The microphone now goes out: alone after two chunks without a system partner.
        const int before = h->audioReceived().size();
        for (int i = 0; i < 3; ++i)
            h->speak(ControllerHarness::testChunk(20 + i));
        QVERIFY(h->waitAudioChunks(before + 1));
        QCOMPARE(h->audioReceived().at(before), ControllerHarness::testChunk(20));
        // The added microphone is watched like any other.
        h->advance(4s);
        QCOMPARE(logCount(QStringLiteral("microphone liveness failed")), 0);
    }

    // A microphone chosen during a recording replaces the running one; chosen during a
    // system-audio recording it is added, and the recording is a mixed one from then on.
    void microphoneChangedDuringRecording_data()
    {
        QTest::addColumn<AudioInputMode>("mode");
        QTest::addColumn<QString>("requestedStatus");
        QTest::addColumn<AudioInputMode>("modeAfter");
        QTest::addColumn<QString>("hint");
        QTest::newRow("microphone recording")
            << AudioInputMode::Microphone << "Vaihdetaan mikrofonia..."
            << AudioInputMode::Microphone << "Mikrofoni vaihdettu käynnissä olevaan tallennukseen.";
        QTest::newRow("system-audio recording")
            << AudioInputMode::SystemAudio << "Lisätään mikrofoni tallennukseen..."
            << AudioInputMode::MicrophoneAndSystem
            << "Mikrofoni liitetty käynnissä olevaan tallennukseen. Odotetaan mikrofonidataa...";
    }
    void microphoneChangedDuringRecording()
    {
        QFETCH(AudioInputMode, mode);
        QFETCH(QString, requestedStatus);
        QFETCH(AudioInputMode, modeAfter);
        QFETCH(QString, hint);
        h->audio.addSource(kSecondUsbId, QStringLiteral("Podcast Mic"), QStringLiteral("usb"));
        startLiveIn(mode);
        holdMetaPolls();
        QStringList statuses;
        connect(vm, &TranscriptionViewModel::statusTextChanged, this,
                [&] { statuses.append(vm->statusText()); });

        vm->setPreferredInputDevice(kSecondUsbId);
        QVERIFY(h->waitFor([&] { return vm->statusText() != requestedStatus; }));
        QCOMPARE(
            statuses,
            (QStringList {requestedStatus, QStringLiteral("Mikrofoni vaihdettu: Podcast Mic")}));
        QCOMPARE(vm->diagnosticHint(), hint);
        QCOMPARE(vm->settings()->inputMode(), modeAfter);
        QCOMPARE(h->microphoneStream()->target().sourceId, kSecondUsbId);
        QCOMPARE(h->audio.openStreams().size(), mode == AudioInputMode::Microphone ? 1 : 2);

        // The new microphone is watched like the first: silent for 4 s, it gives way to the
        // other stable one.
        h->speak(kSilence);
        h->advance(4s);
        QCOMPARE(logCount(QStringLiteral("microphone stable fallback "
                                         "trigger=mic-liveness-live-device-change "
                                         "previous=Podcast Mic fallback=Desk Mic")),
                 1);
        QCOMPARE(vm->settings()->inputMode(), modeAfter);
        QVERIFY(vm->isRecording());
    }

    // While paused the rules only say so, and the liveness check does not switch anything.
    void pausedRecordingIsLeftAlone()
    {
        onlyHeadsetPlugged();
        startLiveIn(AudioInputMode::MicrophoneAndSystem);
        h->audio.addSource(ControllerHarness::kMicrophoneId, QStringLiteral("Desk Mic"),
                           QStringLiteral("usb"));
        vm->pauseRecording();
        serverMeta(R"({"status":"active","audioFrameCount":600})");
        QCOMPARE(vm->diagnosticHint(), QStringLiteral("Tallennus tauolla"));
        h->advance(8s);
        QCOMPARE(vm->sources()->selectedInputDeviceID(), 0u);
        QCOMPARE(logCount(QStringLiteral("microphone stable fallback")), 0);
        QCOMPARE(microphoneOpens(), 1);
    }

    // The live line counts what went out and how old the last answers are.
    void realtimeDiagnosticsLabel()
    {
        startLiveIn(AudioInputMode::Microphone);
        QSignalSpy changes(vm, &TranscriptionViewModel::realtimeDiagnosticsLabelChanged);
        h->speak(ControllerHarness::testChunk(1));
        QVERIFY(h->waitAudioChunks(1));
        QVERIFY(changes.size() > 0);
        h->advance(1500ms);
        const QString label = vm->realtimeDiagnosticsLabel();
        QVERIFY2(label.startsWith(QStringLiteral("Audio 1 • mic 1/0.")), qPrintable(label));
        QVERIFY2(label.contains(QStringLiteral(" • sys 0/0.000 • partial - • final - • meta 1s • "
                                               "mixDrop m:0 s:0")),
                 qPrintable(label));
    }
};

VERNALO_TEST_MAIN(ViewModelHealthTest)
#include "test_view_model_health.moc"
