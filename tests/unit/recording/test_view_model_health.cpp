// Audio health of a live recording through the controller: the repairs it makes by itself (each
// once per recording), the microphones it must keep, and capture that ends by itself.
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

    void startLiveIn(AudioInputMode mode)
    {
        vm = h->build();
        vm->settings()->setInputMode(mode);
        h->expectSession(kSession);
        QString why;
        QVERIFY2(h->startLive(&why), qPrintable(why));
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

    // A microphone muted in the sound server, or one already heard, stays through any silence
    // although another stable microphone is at hand: the silence is the speaker's choice.
    void keptMicrophoneIsNeverReplaced_data()
    {
        QTest::addColumn<bool>("speakFirst");
        QTest::addColumn<bool>("mute");
        QTest::addColumn<int>("silentPolls"); // 2.5 s each
        QTest::addColumn<QString>("hint");
        const QString muted = QStringLiteral("Mikrofoni on mykistetty.");
        QTest::newRow("muted from the start") << false << true << 5 << muted;
        QTest::newRow("muted after speaking") << true << true << 5 << muted;
        QTest::newRow("silent 35 s after speaking")
            << true << false << 14
            << QStringLiteral("Puhetta ei havaita. Tarkista valittu mikrofoni.");
    }
    void keptMicrophoneIsNeverReplaced()
    {
        QFETCH(bool, speakFirst);
        QFETCH(bool, mute);
        QFETCH(int, silentPolls);
        QFETCH(QString, hint);
        h->audio.addSource(kSecondUsbId, QStringLiteral("Podcast Mic"), QStringLiteral("usb"));
        CHECKED(startLiveIn(AudioInputMode::Microphone));
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
        const auto mic = AudioInputMode::Microphone, both = AudioInputMode::MicrophoneAndSystem;
        QTest::newRow("microphone unplugged") << both << false << false;
        QTest::newRow("server restart, both") << both << true << false;
        QTest::newRow("server restart, devices late") << mic << true << true;
    }
    void endedCaptureIsReopened()
    {
        QFETCH(AudioInputMode, mode);
        QFETCH(bool, serverLost);
        QFETCH(bool, devicesLate);
        h->audio.addSource(kSecondUsbId, QStringLiteral("Podcast Mic"), QStringLiteral("usb"));
        CHECKED(startLiveIn(mode));
        // Unanswered metadata polls: no health rule repairs anything meanwhile.
        h->backend.on("GET", QStringLiteral("/v1/sessions/") + kSession,
                      ScriptedResponse::silence());
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
        QVERIFY2(vm->statusText().startsWith(serverLost ? "Kuuntelen..." : "Mikrofoni vaihdettu"),
                 qPrintable(vm->statusText()));
        QCOMPARE(h->microphoneStream()->target().sourceId,
                 serverLost ? ControllerHarness::kMicrophoneId : kSecondUsbId);
    }

    // Each repair runs once per recording however long its cause lasts.
    void eachRepairRunsOncePerRecording_data()
    {
        QTest::addColumn<Repair>("repair");
        QTest::addColumn<int>("microphoneOpensAfter");
        QTest::newRow("switch to a stable microphone") << Repair::StableMicrophone << 2;
        QTest::newRow("restart of the microphone of a mixed recording")
            << Repair::MixedRestart << 2;
        QTest::newRow("system audio turned into a mixed recording") << Repair::SystemFallback << 1;
    }
    void eachRepairRunsOncePerRecording()
    {
        QFETCH(Repair, repair);
        QFETCH(int, microphoneOpensAfter);

        QByteArray meta = R"({"status":"active"})";
        switch (repair) {
        case Repair::StableMicrophone:
            // Only a headset at the start; two stable microphones appear, so after the first
            // switch there is still another.
            h->audio.sources.clear();
            h->audio.addSource(kHeadsetId, QStringLiteral("Jabra Evolve Headset"),
                               QStringLiteral("bluetooth"), QStringLiteral("headset"));
            h->audio.defaultSourceId = kHeadsetId;
            CHECKED(startLiveIn(AudioInputMode::Microphone));
            h->audio.addSource(ControllerHarness::kMicrophoneId, QStringLiteral("Desk Mic"),
                               QStringLiteral("usb"));
            h->audio.addSource(kSecondUsbId, QStringLiteral("Front Mic"), QStringLiteral("pci"));
            break;
        case Repair::MixedRestart:
            CHECKED(startLiveIn(AudioInputMode::MicrophoneAndSystem));
            meta = R"({"status":"active","audioFrameCount":60,"finalCount":1})";
            break;
        case Repair::SystemFallback:
            CHECKED(startLiveIn(AudioInputMode::SystemAudio));
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
        QCOMPARE(microphoneOpens(), microphoneOpensAfter);
        QCOMPARE(exports.size(), repair == Repair::SystemFallback ? 1 : 0);
        QVERIFY(vm->isRecording());
        // The automatic diagnostics of the fallback are left on disk.
        if (repair == Repair::SystemFallback)
            QVERIFY(h->waitFor(
                [&] { return QFileInfo::exists(vm->support()->lastDiagnosticsPath()); }));
    }
};

VERNALO_TEST_MAIN(ViewModelHealthTest)
#include "test_view_model_health.moc"
