// The five-second audio test through the controller: what it opens, what it counts, that it
// sends nothing, how a source that will not start is reported, and a second press.
#include "support/controller_harness.h"
#include "support/test_environment.h"

#include <QtTest>

using namespace vernalo;
using namespace vernalo::test;
using namespace std::chrono_literals;

namespace {

const QByteArray kSilence(3200, '\0');

} // namespace

class ViewModelAudioTestTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<ControllerHarness> h;
    TranscriptionViewModel *vm = nullptr;

    void verifyNothingLeftOpenOrSent()
    {
        QVERIFY(!vm->support()->isAudioTestRunning());
        QVERIFY(vm->canStart());
        QCOMPARE(h->audio.openStreams().size(), 0);
        QCOMPARE(h->requests("POST", QStringLiteral("/v1/sessions")).size(), 0);
        QCOMPARE(h->stream.connectionCount(), 0);
    }

private Q_SLOTS:
    void init()
    {
        h = std::make_unique<ControllerHarness>();
        QVERIFY(h->start());
        vm = h->build();
    }
    void cleanup() { h.reset(); }

    void capturesFiveSecondsAndJudges_data()
    {
        QTest::addColumn<AudioInputMode>("mode");
        QTest::addColumn<QByteArray>("microphoneChunk");
        QTest::addColumn<QByteArray>("systemChunk");
        QTest::addColumn<QString>("status");
        QTest::addColumn<QString>("hintStart");
        QTest::addColumn<QString>("hintEnd");

        const QByteArray tone = ControllerHarness::testChunk(3);
        const QString works = QStringLiteral("Äänilähde toimii. Voit aloittaa litteroinnin.");
        QTest::newRow("microphone delivers nothing")
            << AudioInputMode::Microphone << QByteArray() << QByteArray()
            << "Äänitesti valmis: Ei havaittua audiodataa"
            << "Äänitesti: frameja 0, mic 0, systeemi 0, avg 0.000, huippu 0.000."
            << "Tarkista mikrofonin valinta ja mikrofonin käyttöoikeus.";
        QTest::newRow("microphone delivers digital silence")
            << AudioInputMode::Microphone << kSilence << QByteArray()
            << "Äänitesti valmis: audiodata hyvin hiljainen"
            << "Äänitesti: frameja 50, mic 50, systeemi 0, avg 0.000, huippu 0.000."
            << "Nosta input-tasoa tai siirrä mikrofoni lähemmäs puhujaa.";
        QTest::newRow("microphone hears a tone")
            << AudioInputMode::Microphone << tone << QByteArray() << "Äänitesti valmis: taso ok"
            << "Äänitesti: frameja 50, mic 50, systeemi 0, avg 0.1" << works;
        QTest::newRow("system audio plays")
            << AudioInputMode::SystemAudio << tone << tone << "Äänitesti valmis: taso ok"
            << "Äänitesti: frameja 50, mic 0, systeemi 50, avg 0.1" << works;
        QTest::newRow("mixed with a microphone that stays silent")
            << AudioInputMode::MicrophoneAndSystem << QByteArray() << tone
            << "Äänitesti valmis: taso ok"
            << "Äänitesti: frameja 50, mic 0, systeemi 50, avg 0.1"
            << "Mikrofoni ei tuota dataa; vaihda mikrofoni Auto-tilaan tai toiseen laitteeseen.";
    }
    void capturesFiveSecondsAndJudges()
    {
        QFETCH(AudioInputMode, mode);
        QFETCH(QByteArray, microphoneChunk);
        QFETCH(QByteArray, systemChunk);
        QFETCH(QString, status);
        QFETCH(QString, hintStart);
        QFETCH(QString, hintEnd);
        vm->settings()->setInputMode(mode);

        vm->runAudioQualityTest();
        QVERIFY(vm->support()->isAudioTestRunning());
        QVERIFY(!vm->canStart());
        QCOMPARE(vm->statusText(), QStringLiteral("Äänitesti käynnissä (5 s)..."));
        const bool withMicrophone = mode != AudioInputMode::SystemAudio;
        QCOMPARE(h->microphoneStream() != nullptr, withMicrophone);
        QCOMPARE(h->systemStream() != nullptr, mode != AudioInputMode::Microphone);
        for (int i = 0; i < 50; ++i) {
            if (withMicrophone && !microphoneChunk.isEmpty())
                h->speak(microphoneChunk);
            if (!systemChunk.isEmpty())
                h->playSystemAudio(systemChunk);
            h->advance(99ms);
        }
        QVERIFY(vm->support()->isAudioTestRunning());
        h->advance(50ms);

        QCOMPARE(vm->statusText(), status);
        QVERIFY2(vm->diagnosticHint().startsWith(hintStart), qPrintable(vm->diagnosticHint()));
        QVERIFY2(vm->diagnosticHint().endsWith(QStringLiteral("Suositus: ") + hintEnd),
                 qPrintable(vm->diagnosticHint()));
        verifyNothingLeftOpenOrSent();
    }

    void sourceThatWillNotStart_data()
    {
        QTest::addColumn<AudioInputMode>("mode");
        QTest::addColumn<bool>("serverReachable");
        QTest::addColumn<QString>("status");
        QTest::addColumn<bool>("permissionHelp");
        QTest::newRow("system audio refused by the sound server")
            << AudioInputMode::SystemAudio << false
            << "Äänitesti epäonnistui: Systeemiäänen käyttöoikeus puuttuu (äänipalvelin)." << true;
        QTest::newRow("microphone that does not open")
            << AudioInputMode::Microphone << true
            << "Äänitesti epäonnistui: Audio engine ei ole käyttövalmis" << false;
        // The microphone opened first is closed again when the system audio fails.
        QTest::newRow("mixed, system audio fails after the microphone opened")
            << AudioInputMode::MicrophoneAndSystem << true
            << "Äänitesti epäonnistui: Systeemiäänen kaappausta ei voitu käynnistää." << false;
    }
    void sourceThatWillNotStart()
    {
        QFETCH(AudioInputMode, mode);
        QFETCH(bool, serverReachable);
        QFETCH(QString, status);
        QFETCH(bool, permissionHelp);
        vm->settings()->setInputMode(mode);
        h->audio.reachable = serverReachable;
        const AudioServerError broken {QStringLiteral("pulse"), 5,
                                       QStringLiteral("No such entity")};
        if (mode == AudioInputMode::Microphone)
            h->audio.failingSources.insert(ControllerHarness::kMicrophoneId, broken);
        else
            h->audio.monitorFailure = broken;

        vm->runAudioQualityTest();
        QCOMPARE(vm->statusText(), status);
        QCOMPARE(vm->permissions()->showSystemAudioPermissionHelp(), permissionHelp);
        verifyNothingLeftOpenOrSent();
        // Nothing is pending: time passing changes nothing.
        h->advance(6s);
        QCOMPARE(vm->statusText(), status);
    }

    // A second press while the test runs does nothing; the first one still finishes.
    void secondPressIsIgnored()
    {
        vm->runAudioQualityTest();
        h->advance(2s);
        h->speak(ControllerHarness::testChunk(1));
        vm->runAudioQualityTest();
        QCOMPARE(vm->statusText(), QStringLiteral("Äänitesti käynnissä (5 s)..."));
        QCOMPARE(h->audio.openRequests.size(), 1);
        h->advance(3s);
        QCOMPARE(vm->statusText(), QStringLiteral("Äänitesti valmis: taso ok"));
        QVERIFY(vm->diagnosticHint().startsWith(QStringLiteral("Äänitesti: frameja 1, mic 1,")));
        verifyNothingLeftOpenOrSent();
        // A new press after the result runs a new test.
        vm->runAudioQualityTest();
        QVERIFY(vm->support()->isAudioTestRunning());
        QCOMPARE(h->audio.openRequests.size(), 2);
    }

    // No test while a recording runs, and no recording while a test runs.
    void testAndRecordingExcludeEachOther()
    {
        vm->runAudioQualityTest();
        vm->startRecording();
        QCOMPARE(vm->statusText(), QStringLiteral("Odota, että äänitesti valmistuu"));
        QVERIFY(!vm->isStartingRecording());
        h->advance(5s);
        QVERIFY(!vm->support()->isAudioTestRunning());

        h->expectSession(QStringLiteral("rec-1"));
        QVERIFY(h->startLive());
        vm->runAudioQualityTest();
        QCOMPARE(vm->statusText(), QStringLiteral("Pysäytä tallennus ennen äänitestiä"));
        QVERIFY(!vm->support()->isAudioTestRunning());
        // The recording's capture is untouched: its audio still goes out.
        h->speak(ControllerHarness::testChunk(4));
        QVERIFY(h->waitAudioChunks(1));
        QCOMPARE(h->audioReceived().last(), ControllerHarness::testChunk(4));
    }
};

VERNALO_TEST_MAIN(ViewModelAudioTestTest)
#include "test_view_model_audio_test.moc"
