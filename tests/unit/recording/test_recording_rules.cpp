#include "recording/recording_rules.h"
#include "support/test_environment.h"

#include <QtTest>

using namespace vernalo;

class RecordingRulesTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void noTranscriptDiagnosis_data()
    {
        QTest::addColumn<int>("chunks");
        QTest::addColumn<double>("level");
        QTest::addColumn<double>("peak");
        QTest::addColumn<int>("mode");
        QTest::addColumn<QString>("hintStart");
        const int mic = int(AudioInputMode::Microphone);
        const int sys = int(AudioInputMode::SystemAudio);
        const int both = int(AudioInputMode::MicrophoneAndSystem);
        QTest::newRow("short beats silence")
            << 9 << 0.0 << 0.0 << mic << "Tallennus jäi hyvin lyhyeksi";
        QTest::newRow("silent microphone")
            << 10 << 0.0009 << 0.019 << mic << "Äänitaso oli lähes nolla.";
        QTest::newRow("silent system audio names the Linux permission")
            << 50 << 0.0 << 0.0 << sys
            << "Systeemiäänen taso oli lähes nolla. Tarkista valittu näyttö/sovellus ja "
               "systeemiäänen kaappausoikeus.";
        QTest::newRow("silent both") << 50 << 0.0 << 0.0 << both << "Mikin ja systeemiäänen taso";
        QTest::newRow("peak rules out silence")
            << 50 << 0.0009 << 0.02 << mic << "Ääni oli hyvin hiljainen";
        QTest::newRow("quiet") << 50 << 0.004 << 0.3 << sys << "Ääni oli hyvin hiljainen";
        QTest::newRow("audible but no text") << 50 << 0.005 << 0.3 << mic << "Ääntä lähetettiin";
    }
    void noTranscriptDiagnosis()
    {
        QFETCH(int, chunks);
        QFETCH(double, level);
        QFETCH(double, peak);
        QFETCH(int, mode);
        QFETCH(QString, hintStart);
        const auto diagnosis =
            diagnoseNoTranscript(chunks, level, peak, static_cast<AudioInputMode>(mode));
        QVERIFY2(diagnosis.hint.startsWith(hintStart), qPrintable(diagnosis.hint));
        QVERIFY(!diagnosis.hint.contains(QStringLiteral("Screen")));
    }

    void listeningStatus_data()
    {
        QTest::addColumn<bool>("paused");
        QTest::addColumn<int>("mode");
        QTest::addColumn<QString>("mic");
        QTest::addColumn<QString>("system");
        QTest::addColumn<QString>("expected");
        QTest::newRow("paused wins") << true << int(AudioInputMode::Microphone) << "USB"
                                     << ""
                                     << "Tauolla";
        QTest::newRow("mic named") << false << int(AudioInputMode::Microphone) << "USB Mic"
                                   << ""
                                   << "Kuuntelen... (USB Mic)";
        QTest::newRow("mic unnamed") << false << int(AudioInputMode::Microphone) << ""
                                     << "Näyttö 1"
                                     << "Kuuntelen...";
        QTest::newRow("system") << false << int(AudioInputMode::SystemAudio) << "USB"
                                << "Näyttö 1 • Kaikki sovellukset"
                                << "Kuuntelen... (Näyttö 1 • Kaikki sovellukset)";
        QTest::newRow("both without system name")
            << false << int(AudioInputMode::MicrophoneAndSystem) << "USB"
            << ""
            << "Kuuntelen... (Valittu + Järjestelmä)";
    }
    void listeningStatus()
    {
        QFETCH(bool, paused);
        QFETCH(int, mode);
        QFETCH(QString, mic);
        QFETCH(QString, system);
        QFETCH(QString, expected);
        QCOMPARE(listeningStatusText(paused, static_cast<AudioInputMode>(mode), mic, system,
                                     QStringLiteral("Valittu")),
                 expected);
    }

    void terminalStatus_data()
    {
        QTest::addColumn<QString>("status"); // "<none>" = absent
        QTest::addColumn<bool>("hasEnd");
        QTest::addColumn<bool>("terminal");
        QTest::newRow("capitalised with spaces") << "  Stopped " << false << true;
        QTest::newRow("stopping") << "STOPPING" << false << true;
        QTest::newRow("active") << "active" << false << false;
        QTest::newRow("end time alone") << "<none>" << true << true;
        QTest::newRow("active but ended") << "active" << true << true;
        QTest::newRow("nothing") << "<none>" << false << false;
        QTest::newRow("stopped as part of a word") << "unstopped" << false << false;
    }
    void terminalStatus()
    {
        QFETCH(QString, status);
        QFETCH(bool, hasEnd);
        QFETCH(bool, terminal);
        const std::optional<QString> s =
            status == "<none>" ? std::nullopt : std::optional<QString>(status);
        const std::optional<QString> end =
            hasEnd ? std::optional<QString>("2026-03-01T12:00:00Z") : std::nullopt;
        QCOMPARE(isTerminalSessionStatus(s, end), terminal);
    }

    void streamUrl_data()
    {
        QTest::addColumn<QString>("ws");
        QTest::addColumn<QString>("base");
        QTest::addColumn<QString>("expected");
        QTest::newRow("upgraded for https") << "ws://stt.example/v1/ws/1"
                                            << "https://stt.example"
                                            << "wss://stt.example/v1/ws/1";
        QTest::newRow("kept for http") << "ws://127.0.0.1:8787/ws"
                                       << "http://127.0.0.1:8787"
                                       << "ws://127.0.0.1:8787/ws";
        QTest::newRow("wss kept") << "wss://a/ws"
                                  << "https://a"
                                  << "wss://a/ws";
        QTest::newRow("schemes in capitals") << "WS://a/ws"
                                             << "HTTPS://a"
                                             << "wss://a/ws";
    }
    void streamUrl()
    {
        QFETCH(QString, ws);
        QFETCH(QString, base);
        QFETCH(QString, expected);
        QCOMPARE(streamUrlForBackend(ws, base), expected);
    }
};

VERNALO_TEST_MAIN(RecordingRulesTest)
#include "test_recording_rules.moc"
