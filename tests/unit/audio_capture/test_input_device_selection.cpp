#include "audio/input_device_selection.h"
#include "foundation/app_log.h"
#include "support/test_environment.h"

#include <QtTest>

using namespace vernalo;

namespace {

// "7:bw" is device 7 ("dev7"), built in (b), wireless headset (w), virtual (v).
QList<InputDeviceInfo> devices(const QStringList &codes)
{
    QList<InputDeviceInfo> out;
    for (const QString &code : codes) {
        const QStringList parts = code.split(QLatin1Char(':'));
        InputDeviceInfo device;
        device.id = parts[0].toUInt();
        device.name = QStringLiteral("dev%1").arg(device.id);
        const QString flags = parts.value(1);
        device.isBuiltIn = flags.contains(QLatin1Char('b'));
        device.isWirelessHeadset = flags.contains(QLatin1Char('w'));
        device.isVirtual = flags.contains(QLatin1Char('v'));
        out.append(device);
    }
    return out;
}

std::optional<quint32> optionalId(int id)
{
    return id < 0 ? std::nullopt : std::optional<quint32>(id);
}

QString newLogLines(qsizetype before)
{
    return AppLog::snapshot(1 << 22).mid(before);
}

} // namespace

class InputDeviceSelectionTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void classification_data()
    {
        QTest::addColumn<QString>("description");
        QTest::addColumn<QString>("bus");
        QTest::addColumn<QString>("formFactor");
        QTest::addColumn<QString>("deviceClass");
        QTest::addColumn<QString>("expectedName");
        QTest::addColumn<bool>("isVirtual");
        QTest::addColumn<bool>("isBuiltIn");
        QTest::addColumn<bool>("isWireless");

        QTest::newRow("bluetooth by bus") << "Car Kit"
                                          << "bluetooth"
                                          << "hands-free"
                                          << "sound"
                                          << "Car Kit" << false << false << true;
        QTest::newRow("wireless by name only") << "AirPods Pro"
                                               << ""
                                               << ""
                                               << ""
                                               << "AirPods Pro" << false << false << true;
        QTest::newRow("name rule wh- prefix") << "WH-1000XM4"
                                              << ""
                                              << ""
                                              << ""
                                              << "WH-1000XM4" << false << false << true;
        QTest::newRow("wired usb headset is not wireless")
            << "USB Headset"
            << "usb"
            << "headset"
            << "sound"
            << "USB Headset" << false << false << false;
        QTest::newRow("pci card is built in") << "Family 17h HD Audio"
                                              << "pci"
                                              << ""
                                              << "sound"
                                              << "Family 17h HD Audio" << false << true << false;
        QTest::newRow("internal form factor") << "Digital Microphone"
                                              << ""
                                              << "internal"
                                              << ""
                                              << "Digital Microphone" << false << true << false;
        QTest::newRow("built-in by name") << "Built-in Audio"
                                          << ""
                                          << ""
                                          << ""
                                          << "Built-in Audio" << false << true << false;
        QTest::newRow("filter source is virtual") << "Echo-Cancel Source"
                                                  << ""
                                                  << ""
                                                  << "filter"
                                                  << "Echo-Cancel Source" << true << false << false;
        QTest::newRow("null source is virtual") << "Null Input"
                                                << ""
                                                << ""
                                                << "abstract"
                                                << "Null Input" << true << false << false;
        QTest::newRow("loopback by name") << "Loopback Audio"
                                          << "usb"
                                          << ""
                                          << ""
                                          << "Loopback Audio" << true << false << false;
        QTest::newRow("webcam on usb stays plain") << "HD Webcam C615"
                                                   << "usb"
                                                   << "webcam"
                                                   << ""
                                                   << "HD Webcam C615" << false << false << false;
        QTest::newRow("no description falls back to the server name")
            << ""
            << ""
            << ""
            << ""
            << "alsa_input.test" << false << false << false;
    }
    void classification()
    {
        QFETCH(QString, description);
        QFETCH(QString, bus);
        QFETCH(QString, formFactor);
        QFETCH(QString, deviceClass);
        AudioSourceInfo source;
        source.id = 42;
        source.name = QStringLiteral("alsa_input.test");
        source.description = description;
        source.channels = 1;
        source.bus = bus;
        source.formFactor = formFactor;
        source.deviceClass = deviceClass;
        const InputDeviceInfo device = classifyInputDevice(source);
        QTEST(device.name, "expectedName");
        QTEST(device.isVirtual, "isVirtual");
        QTEST(device.isBuiltIn, "isBuiltIn");
        QTEST(device.isWirelessHeadset, "isWireless");
    }

    void unnamedSourceGetsAGeneratedName()
    {
        AudioSourceInfo source;
        source.id = 9;
        source.channels = 2;
        QCOMPARE(classifyInputDevice(source).name, QStringLiteral("AudioDevice-9"));
    }

    // Monitors record what a sink plays and are never microphones; neither are sources
    // without channels. The default is kept only when it is one of the microphones.
    void inventoryLeavesOutNonMicrophones()
    {
        AudioSourceList list;
        AudioSourceInfo mic;
        mic.id = 1;
        mic.name = QStringLiteral("mic");
        mic.channels = 1;
        AudioSourceInfo monitor = mic;
        monitor.id = 2;
        monitor.name = QStringLiteral("sink.monitor");
        monitor.isMonitor = true;
        AudioSourceInfo silent = mic;
        silent.id = 3;
        silent.channels = 0;
        list.sources = {monitor, mic, silent};
        list.defaultSourceId = 2;
        InputDeviceInventory inventory = inputDeviceInventory(list);
        QCOMPARE(inventory.devices.size(), 1);
        QCOMPARE(inventory.devices.first().id, 1u);
        QVERIFY(!inventory.defaultId);

        list.defaultSourceId = 1;
        QCOMPARE(inputDeviceInventory(list).defaultId, std::optional<quint32>(1));
    }

    void pickPreferred_data()
    {
        QTest::addColumn<QStringList>("codes");
        QTest::addColumn<int>("preferred"); // -1: none
        QTest::addColumn<int>("defaultId"); // -1: none
        QTest::addColumn<int>("expected"); // -1: none
        QTest::addColumn<QString>("logLine");

        QTest::newRow("no devices") << QStringList {} << 1 << -1 << -1 << QString();
        QTest::newRow("headset preferred, built-in present")
            << QStringList {"1:w", "2:b"} << 1 << -1 << 2
            << "microphone wireless headset avoided requested=dev1 fallback=dev2";
        QTest::newRow("headset preferred, only default usb present")
            << QStringList {"1:w", "3:", "4:"} << 1 << 4 << 4
            << "microphone wireless headset avoided requested=dev1 fallback=dev4";
        QTest::newRow("virtual device preferred is opened as chosen")
            << QStringList {"1:v", "2:b"} << 1 << -1 << 1 << QString();
        QTest::newRow("only a headset, preferred: opened, no log")
            << QStringList {"1:w"} << 1 << -1 << 1 << QString();
        QTest::newRow("headset preferred, others only virtual or headsets")
            << QStringList {"1:w", "2:v", "3:w"} << 1 << -1 << 1 << QString();
        QTest::newRow("no preference: built-in beats default")
            << QStringList {"3:", "2:b"} << -1 << 3 << 2 << QString();
        QTest::newRow("no preference, no built-in: default")
            << QStringList {"3:", "4:"} << -1 << 4 << 4 << QString();
        QTest::newRow("no preference, nothing ranked: first stable")
            << QStringList {"3:", "4:"} << -1 << -1 << 3 << QString();
        QTest::newRow("preferred id vanished: ranking")
            << QStringList {"3:", "2:b"} << 99 << -1 << 2 << QString();
        QTest::newRow("only headsets and virtual: first not virtual")
            << QStringList {"1:v", "2:w", "3:w"} << -1 << 3 << 2 << QString();
        QTest::newRow("all virtual: the default")
            << QStringList {"1:v", "2:v"} << -1 << 2 << 2 << QString();
        QTest::newRow("all virtual, default elsewhere: first")
            << QStringList {"1:v", "2:v"} << -1 << 7 << 1 << QString();
    }
    void pickPreferred()
    {
        QFETCH(QStringList, codes);
        QFETCH(int, preferred);
        QFETCH(int, defaultId);
        QFETCH(int, expected);
        QFETCH(QString, logLine);
        const qsizetype before = AppLog::snapshot(1 << 22).size();
        const auto picked =
            pickPreferredInputDevice(devices(codes), optionalId(preferred), optionalId(defaultId));
        QCOMPARE(picked ? int(picked->id) : -1, expected);
        const QString log = newLogLines(before);
        if (logLine.isEmpty())
            QVERIFY2(!log.contains(QStringLiteral("avoided")), qPrintable(log));
        else
            QVERIFY2(log.contains(logLine), qPrintable(log));
    }

    void stableFallback_data()
    {
        QTest::addColumn<QStringList>("codes");
        QTest::addColumn<int>("requested");
        QTest::addColumn<int>("defaultId");
        QTest::addColumn<int>("expected");
        QTest::newRow("headset replaced by built-in") << QStringList {"1:w", "2:b"} << 1 << -1 << 2;
        QTest::newRow("not a headset: no fallback") << QStringList {"1:", "2:b"} << 1 << -1 << -1;
        QTest::newRow("unknown id: no fallback") << QStringList {"1:w", "2:b"} << 5 << -1 << -1;
        QTest::newRow("nothing stable: no fallback") << QStringList {"1:w", "2:v"} << 1 << -1 << -1;
        QTest::newRow("the default when no built-in")
            << QStringList {"1:w", "2:", "3:"} << 1 << 3 << 3;
    }
    void stableFallback()
    {
        QFETCH(QStringList, codes);
        QFETCH(int, requested);
        QFETCH(int, defaultId);
        QFETCH(int, expected);
        const auto fallback =
            stableFallbackInputDevice(devices(codes), requested, optionalId(defaultId));
        QCOMPARE(fallback ? int(fallback->id) : -1, expected);
    }

    void rankingExcludesTheGivenDevice()
    {
        const auto list = devices({"1:b", "2:", "3:b"});
        QCOMPARE(rankStableCandidates(list, 2, 1)->id, 3u);
        QCOMPARE(rankStableCandidates(devices({"1:b", "2:"}), 2, 1)->id, 2u);
        QVERIFY(!rankStableCandidates(devices({"1:b"}), std::nullopt, 1));
    }
};

VERNALO_TEST_MAIN(InputDeviceSelectionTest)
#include "test_input_device_selection.moc"
