// Capture against a real, private PulseAudio server: real streams, real timing, real failures.
#include "audio/microphone_capture.h"
#include "audio/system_audio_capture.h"
#include "pulse/pulse_audio_system.h"
#include "support/pulse_fixture.h"
#include "support/test_environment.h"
#include "support/tone_analysis.h"
#include "wire/clock.h"

#include <algorithm>
#include <cmath>
#include <QGuiApplication>
#include <QScopeGuard>
#include <QtTest>

using namespace vernalo;
using namespace std::chrono_literals;

namespace {

// Real audio through a real sound server takes real time, and a loaded machine may take much
// longer than the sound lasts: the deadline only bounds a run that has failed.
constexpr int kAudioDeadlineMs = 30000;
const double kSineLevel = 2.0 / M_PI; // mean |sin| of a full-scale sine

// Everything a capture emitted, in order.
struct ChunkLog
{
    QList<QByteArray> chunks;

    template<typename Capture> explicit ChunkLog(Capture *capture)
    {
        QObject::connect(capture, &Capture::chunkReady,
                         [this](const QByteArray &chunk) { chunks.append(chunk); });
    }

    QByteArray audible(double minimumLevel = 0.05) const
    {
        QByteArray joined;
        for (const QByteArray &chunk : chunks) {
            if (estimatePCM16Level(chunk) >= minimumLevel)
                joined += chunk;
        }
        return joined;
    }
    int audibleChunks(double minimumLevel = 0.05) const
    {
        return static_cast<int>(audible(minimumLevel).size() / 3200);
    }
    // The level of a chunk wholly inside the sound: the median of the audible ones, so the
    // chunks the sound starts or ends in, or a gap of a player starved by a busy machine, do
    // not count.
    double level(double minimumLevel = 0.05) const
    {
        QList<double> levels;
        for (const QByteArray &chunk : chunks) {
            if (estimatePCM16Level(chunk) >= minimumLevel)
                levels.append(estimatePCM16Level(chunk));
        }
        std::sort(levels.begin(), levels.end());
        return levels.isEmpty() ? 0.0 : levels.at(levels.size() / 2);
    }
    // Chunks in which the tone is at least this strong.
    int chunksWith(double frequency, double amplitude) const
    {
        return static_cast<int>(
            std::count_if(chunks.begin(), chunks.end(), [&](const QByteArray &c) {
                return test::toneAmplitude(c, frequency) >= amplitude;
            }));
    }
};

std::optional<AudioInputDeviceOption> deviceNamed(const QList<AudioInputDeviceOption> &devices,
                                                  const QString &name)
{
    for (const AudioInputDeviceOption &device : devices) {
        if (device.name == name)
            return device;
    }
    return std::nullopt;
}

// The port's first look at the server has its own short deadline, which a busy machine can miss;
// the tests start from a port that has seen the server and the microphones on it.
bool sawServer(PulseAudioSystem &audio)
{
    return QTest::qWaitFor(
        [&] {
            const auto sources = audio.listSources();
            return audio.serverStatus().reachable && !sources.error &&
                std::any_of(sources.sources.begin(), sources.sources.end(),
                            [](const auto &s) { return s.name == QLatin1String("test_internal"); });
        },
        kAudioDeadlineMs);
}

} // namespace

class PulseCaptureTest : public QObject
{
    Q_OBJECT

    test::PulseFixture m_server;
    std::optional<test::PulseFixture::FakeMicrophone> m_headset;
    std::optional<test::PulseFixture::FakeMicrophone> m_usb;
    std::optional<test::PulseFixture::FakeMicrophone> m_internal;

private Q_SLOTS:
    void initTestCase()
    {
        QString error;
        QVERIFY2(m_server.start(&error), qPrintable(error));
        m_headset = m_server.addPipeMicrophone(
            QStringLiteral("test_headset"), QStringLiteral("Travel Headset"),
            {QStringLiteral("device.bus=bluetooth"), QStringLiteral("device.form_factor=headset")});
        m_usb = m_server.addPipeMicrophone(
            QStringLiteral("test_usb"), QStringLiteral("Desk USB Headset"),
            {QStringLiteral("device.bus=usb"), QStringLiteral("device.form_factor=headset")}, 44100,
            2, true);
        m_internal =
            m_server.addPipeMicrophone(QStringLiteral("test_internal"), QStringLiteral("Front Mic"),
                                       {QStringLiteral("device.bus=pci")});
        QVERIFY(m_headset && m_usb && m_internal);
    }

    void cleanupTestCase() { m_server.stop(); }
    void cleanup() { m_server.stopPlayers(); }

    // What the server reports becomes the device list: monitors are never offered, only
    // Bluetooth makes a wireless headset, a wired USB headset is a stable microphone. The id is
    // a hash of the name: the same on every listing, never the server index.
    void devicesAreClassifiedFromServerProperties()
    {
        PulseAudioSystem audio, again;
        QVERIFY(sawServer(audio) && sawServer(again));
        const QList<InputDeviceInfo> devices = inputDeviceInventory(audio.listSources()).devices;
        const QList<AudioInputDeviceOption> listed =
            MicrophoneCapture(&again).listAvailableInputDevices();
        const auto kind = [&](const QString &name) {
            const auto option = deviceNamed(listed, name);
            for (const InputDeviceInfo &d : devices) {
                if (d.name == name && option && option->id == d.id)
                    return QString(d.isWirelessHeadset ? "w" : "") + (d.isBuiltIn ? "b" : "") +
                        (d.isVirtual ? "v" : "") + u'+';
            }
            return QStringLiteral("absent");
        };
        QCOMPARE(kind(QStringLiteral("Travel Headset")), QStringLiteral("w+"));
        QCOMPARE(kind(QStringLiteral("Desk USB Headset")), QStringLiteral("+"));
        QCOMPARE(kind(QStringLiteral("Front Mic")), QStringLiteral("b+"));
        QCOMPARE(kind(QStringLiteral("Monitor of TestSink")), QStringLiteral("absent"));
    }

    void microphoneToneArrivesAsChunks_data()
    {
        QTest::addColumn<QString>("deviceName");
        QTest::addColumn<double>("frequency");
        QTest::newRow("float stereo 44.1 kHz") << "Desk USB Headset" << 440.0;
        QTest::newRow("s16 mono 48 kHz") << "Front Mic" << 1000.0;
    }
    void microphoneToneArrivesAsChunks()
    {
        QFETCH(QString, deviceName);
        QFETCH(double, frequency);
        const auto &microphone = deviceName == QLatin1String("Front Mic") ? m_internal : m_usb;

        PulseAudioSystem audio;
        QVERIFY(sawServer(audio));
        MicrophoneCapture capture(&audio);
        ChunkLog log(&capture);
        const auto device = deviceNamed(capture.listAvailableInputDevices(), deviceName);
        QVERIFY(device);
        capture.setPreferredInputDeviceID(device->id);
        capture.start();
        QCOMPARE(capture.activeInputDeviceName(), deviceName);

        QVERIFY(m_server.writeTone(*microphone, frequency, 0.5, 1.0));
        QTRY_VERIFY_WITH_TIMEOUT(log.audibleChunks() >= 8, kAudioDeadlineMs);
        capture.stop();

        for (const QByteArray &chunk : std::as_const(log.chunks))
            QCOMPARE(chunk.size(), 3200);
        QVERIFY2(std::abs(log.level() - 0.5 * kSineLevel) < 0.03,
                 qPrintable(QString::number(log.level())));
        QCOMPARE(test::dominantFrequency(log.audible()), frequency);
    }

    // The user picked the Bluetooth headset; the capture opens the built-in microphone
    // instead, and what the headset hears does not leak in.
    void stableChoiceSkipsBluetoothHeadset()
    {
        PulseAudioSystem audio;
        QVERIFY(sawServer(audio));
        MicrophoneCapture capture(&audio);
        ChunkLog log(&capture);
        const auto headset =
            deviceNamed(capture.listAvailableInputDevices(), QStringLiteral("Travel Headset"));
        QVERIFY(headset);
        capture.setPreferredInputDeviceID(headset->id);
        capture.start();
        QCOMPARE(capture.activeInputDeviceName(), QStringLiteral("Front Mic"));

        QVERIFY(m_server.writeTone(*m_headset, 1500.0, 0.5, 1.0));
        QVERIFY(m_server.writeTone(*m_internal, 440.0, 0.5, 1.0));
        // Chunk by chunk: a pipe source may still hold what an earlier test left unread.
        QTRY_VERIFY_WITH_TIMEOUT(log.chunksWith(440.0, 0.4) >= 8, kAudioDeadlineMs);
        capture.stop();
        QCOMPARE(log.chunksWith(1500.0, 0.01), 0);
    }

    void unloadingTheSourceMidCaptureReportsTheError()
    {
        const auto doomed =
            m_server.addPipeMicrophone(QStringLiteral("test_doomed"), QStringLiteral("Doomed Mic"),
                                       {QStringLiteral("device.bus=usb")});
        QVERIFY(doomed);
        PulseAudioSystem audio;
        QVERIFY(sawServer(audio));
        MicrophoneCapture capture(&audio);
        ChunkLog log(&capture);
        QList<AudioServerError> stops;
        QObject::connect(&capture, &MicrophoneCapture::captureEnded,
                         [&](const AudioServerError &error) { stops.append(error); });
        capture.setPreferredInputDeviceID(
            deviceNamed(capture.listAvailableInputDevices(), QStringLiteral("Doomed Mic"))->id);
        capture.start();
        QCOMPARE(capture.activeInputDeviceName(), QStringLiteral("Doomed Mic"));
        QVERIFY(m_server.writeTone(*doomed, 440.0, 0.5, 0.3));
        QTRY_VERIFY_WITH_TIMEOUT(!log.chunks.isEmpty(), kAudioDeadlineMs);

        QVERIFY(m_server.pactl(
            {QStringLiteral("unload-module"), QString::number(doomed->moduleIndex)}));
        QTRY_COMPARE_WITH_TIMEOUT(stops.size(), 1, kAudioDeadlineMs);
        QVERIFY(!capture.isRunning());
        QCOMPARE(stops.first().domain, QStringLiteral("pulse"));
        QVERIFY(stops.first().code != 0);
        // The stored preference is gone from the list; a restart picks a stable device.
        capture.stop();
        capture.start();
        QCOMPARE(capture.activeInputDeviceName(), QStringLiteral("Front Mic"));
        capture.stop();
    }

    // All applications means every output, not only the default one. Short sounds (a chat
    // notification) that end while their monitor is being connected leave the capture going,
    // and the microphone, the default source, never stands in for them (on PipeWire it once
    // did, and stalled the whole capture).
    void playedToneArrivesThroughSystemCapture_data()
    {
        QTest::addColumn<QString>("sink");
        QTest::addColumn<int>("blips");
        QTest::newRow("default output") << QString() << 0;
        QTest::newRow("headset that is not the default") << QStringLiteral("test_headset_out") << 0;
        QTest::newRow("after short sounds, microphone speaking") << QString() << 12;
    }
    void playedToneArrivesThroughSystemCapture()
    {
        QFETCH(QString, sink);
        QFETCH(int, blips);
        if (!sink.isEmpty())
            QVERIFY(m_server.loadModule(QStringLiteral("module-null-sink"),
                                        {QStringLiteral("sink_name=%1").arg(sink)}));
        QVERIFY(m_server.pactl({QStringLiteral("set-default-source"), m_internal->sourceName}));
        PulseAudioSystem audio;
        QVERIFY(sawServer(audio));
        SystemClock clock;
        SystemAudioCapture capture(&audio, &clock);
        ChunkLog log(&capture);
        capture.start();
        QCOMPARE(capture.activeSourceName(), QStringLiteral("Näyttö 1 • Kaikki sovellukset"));
        if (blips > 0)
            QVERIFY(m_server.writeTone(*m_internal, 1000.0, 0.5, 4.0));
        for (int i = 0; i < blips; ++i) {
            QProcess *blip = m_server.playTone(QStringLiteral("blip"), 330.0, 0.3, 0.01);
            QTRY_VERIFY_WITH_TIMEOUT(blip->state() == QProcess::NotRunning, kAudioDeadlineMs);
        }
        m_server.playTone(QStringLiteral("tone-player"), 660.0, 0.5, 1.2, sink);
        QTRY_VERIFY_WITH_TIMEOUT(log.chunksWith(660.0, 0.2) >= 6, kAudioDeadlineMs);
        capture.stop();
        QCOMPARE(log.chunksWith(1000.0, 0.05), 0);
        QCOMPARE(test::dominantFrequency(log.audible(0.2)), 660.0);
        QVERIFY2(std::abs(log.level(0.2) - 0.5 * kSineLevel) < 0.03,
                 qPrintable(QString::number(log.level(0.2))));
    }

    // The application's stream ends and it starts another one: the capture follows without
    // reporting a failure.
    void applicationCaptureFollowsItsNextStream()
    {
        PulseAudioSystem audio;
        QVERIFY(sawServer(audio));
        SystemClock clock;
        SystemAudioCapture capture(&audio, &clock);
        QProcess *first = m_server.playTone(QStringLiteral("tone-gamma"), 500.0, 0.4, 0.6);
        auto playing = [&] {
            const auto applications = capture.listApplicationSources();
            return std::any_of(applications.begin(), applications.end(), [](const auto &a) {
                return a.bundleIdentifier == QLatin1String("tone-gamma");
            });
        };
        QTRY_VERIFY_WITH_TIMEOUT(playing(), kAudioDeadlineMs);

        ChunkLog log(&capture);
        int stops = 0;
        QObject::connect(&capture, &SystemAudioCapture::captureEnded,
                         [&](const AudioServerError &) { ++stops; });
        capture.setPreferredApplicationBundleID(QStringLiteral("tone-gamma"));
        capture.start();
        QCOMPARE(capture.activeSourceName(), QStringLiteral("Näyttö 1 • tone-gamma"));
        QTRY_VERIFY_WITH_TIMEOUT(first->state() == QProcess::NotRunning, kAudioDeadlineMs);
        const int chunksOfFirst = log.chunks.size();

        m_server.playTone(QStringLiteral("tone-gamma"), 900.0, 0.4, 0.8);
        QTRY_VERIFY_WITH_TIMEOUT(test::toneAmplitude(log.audible(0.1), 900.0) > 0.1,
                                 kAudioDeadlineMs);
        QVERIFY(log.chunks.size() > chunksOfFirst);
        QCOMPARE(stops, 0);
        QVERIFY(capture.isCapturing());
        capture.stop();
    }

    // A meeting application connected to the server but not playing yet is offered, stays the
    // capture's target, and is heard alone once it plays.
    void silentApplicationIsOfferedAndFollowed()
    {
        QProcess silent; // pactl's binary name is the application id
        silent.start(QStringLiteral("pactl"), {QStringLiteral("subscribe")});
        QVERIFY(silent.waitForStarted());
        auto end = qScopeGuard([&] {
            silent.kill();
            silent.waitForFinished();
        });
        PulseAudioSystem audio;
        QVERIFY(sawServer(audio));
        SystemClock clock;
        SystemAudioCapture capture(&audio, &clock);
        auto offered = [&] {
            const auto applications = capture.listApplicationSources();
            return std::any_of(applications.begin(), applications.end(), [](const auto &a) {
                return a.bundleIdentifier == QLatin1String("pactl");
            });
        };
        QTRY_VERIFY_WITH_TIMEOUT(offered(), kAudioDeadlineMs);
        ChunkLog log(&capture);
        capture.setPreferredApplicationBundleID(QStringLiteral("pactl"));
        capture.start();
        QCOMPARE(capture.activeSourceName(), QStringLiteral("Näyttö 1 • pactl"));
        m_server.playTone(QStringLiteral("tone-other"), 1250.0, 0.4, 3.0);
        m_server.playTone(QStringLiteral("pactl"), 440.0, 0.4, 1.0);
        QTRY_VERIFY_WITH_TIMEOUT(log.audibleChunks(0.1) >= 5, kAudioDeadlineMs);
        capture.stop();
        QVERIFY(test::toneAmplitude(log.audible(0.1), 440.0) > 0.3);
        QVERIFY(test::toneAmplitude(log.audible(0.1), 1250.0) < 0.01);
    }

    // A server that crashes or hangs: the port says so within its deadline without holding up
    // the caller, ends the streams, and is back by itself once the server is.
    void serverLossIsReportedAndRecovered_data()
    {
        QTest::addColumn<bool>("crash");
        QTest::newRow("hangs") << false;
        QTest::newRow("crashes and restarts") << true;
    }
    void serverLossIsReportedAndRecovered()
    {
        QFETCH(bool, crash);
        PulseAudioSystem audio;
        QVERIFY(sawServer(audio));
        QSignalSpy lost(&audio.events(), &AudioSystemEvents::serverLost);
        QSignalSpy back(&audio.events(), &AudioSystemEvents::serverBack);
        CaptureOpenResult opened = audio.openCapture(CaptureTarget::allApplications(1024));
        QVERIFY(opened.stream);
        QSignalSpy ended(opened.stream.get(), &AudioCaptureStream::ended);
        QVERIFY(crash ? m_server.kill() : m_server.freeze(true));
        QTRY_COMPARE_WITH_TIMEOUT(lost.size(), 1, kAudioDeadlineMs);
        QTRY_COMPARE_WITH_TIMEOUT(ended.size(), 1, kAudioDeadlineMs);
        QVERIFY(!audio.serverStatus().reachable && audio.listSources().error);
        QVERIFY(!audio.openCapture(CaptureTarget::allApplications(1024)).stream);

        QString error;
        QVERIFY2(crash ? m_server.restart(&error) : m_server.freeze(false), qPrintable(error));
        QTRY_COMPARE_WITH_TIMEOUT(back.size(), 1, kAudioDeadlineMs);
        QVERIFY(audio.serverStatus().reachable);
        SystemClock clock;
        SystemAudioCapture capture(&audio, &clock);
        ChunkLog log(&capture);
        capture.start();
        m_server.playTone(QStringLiteral("tone-after"), 660.0, 0.5, 1.0);
        QTRY_VERIFY_WITH_TIMEOUT(log.audibleChunks(0.2) >= 3, kAudioDeadlineMs);
        capture.stop();
        if (crash) // the microphones went with the old server
            initTestCase();
    }
};

int main(int argc, char *argv[])
{
    vernalo::test::TestEnvironment::prepareProcess();
    // The displays are the screens; the offscreen platform has one.
    QGuiApplication app(argc, argv);
    PulseCaptureTest test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "test_pulse_capture.moc"
