// The pure rules behind the capture sources: device classification and ranking, the source
// lists, and the sound-server helpers (monitor mixing, stable ids).
#include "audio/capture_source_lists.h"
#include "audio/input_device_selection.h"
#include "pulse/monitor_mixer.h"
#include "pulse/stable_source_id.h"
#include "support/test_environment.h"

#include <QtTest>
#include <vector>

using namespace vernalo;

namespace {

// "7:bw" is device 7 ("dev7"), built in (b), wireless headset (w), virtual (v).
QList<InputDeviceInfo> devices(const QStringList &codes)
{
    QList<InputDeviceInfo> out;
    for (const QString &code : codes) {
        InputDeviceInfo device;
        device.id = code.section(u':', 0, 0).toUInt();
        device.name = QStringLiteral("dev%1").arg(device.id);
        const QString flags = code.section(u':', 1);
        device.isBuiltIn = flags.contains(u'b');
        device.isWirelessHeadset = flags.contains(u'w');
        device.isVirtual = flags.contains(u'v');
        out.append(device);
    }
    return out;
}

std::optional<quint32> optionalId(int id)
{
    return id < 0 ? std::nullopt : std::optional<quint32>(id);
}

} // namespace

class CaptureRulesTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    // Source "description|bus|form factor|class|server name"; then "=>" and the
    // flags and name classified.
    void classification_data()
    {
        QTest::addColumn<QString>("row");
        QTest::newRow("bluetooth by bus") << "Car Kit|bluetooth|hands-free|sound|x => w/Car Kit";
        QTest::newRow("wireless by name only") << "AirPods Pro||||x => w/AirPods Pro";
        QTest::newRow("name rule wh- prefix") << "WH-1000XM4||||x => w/WH-1000XM4";
        QTest::newRow("wired usb headset") << "USB Headset|usb|headset|sound|x => /USB Headset";
        QTest::newRow("pci card is built in") << "HD Audio|pci||sound|x => b/HD Audio";
        QTest::newRow("internal form factor") << "Digital Mic||internal||x => b/Digital Mic";
        QTest::newRow("built-in by name") << "Built-in Audio||||x => b/Built-in Audio";
        QTest::newRow("filter source") << "Echo-Cancel Source|||filter|x => v/Echo-Cancel Source";
        QTest::newRow("null source") << "Null Input|||abstract|x => v/Null Input";
        QTest::newRow("loopback by name") << "Loopback Audio|usb|||x => v/Loopback Audio";
        QTest::newRow("webcam on usb stays plain") << "HD Webcam|usb|webcam||x => /HD Webcam";
        QTest::newRow("no description: server name") << "||||alsa_input.test => /alsa_input.test";
        QTest::newRow("no name at all") << "|||| => /AudioDevice-42";
    }
    void classification()
    {
        QFETCH(QString, row);
        const QStringList f = row.section(QStringLiteral(" => "), 0, 0).split(u'|');
        const AudioSourceInfo info {42, f[4], f[0], 1, 0.0, f[1], f[2], f[3]};
        const InputDeviceInfo device = classifyInputDevice(info);
        const QString flags = QString(device.isVirtual ? "v" : "") + (device.isBuiltIn ? "b" : "") +
            (device.isWirelessHeadset ? "w" : "");
        QCOMPARE(flags + u'/' + device.name, row.section(QStringLiteral(" => "), 1));
    }

    // The device a start opens (pick) and the one that replaces an unstable choice (fallback).
    void devicePicks_data()
    {
        QTest::addColumn<bool>("fallback");
        QTest::addColumn<QStringList>("codes");
        QTest::addColumn<int>("requested"); // -1: none
        QTest::addColumn<int>("defaultId"); // -1: none
        QTest::addColumn<int>("expected"); // -1: none
        // clang-format off
        QTest::newRow("pick: no devices") << false << QStringList {} << 1 << -1 << -1;
        QTest::newRow("pick: headset preferred, built-in present") << false << QStringList {"1:w", "2:b"} << 1 << -1 << 2;
        QTest::newRow("pick: headset preferred, default usb") << false << QStringList {"1:w", "3:", "4:"} << 1 << 4 << 4;
        QTest::newRow("pick: virtual preferred: as chosen") << false << QStringList {"1:v", "2:b"} << 1 << -1 << 1;
        QTest::newRow("pick: only a headset, preferred") << false << QStringList {"1:w"} << 1 << -1 << 1;
        QTest::newRow("pick: headset, others unstable") << false << QStringList {"1:w", "2:v", "3:w"} << 1 << -1 << 1;
        QTest::newRow("pick: built-in beats default") << false << QStringList {"3:", "2:b"} << -1 << 3 << 2;
        QTest::newRow("pick: no built-in: default") << false << QStringList {"3:", "4:"} << -1 << 4 << 4;
        QTest::newRow("pick: nothing ranked: first") << false << QStringList {"3:", "4:"} << -1 << -1 << 3;
        QTest::newRow("pick: preferred vanished") << false << QStringList {"3:", "2:b"} << 99 << -1 << 2;
        QTest::newRow("pick: first not virtual") << false << QStringList {"1:v", "2:w", "3:w"} << -1 << 3 << 2;
        QTest::newRow("pick: all virtual: the default") << false << QStringList {"1:v", "2:v"} << -1 << 2 << 2;
        QTest::newRow("pick: all virtual, default elsewhere") << false << QStringList {"1:v", "2:v"} << -1 << 7 << 1;
        QTest::newRow("fallback: headset replaced by built-in") << true << QStringList {"1:w", "2:b"} << 1 << -1 << 2;
        QTest::newRow("fallback: not for a non-headset") << true << QStringList {"1:", "2:b"} << 1 << -1 << -1;
        QTest::newRow("fallback: not for an unknown id") << true << QStringList {"1:w", "2:b"} << 5 << -1 << -1;
        QTest::newRow("fallback: nothing stable") << true << QStringList {"1:w", "2:v"} << 1 << -1 << -1;
        QTest::newRow("fallback: the default when no built-in") << true << QStringList {"1:w", "2:", "3:"} << 1 << 3 << 3;
        // clang-format on
    }
    void devicePicks()
    {
        QFETCH(bool, fallback);
        QFETCH(QStringList, codes);
        QFETCH(int, requested);
        QFETCH(int, defaultId);
        const auto picked = fallback
            ? stableFallbackInputDevice(devices(codes), requested, optionalId(defaultId))
            : pickPreferredInputDevice(devices(codes), optionalId(requested),
                                       optionalId(defaultId));
        QTEST(picked ? int(picked->id) : -1, "expected");
        QCOMPARE(rankStableCandidates(devices({"1:b", "2:", "3:b"}), 2, 1)->id, 3u);
    }

    // Playbacks "id=name@pid"; options "id=name", "!" marking an id that differs from the bundle.
    void applicationGrouping_data()
    {
        QTest::addColumn<QStringList>("playbacks");
        QTest::addColumn<QString>("expected");
        // clang-format off
        QTest::newRow("none") << QStringList {} << "";
        QTest::newRow("one application, two streams") << QStringList {"firefox=Firefox@1", "firefox=Firefox@1"} << "firefox=Firefox";
        QTest::newRow("ordered by name, case-insensitive")
            << QStringList {"zed=zed player@1", "amp=Amp@1", "mid=middle@1"}
            << "amp=Amp|mid=middle|zed=zed player";
        QTest::newRow("first name of a group, trimmed") << QStringList {"chat=Voice@1", "chat=  Chat  @1"} << "chat=Chat";
        QTest::newRow("unnamed stream, named sibling") << QStringList {"chat=@1", "chat=Chat@1"} << "chat=Chat";
        QTest::newRow("no name at all shows the id") << QStringList {"mpv= @1"} << "mpv=mpv";
        QTest::newRow("unknown origin left out") << QStringList {"=Loopback@1", "mpv=mpv@1"} << "mpv=mpv";
        QTest::newRow("this process never offered") << QStringList {"helper=Helper@4242", "mpv=mpv@1"} << "mpv=mpv";
        QTest::newRow("this program never offered") << QStringList {"vernalo=Vernalo@7", "mpv=mpv@1"} << "mpv=mpv";
        // clang-format on
    }
    void applicationGrouping()
    {
        QFETCH(QStringList, playbacks);
        QList<AudioPlaybackInfo> list;
        for (const QString &p : playbacks)
            list.append({p.section(u'=', 0, 0), p.section(u'=', 1).section(u'@', 0, 0),
                         p.section(u'@', 1).toLongLong()});
        QStringList parts;
        for (const auto &option : groupApplicationSources(list, 4242, QStringLiteral("vernalo")))
            parts << option.id + (option.id == option.bundleIdentifier ? "" : "!") + u'=' +
                    option.name;
        QTEST(parts.join(u'|'), "expected");
    }

    // Each step of the script: "+k" / "-k" adds or removes input k, "k:n*v" pushes n stereo
    // frames of value v to input k (n may be a half frame), "=n*v" takes and expects n frames
    // of v, "=" expects nothing.
    void monitorMixer_data()
    {
        QTest::addColumn<int>("maxLag");
        QTest::addColumn<QString>("script");
        // clang-format off
        QTest::newRow("summed once both arrived") << 100 << "+1 +2 1:10*0.25 = 2:4*0.5 =4*0.75 2:6*0.5 =6*0.75";
        QTest::newRow("a silent input holds the other back only so long") << 100 << "+1 +2 1:150*0.25 =50*0.25 1:20*0.25 =20*0.25";
        QTest::newRow("an ended input's tail still leaves") << 1000 << "+1 +2 1:8*0.5 2:3*0.25 =3*0.75 -1 2:2*0.25 =2*0.75 -2 =3*0.5 =";
        QTest::newRow("a moved input comes back without losing audio") << 1000 << "+1 +2 1:4*0.5 -1 +1 1:2*0.5 2:6*0.25 =6*0.75";
        QTest::newRow("torn frames and strangers are ignored") << 100 << "+1 1:1.5*0.5 9:5*1 =1*0.5";
        // clang-format on
    }
    void monitorMixer()
    {
        QFETCH(int, maxLag);
        QFETCH(QString, script);
        pulse::MonitorMixer mixer(2, maxLag);
        for (const QString &step : script.split(u' ')) {
            const double frames = step.section(u':', 1).section(u'*', 0, 0).toDouble();
            const float value = step.section(u'*', 1).toFloat();
            if (step[0] == u'+')
                mixer.addInput(step.mid(1).toUInt());
            else if (step[0] == u'-')
                mixer.removeInput(step.mid(1).toUInt());
            else if (step[0] != u'=')
                mixer.push(step.section(u':', 0, 0).toUInt(),
                           std::vector<float>(size_t(frames * 2), value));
            else
                QVERIFY2(mixer.take() ==
                             std::vector<float>(size_t(step.mid(1).section(u'*', 0, 0).toInt() * 2),
                                                value),
                         qPrintable(step));
        }
        // A lone input passes through sample for sample.
        pulse::MonitorMixer alone(2, 100);
        alone.addInput(7);
        const std::vector<float> in = {0.1f, -0.1f, 0.2f, -0.2f, 0.3f, -0.3f};
        alone.push(7, in);
        QCOMPARE(alone.take(), in);
    }
};

VERNALO_TEST_MAIN(CaptureRulesTest)
#include "test_capture_rules.moc"
