#include "audio/capture_source_lists.h"
#include "foundation/app_log.h"
#include "support/test_environment.h"

#include <QtTest>

using namespace vernalo;

Q_DECLARE_METATYPE(QList<AudioPlaybackInfo>)

namespace {

InputDeviceInfo device(quint32 id, const QString &name, bool builtIn = false, bool wireless = false)
{
    InputDeviceInfo info;
    info.id = id;
    info.name = name;
    info.isBuiltIn = builtIn;
    info.isWirelessHeadset = wireless;
    return info;
}

AudioPlaybackInfo playback(const QString &id, const QString &name, qint64 pid = 100)
{
    return {id, name, pid};
}

QString optionsText(const QList<SystemAudioApplicationOption> &options)
{
    QStringList parts;
    for (const auto &option : options) {
        const QString mismatch =
            option.id == option.bundleIdentifier ? QString() : QStringLiteral("!");
        parts << option.id + mismatch + QLatin1Char('=') + option.name;
    }
    return parts.join(QLatin1Char('|'));
}

qsizetype logSize()
{
    return AppLog::snapshot(1 << 22).size();
}
QString logSince(qsizetype offset)
{
    return AppLog::snapshot(1 << 22).mid(offset);
}

} // namespace

class CaptureSourceListsTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void refreshInputDevices_data()
    {
        QTest::addColumn<quint32>("selected");
        QTest::addColumn<quint32>("expectedSelected");
        QTest::addColumn<bool>("changed");
        QTest::addColumn<QString>("logLine");
        // Devices: 1 headset, 2 built-in, 3 usb.
        QTest::newRow("nothing selected") << 0u << 0u << false << QString();
        QTest::newRow("stable selection stays") << 3u << 3u << false << QString();
        QTest::newRow("vanished selection resets to default") << 77u << 0u << true << QString();
        QTest::newRow("headset normalized to the stable microphone")
            << 1u << 2u << true
            << "microphone config normalized to stable fallback id=2 name=Front Mic";
    }
    void refreshInputDevices()
    {
        QFETCH(quint32, selected);
        QFETCH(QString, logLine);
        const InputDeviceInventory inventory {
            {device(1, QStringLiteral("Travel Headset"), false, true),
             device(2, QStringLiteral("Front Mic"), true), device(3, QStringLiteral("Desk USB"))},
            3};
        const qsizetype before = logSize();
        const InputDeviceRefresh refresh = vernalo::refreshInputDevices(inventory, selected);
        QTEST(refresh.selectedInputDeviceID, "expectedSelected");
        QTEST(refresh.selectionChanged, "changed");
        QCOMPARE(refresh.recommendedInputDeviceName, QStringLiteral("Front Mic"));
        QCOMPARE(refresh.availableInputDevices.size(), 3);
        QCOMPARE(refresh.availableInputDevices.first().name, QStringLiteral("Travel Headset"));
        if (!logLine.isEmpty())
            QVERIFY2(logSince(before).contains(logLine), qPrintable(logSince(before)));
    }

    void noStableDeviceMeansNoRecommendation()
    {
        const InputDeviceInventory inventory {
            {device(1, QStringLiteral("Travel Headset"), false, true)}, {}};
        const InputDeviceRefresh refresh = vernalo::refreshInputDevices(inventory, 1);
        QCOMPARE(refresh.recommendedInputDeviceName, QString());
        QCOMPARE(refresh.selectedInputDeviceID, 1u);
        QVERIFY(!refresh.selectionChanged);
    }

    void stableSelection_data()
    {
        QTest::addColumn<quint32>("requested");
        QTest::addColumn<bool>("headsetListed");
        QTest::addColumn<quint32>("expectedId");
        QTest::addColumn<QString>("expectedName");
        QTest::addColumn<QString>("logLine");
        QTest::newRow("system default stays") << 0u << true << 0u << QString() << QString();
        QTest::newRow("stable device stays") << 2u << true << 2u << "Front Mic" << QString();
        QTest::newRow("headset replaced")
            << 1u << true << 2u << "Front Mic"
            << "microphone selection fallback requested=Travel Headset fallback=Front Mic";
        QTest::newRow("headset missing from the shown list")
            << 1u << false << 2u << "Front Mic"
            << "microphone selection fallback requested=valittu Bluetooth-mikrofoni fallback=Front "
               "Mic";
    }
    void stableSelection()
    {
        QFETCH(quint32, requested);
        QFETCH(bool, headsetListed);
        QFETCH(QString, logLine);
        const InputDeviceInventory inventory {
            {device(1, QStringLiteral("Travel Headset"), false, true),
             device(2, QStringLiteral("Front Mic"), true)},
            {}};
        QList<AudioInputDeviceOption> shown = {{2, QStringLiteral("Front Mic"), false}};
        if (headsetListed)
            shown.prepend({1, QStringLiteral("Travel Headset"), false});
        const qsizetype before = logSize();
        const StableInputSelection selection =
            stableInputDeviceSelection(requested, inventory, shown);
        QTEST(selection.id, "expectedId");
        QTEST(selection.name, "expectedName");
        if (logLine.isEmpty())
            QVERIFY(!logSince(before).contains(QStringLiteral("selection fallback")));
        else
            QVERIFY2(logSince(before).contains(logLine), qPrintable(logSince(before)));
    }

    void applicationGrouping_data()
    {
        QTest::addColumn<QList<AudioPlaybackInfo>>("playbacks");
        QTest::addColumn<QString>("expected");
        QTest::newRow("none") << QList<AudioPlaybackInfo> {} << QString();
        QTest::newRow("streams of one application become one option")
            << QList<AudioPlaybackInfo> {playback("firefox", "Firefox"),
                                         playback("firefox", "Firefox")}
            << "firefox=Firefox";
        QTest::newRow("ordered by name, case-insensitive")
            << QList<AudioPlaybackInfo> {playback("zed", "zed player"), playback("amp", "Amp"),
                                         playback("mid", "middle")}
            << "amp=Amp|mid=middle|zed=zed player";
        QTest::newRow("alphabetically first name of a group, trimmed")
            << QList<AudioPlaybackInfo> {playback("chat", "Voice"), playback("chat", "  Chat  ")}
            << "chat=Chat";
        QTest::newRow("an unnamed stream does not hide its sibling's name")
            << QList<AudioPlaybackInfo> {playback("chat", ""), playback("chat", "Chat")}
            << "chat=Chat";
        QTest::newRow("no name at all shows the id")
            << QList<AudioPlaybackInfo> {playback("mpv", " ")} << "mpv=mpv";
        QTest::newRow("streams of unknown origin are left out")
            << QList<AudioPlaybackInfo> {playback("", "Loopback"), playback("mpv", "mpv")}
            << "mpv=mpv";
        QTest::newRow("this process is never offered")
            << QList<AudioPlaybackInfo> {playback("helper", "Helper", 4242), playback("mpv", "mpv")}
            << "mpv=mpv";
        QTest::newRow("this program is never offered")
            << QList<AudioPlaybackInfo> {playback("vernalo", "Vernalo", 7), playback("mpv", "mpv")}
            << "mpv=mpv";
    }
    void applicationGrouping()
    {
        QFETCH(QList<AudioPlaybackInfo>, playbacks);
        QTEST(optionsText(groupApplicationSources(playbacks, 4242, QStringLiteral("vernalo"))),
              "expected");
    }
};

VERNALO_TEST_MAIN(CaptureSourceListsTest)
#include "test_capture_source_lists.moc"
