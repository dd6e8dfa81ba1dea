// The recording controller over a real, private sound server: a Bluetooth headset muted in the
// server is kept and said to be muted; one that delivers nothing gives way to a wired microphone
// plugged in meanwhile, and the wired microphone's sound is what the stream receives from then
// on. Controller timers run on virtual time; capture and sockets are real.
#include "audio/pcm_format.h"
#include "foundation/app_log.h"
#include "pulse/pulse_audio_system.h"
#include "support/controller_harness.h"
#include "support/pulse_fixture.h"
#include "support/test_environment.h"
#include "support/tone_analysis.h"

#include <QtTest>

using namespace vernalo;
using namespace vernalo::test;
using namespace std::chrono_literals;

namespace {

constexpr int kAudioDeadlineMs = 10000;
const QString kSession = QStringLiteral("pulse-1");

QByteArray audibleFrom(const QList<QByteArray> &chunks, qsizetype first = 0)
{
    QByteArray joined;
    for (qsizetype i = first; i < chunks.size(); ++i) {
        if (estimatePCM16Level(chunks.at(i)) >= 0.05)
            joined += chunks.at(i);
    }
    return joined;
}

int audibleChunks(const QList<QByteArray> &chunks, qsizetype first = 0)
{
    return static_cast<int>(audibleFrom(chunks, first).size() / 3200);
}

} // namespace

class HealthPulseTest : public QObject
{
    Q_OBJECT

    PulseFixture m_server;
    std::optional<PulseFixture::FakeMicrophone> m_headset;

private Q_SLOTS:
    void initTestCase()
    {
        QString error;
        QVERIFY2(m_server.start(&error), qPrintable(error));
        m_headset = m_server.addPipeMicrophone(
            QStringLiteral("test_headset"), QStringLiteral("Travel Headset"),
            {QStringLiteral("device.bus=bluetooth"), QStringLiteral("device.form_factor=headset")});
        QVERIFY(m_headset);
    }
    void cleanupTestCase() { m_server.stop(); }

    void silentHeadsetCheckedAfterStart_data()
    {
        QTest::addColumn<bool>("muted");
        // Before the wired microphone exists: muting leaves nothing to switch to anyway.
        QTest::newRow("muted headset is kept") << true;
        QTest::newRow("dead headset is replaced") << false;
    }
    void silentHeadsetCheckedAfterStart()
    {
        QFETCH(bool, muted);
        // Set before the sound server is first asked, so its first answer has it.
        QVERIFY(m_server.pactl({QStringLiteral("set-source-mute"), m_headset->sourceName,
                                muted ? QStringLiteral("1") : QStringLiteral("0")}));
        PulseAudioSystem audio;
        ControllerHarness h;
        QVERIFY(h.start());
        h.useAudioSystem(&audio);
        TranscriptionViewModel *vm = h.build();
        vm->settings()->setInputMode(AudioInputMode::Microphone);
        h.expectSession(kSession);
        QString why;
        QVERIFY2(h.startLive(&why), qPrintable(why));
        QCOMPARE(h.microphone->activeInputDeviceName(), QStringLiteral("Travel Headset"));
        // Unanswered metadata polls keep the rules of the server's view out of this test.
        h.backend.on("GET", QStringLiteral("/v1/sessions/") + kSession,
                     ScriptedResponse::silence());

        if (muted) {
            h.advance(4s);
            QCOMPARE(vm->diagnosticHint(), QStringLiteral("Mikrofoni on mykistetty."));
            QVERIFY(h.stopAndFinish());
            return;
        }

        const auto wired =
            m_server.addPipeMicrophone(QStringLiteral("test_wired"), QStringLiteral("Desk USB Mic"),
                                       {QStringLiteral("device.bus=usb")});
        QVERIFY(wired);
        QTRY_VERIFY_WITH_TIMEOUT(audio.listSources().sources.constLast().name == wired->sourceName,
                                 kAudioDeadlineMs);
        // The one check after the start switches.
        const qsizetype logStart = AppLog::snapshot(1 << 22).size();
        h.advance(4s);
        QCOMPARE(AppLog::snapshot(1 << 22).mid(logStart).count(
                     QStringLiteral("microphone stable fallback trigger=mic-liveness-start "
                                    "previous=Travel Headset fallback=Desk USB Mic")),
                 1);
        QCOMPARE(vm->statusText(), QStringLiteral("Mikrofoni vaihdettu: Desk USB Mic"));
        QCOMPARE(h.microphone->activeInputDeviceName(), QStringLiteral("Desk USB Mic"));
        QVERIFY(vm->sources()->selectedInputDeviceID() != 0);
        QCOMPARE(h.storedConfiguration().preferredInputDeviceID,
                 std::optional<quint32>(vm->sources()->selectedInputDeviceID()));

        const qsizetype before = h.audioReceived().size();
        QVERIFY(m_server.writeTone(*wired, 1000.0, 0.5, 1.0));
        QVERIFY(m_server.writeTone(*m_headset, 1500.0, 0.5, 1.0));
        QTRY_VERIFY_WITH_TIMEOUT(audibleChunks(h.audioReceived(), before) >= 8, kAudioDeadlineMs);
        const QByteArray after = audibleFrom(h.audioReceived(), before);
        QCOMPARE(test::dominantFrequency(after), 1000.0);
        // The headset, though it speaks again, is no longer recorded.
        QVERIFY(test::toneAmplitude(after, 1500.0) < 0.01);
        QVERIFY(h.stopAndFinish());
    }
};

VERNALO_TEST_MAIN(HealthPulseTest)
#include "test_health_pulse.moc"
