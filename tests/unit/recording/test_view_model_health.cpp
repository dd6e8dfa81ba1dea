// Audio health of a live recording through the controller: the repairs it makes by itself (each
// once per recording), what reaches the wire after a switch, the system-audio fallback, the live
// microphone change, and the live diagnostics line.
#include "support/controller_harness.h"
#include "support/test_environment.h"

#include <QFileInfo>
#include <QtTest>

using namespace vernalo;
using namespace vernalo::test;
using namespace std::chrono_literals;

namespace {

const QString kSession = QStringLiteral("rec-1");
constexpr quint32 kHeadsetId = 21;
constexpr quint32 kSecondUsbId = 12;
const QByteArray kSilence(3200, '\0');

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
        m_logStart = ControllerHarness::logText().size();
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
        return static_cast<int>(ControllerHarness::logText().mid(m_logStart).count(fragment));
    }

    // `opened` sources were asked for (-1: any number), none is left open, nothing was sent.
    void verifyAudioTestLeftNothing(int opened)
    {
        QVERIFY(!vm->support()->isAudioTestRunning());
        QVERIFY(vm->canStart());
        if (opened >= 0)
            QCOMPARE(h->audio.openRequests.size(), opened);
        QCOMPARE(h->audio.openStreams().size(), 0);
        QCOMPARE(h->requests("POST", QStringLiteral("/v1/sessions")).size(), 0);
        QCOMPARE(h->stream.connectionCount(), 0);
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

    // System audio arrives raw but never converts: on the second update the recording turns
    // mixed, once, leaves its diagnostics file, and the added microphone goes out.
    void silentSystemSourceFallsBackToMixed()
    {
        startLiveIn(AudioInputMode::SystemAudio);
        QSignalSpy exports(vm, &TranscriptionViewModel::fallbackDiagnosticsRequested);
        RawAudioFrames frames = ControllerHarness::framesOf(QByteArray(960, '\x11'));
        frames.format = SampleFormat::Unsupported;
        h->systemStream()->deliver(frames);
        serverMeta(R"({"status":"active"})");
        QCOMPARE(vm->settings()->inputMode(), AudioInputMode::SystemAudio);
        serverMeta(R"({"status":"active"})");
        QVERIFY(h->waitFor(
            [&] { return vm->settings()->inputMode() == AudioInputMode::MicrophoneAndSystem; }));
        QVERIFY(vm->fallbackNoticeVisible());
        QCOMPARE(exports.size(), 1);
        QCOMPARE(exports.first().first().toString(), QStringLiteral("raw-without-pcm"));
        QVERIFY(h->waitFor([&] {
            return vm->support()->lastDiagnosticsFileName().startsWith(
                "vernalo-diagnoosi-auto-raw-without-pcm-");
        }));
        QVERIFY(QFileInfo::exists(vm->support()->lastDiagnosticsPath()));
        QCOMPARE(vm->statusText(),
                 QStringLiteral("Kuuntelen... (Näyttö 1 • Kaikki sovellukset + Desk Mic)"));
        serverMeta(R"({"status":"active"})");
        QCOMPARE(exports.size(), 1);
        // Alone after two chunks without a system partner.
        const int before = h->audioReceived().size();
        for (int i = 0; i < 3; ++i)
            h->speak(ControllerHarness::testChunk(20 + i));
        QVERIFY(h->waitAudioChunks(before + 1));
        QCOMPARE(h->audioReceived().at(before), ControllerHarness::testChunk(20));
    }

    // The five-second audio test opens the sources of the mode, counts what they deliver, sends
    // nothing and judges the result.
    void audioTestCapturesFiveSecondsAndJudges_data()
    {
        QTest::addColumn<AudioInputMode>("mode");
        QTest::addColumn<QByteArray>("microphoneChunk");
        QTest::addColumn<QByteArray>("systemChunk");
        QTest::addColumn<QString>("status");
        QTest::addColumn<QString>("hintStart");
        const QByteArray tone = ControllerHarness::testChunk(3);
        const QString ok = QStringLiteral("Äänitesti valmis: taso ok");
        QTest::newRow("microphone delivers nothing")
            << AudioInputMode::Microphone << QByteArray() << QByteArray()
            << "Äänitesti valmis: Ei havaittua audiodataa"
            << "Äänitesti: frameja 0, mic 0, systeemi 0, avg 0.000, huippu 0.000.";
        QTest::newRow("microphone delivers digital silence")
            << AudioInputMode::Microphone << kSilence << QByteArray()
            << "Äänitesti valmis: audiodata hyvin hiljainen"
            << "Äänitesti: frameja 50, mic 50, systeemi 0, avg 0.000, huippu 0.000.";
        QTest::newRow("microphone hears a tone")
            << AudioInputMode::Microphone << tone << QByteArray() << ok
            << "Äänitesti: frameja 50, mic 50, systeemi 0, avg 0.1";
        QTest::newRow("system audio plays") << AudioInputMode::SystemAudio << tone << tone << ok
                                            << "Äänitesti: frameja 50, mic 0, systeemi 50, avg 0.1";
        QTest::newRow("mixed with a silent microphone")
            << AudioInputMode::MicrophoneAndSystem << QByteArray() << tone << ok
            << "Äänitesti: frameja 50, mic 0, systeemi 50, avg 0.1";
    }
    void audioTestCapturesFiveSecondsAndJudges()
    {
        QFETCH(AudioInputMode, mode);
        QFETCH(QByteArray, microphoneChunk);
        QFETCH(QByteArray, systemChunk);
        QFETCH(QString, status);
        QFETCH(QString, hintStart);
        vm = h->build();
        vm->settings()->setInputMode(mode);
        vm->runAudioQualityTest();
        QVERIFY(vm->support()->isAudioTestRunning());
        QCOMPARE(vm->statusText(), QStringLiteral("Äänitesti käynnissä (5 s)..."));
        // No recording while a test runs.
        vm->startRecording();
        QCOMPARE(vm->statusText(), QStringLiteral("Odota, että äänitesti valmistuu"));
        QVERIFY(!vm->isStartingRecording() && !vm->canStart());
        const bool withMicrophone = mode != AudioInputMode::SystemAudio;
        QCOMPARE(h->microphoneStream() != nullptr, withMicrophone);
        QCOMPARE(h->systemStream() != nullptr, mode != AudioInputMode::Microphone);
        for (int i = 0; i < 50; ++i) {
            if (withMicrophone && !microphoneChunk.isEmpty())
                h->speak(microphoneChunk);
            if (!systemChunk.isEmpty())
                h->playSystemAudio(systemChunk);
            h->advance(99ms);
            if (i == 20) // a second press does nothing
                vm->runAudioQualityTest();
        }
        QVERIFY(vm->support()->isAudioTestRunning());
        h->advance(50ms);
        QCOMPARE(vm->statusText(), status);
        QVERIFY2(vm->diagnosticHint().startsWith(hintStart), qPrintable(vm->diagnosticHint()));
        verifyAudioTestLeftNothing(withMicrophone + (mode != AudioInputMode::Microphone));
    }

    void audioTestSourceThatWillNotStart_data()
    {
        QTest::addColumn<AudioInputMode>("mode");
        QTest::addColumn<bool>("serverReachable");
        QTest::addColumn<QString>("status");
        QTest::newRow("system audio refused by the sound server")
            << AudioInputMode::SystemAudio << false
            << "Äänitesti epäonnistui: Systeemiäänen käyttöoikeus puuttuu (äänipalvelin).";
        QTest::newRow("microphone that does not open")
            << AudioInputMode::Microphone << true
            << "Äänitesti epäonnistui: Audio engine ei ole käyttövalmis";
        // The microphone opened first is closed again.
        QTest::newRow("mixed, system audio fails after the microphone")
            << AudioInputMode::MicrophoneAndSystem << true
            << "Äänitesti epäonnistui: Systeemiäänen kaappausta ei voitu käynnistää.";
    }
    void audioTestSourceThatWillNotStart()
    {
        QFETCH(AudioInputMode, mode);
        QFETCH(bool, serverReachable);
        QFETCH(QString, status);
        vm = h->build();
        vm->settings()->setInputMode(mode);
        h->audio.reachable = serverReachable;
        const AudioServerError broken {QStringLiteral("pulse"), 5, QStringLiteral("No entity")};
        if (mode == AudioInputMode::Microphone)
            h->audio.failingSources.insert(ControllerHarness::kMicrophoneId, broken);
        else
            h->audio.monitorFailure = broken;
        vm->runAudioQualityTest();
        QCOMPARE(vm->statusText(), status);
        QCOMPARE(vm->permissions()->showSystemAudioPermissionHelp(), !serverReachable);
        verifyAudioTestLeftNothing(-1);
        h->advance(6s);
        QCOMPARE(vm->statusText(), status);
    }

    // No test while a recording runs: the recording's capture is untouched.
    void noAudioTestWhileRecording()
    {
        startLiveIn(AudioInputMode::Microphone);
        vm->runAudioQualityTest();
        QCOMPARE(vm->statusText(), QStringLiteral("Pysäytä tallennus ennen äänitestiä"));
        QVERIFY(!vm->support()->isAudioTestRunning());
        QCOMPARE(h->audio.openRequests.size(), 1);
        h->speak(ControllerHarness::testChunk(4));
        QVERIFY(h->waitAudioChunks(1));
        QCOMPARE(h->audioReceived().last(), ControllerHarness::testChunk(4));
    }
};

VERNALO_TEST_MAIN(ViewModelHealthTest)
#include "test_view_model_health.moc"
