// The pure rules behind the audio health supervision, the live diagnostics line and the audio
// test's verdict.
#include "recording/audio_health_rules.h"
#include "recording/audio_test_verdict.h"
#include "support/test_environment.h"

#include <QtTest>

using namespace vernalo;

Q_DECLARE_METATYPE(AudioHealthInput)
Q_DECLARE_METATYPE(AudioHealthRepair)
Q_DECLARE_METATYPE(RealtimeDiagnostics)

namespace {

const QString kKeep = QStringLiteral("<unchanged>");

AudioHealthInput recording(AudioInputMode mode, qint64 frames)
{
    AudioHealthInput input;
    input.mode = mode;
    input.audioFrameCount = frames;
    input.avgAudioLevel = 0.05;
    input.finalCount = 1; // a transcript exists unless a row says otherwise
    input.micFramesWithSignal = 40;
    input.micFramesSeen = 40;
    input.micAudioPeak = 0.3;
    input.systemFramesSeen = 40;
    input.systemAudioPeak = 0.25;
    return input;
}

AudioHealthInput mixedWithSilentMic()
{
    AudioHealthInput input = recording(AudioInputMode::MicrophoneAndSystem, 60);
    input.micFramesWithSignal = 0;
    input.micFramesSeen = 45; // digital silence still counts as chunks
    input.micAudioPeak = 0.0;
    input.systemFramesSeen = 12;
    return input;
}

AudioHealthInput systemRawOnly(int streak, bool allowFallback)
{
    AudioHealthInput input = recording(AudioInputMode::SystemAudio, 0);
    input.audioFrameCount.reset();
    input.systemFramesSeen = 0;
    input.systemRawSamplesSeen = 3;
    input.rawWithoutPCMStreak = streak;
    input.allowSystemFallback = allowFallback;
    return input;
}

AudioHealthInput noTranscript(AudioInputMode mode, qint64 frames, std::optional<double> level)
{
    AudioHealthInput input = recording(mode, frames);
    input.finalCount.reset();
    input.interimCount = 0;
    input.avgAudioLevel = level;
    return input;
}

AudioHealthInput withSttError(AudioInputMode mode, const QString &message, bool allowFallback)
{
    AudioHealthInput input = recording(mode, 30);
    input.sttErrorMessage = message;
    input.allowSystemFallback = allowFallback;
    return input;
}

template<typename F> AudioHealthInput changed(AudioHealthInput input, F change)
{
    change(input);
    return input;
}

} // namespace

class AudioHealthRulesTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void rules_data()
    {
        QTest::addColumn<AudioHealthInput>("input");
        QTest::addColumn<QString>("hint");
        QTest::addColumn<AudioHealthRepair>("repair");
        QTest::addColumn<QString>("trigger");
        QTest::addColumn<int>("streak");
        QTest::addColumn<QString>("log");

        const auto none = AudioHealthRepair::None;
        const QString mixedTrigger = QStringLiteral("mixed-mic-no-frames");
        const QString missingMic = QStringLiteral(
            "Mikrofoni ei ole mukana tallennuksessa. Yritetään käynnistää mikki uudelleen...");

        QTest::newRow("paused overrides a silent mic and resets the streak")
            << changed(mixedWithSilentMic(),
                       [](auto &i) {
                           i.paused = true;
                           i.rawWithoutPCMStreak = 3;
                           i.canSwitchToStableMicrophone = true;
                       })
            << "Tallennus tauolla" << none << "" << 0 << "";
        QTest::newRow("silent mic in a mixed recording switches to a stable device")
            << changed(mixedWithSilentMic(), [](auto &i) { i.canSwitchToStableMicrophone = true; })
            << kKeep << AudioHealthRepair::StableMicrophoneFallback << mixedTrigger << 0 << "";
        QTest::newRow("59 server frames are too few to judge the mixed sources")
            << changed(mixedWithSilentMic(),
                       [](auto &i) {
                           i.audioFrameCount = 59;
                           i.canSwitchToStableMicrophone = true;
                       })
            << "" << none << "" << 0 << "";
        QTest::newRow("silent mic without another device restarts it")
            << mixedWithSilentMic() << missingMic << AudioHealthRepair::MixedMicrophoneRestart
            << mixedTrigger << 0
            << "diag mixed mic missing frameCount=60 systemFrames=12 systemPeak=0.25";
        QTest::newRow("after the restart the hint says the mic is still silent")
            << changed(mixedWithSilentMic(),
                       [](auto &i) { i.hasAttemptedMixedMicrophoneRestart = true; })
            << "Mikrofoni ei edelleenkään tuota dataa. Valitse toinen mikrofoni tai tarkista "
               "mikrofonin käyttöoikeus."
            << none << "" << 0 << "";
        QTest::newRow("without a stream nothing is repaired")
            << changed(mixedWithSilentMic(),
                       [](auto &i) {
                           i.hasStreamClient = false;
                           i.canSwitchToStableMicrophone = true;
                       })
            << "Mikrofoni ei ole mukana tallennuksessa. Valitse toinen mikrofoni tai tarkista "
               "mikrofonin käyttöoikeus."
            << none << "" << 0 << "";
        QTest::newRow("mixed recording without system frames")
            << changed(recording(AudioInputMode::MicrophoneAndSystem, 70),
                       [](auto &i) {
                           i.micFramesSeen = 5;
                           i.systemFramesSeen = 0;
                       })
            << "Systeemiääni ei ole mukana tallennuksessa. Tarkista "
               "näyttölähde/sovellussuodatin ja lupa."
            << none << "" << 0 << "diag mixed system missing frameCount=70 micFrames=5 micPeak=0.3";
        QTest::newRow("quiet mic in a mixed recording")
            << changed(recording(AudioInputMode::MicrophoneAndSystem, 80),
                       [](auto &i) { i.micAudioPeak = 0.019; })
            << "Mikrofoni on mukana, mutta sen taso on hyvin hiljainen. Valitse toinen "
               "mikrofoni tai nosta input-tasoa."
            << none << "" << 0
            << "diag mixed mic quiet frameCount=80 micFrames=40 micPeak=0.019 systemPeak=0.25";
        QTest::newRow("no speech heard: an absent level counts as silence")
            << noTranscript(AudioInputMode::Microphone, 60, std::nullopt)
            << "Puhetta ei havaita. Tarkista valittu mikrofoni." << none << "" << 0 << "";
        QTest::newRow("speech going out is given until 90 frames")
            << noTranscript(AudioInputMode::Microphone, 89, 0.005) << "" << none << "" << 0 << "";
        QTest::newRow("speech going out without text at 90 frames")
            << noTranscript(AudioInputMode::Microphone, 90, 0.005)
            << "Ääntä lähetetään, mutta puheentunnistus ei vielä palauta tekstiä." << none << ""
            << 0 << "";
        QTest::newRow("an interim result is a transcript")
            << changed(noTranscript(AudioInputMode::Microphone, 200, 0.0),
                       [](auto &i) { i.interimCount = 1; })
            << "" << none << "" << 0 << "";
        QTest::newRow("raw system audio without PCM: first update only counts")
            << systemRawOnly(0, true)
            << "Systeemiääni saapuu, mutta formaatti ei muunnu PCM:ksi. Lähetä terminaalilogi."
            << none << "" << 1 << "diag raw>0 pcm=0 raw=3 pcm=0";
        QTest::newRow("raw system audio without PCM: second update falls back")
            << systemRawOnly(1, true)
            << "Systeemiääni saapuu, mutta formaatti ei muunnu PCM:ksi. Lähetä terminaalilogi."
            << AudioHealthRepair::SystemAudioFallback << "raw-without-pcm" << 2
            << "diag raw>0 pcm=0 raw=3 pcm=0";
        QTest::newRow("raw system audio without PCM and no fallback allowed")
            << systemRawOnly(1, false)
            << "Systeemiääni ei muodosta PCM-dataa. Ota varatila käyttöön tai vaihda tilaan "
               "Mikki + systeemiääni."
            << none << "" << 2 << "diag raw>0 pcm=0 raw=3 pcm=0";
        QTest::newRow("system recording without any system frame")
            << changed(recording(AudioInputMode::SystemAudio, 5),
                       [](auto &i) { i.systemFramesSeen = 0; })
            << "Systeemiäänestä ei tule frameja. Tarkista systeemiäänen kaappausoikeus." << none
            << "" << 0 << "diag no system frames frameCount=5";
        QTest::newRow("audio timeout in capitals falls back to the mixed mode")
            << withSttError(AudioInputMode::SystemAudio, "Upstream AUDIO TIMEOUT after 10 s", true)
            << "STT-virhe: Upstream AUDIO TIMEOUT after 10 s"
            << AudioHealthRepair::SystemAudioFallback << "stt-audio-timeout" << 0
            << "diag sttError=Upstream AUDIO TIMEOUT after 10 s";
        QTest::newRow("audio timeout with the fallback off only tells")
            << withSttError(AudioInputMode::SystemAudio, "audio timeout", false)
            << "STT-virhe: audio timeout" << none << "" << 0 << "diag sttError=audio timeout";
        QTest::newRow("audio timeout of a microphone recording only tells")
            << withSttError(AudioInputMode::Microphone, "audio timeout", true)
            << "STT-virhe: audio timeout" << none << "" << 0 << "diag sttError=audio timeout";
        QTest::newRow("healthy clears the hint and the streak")
            << changed(recording(AudioInputMode::SystemAudio, 300),
                       [](auto &i) { i.rawWithoutPCMStreak = 1; })
            << "" << none << "" << 0 << "";
    }
    void rules()
    {
        QFETCH(AudioHealthInput, input);
        QFETCH(QString, hint);
        QFETCH(AudioHealthRepair, repair);
        QFETCH(QString, trigger);
        QFETCH(int, streak);
        QFETCH(QString, log);

        const AudioHealthDecision decision = evaluateAudioHealthRules(input);
        if (hint == kKeep)
            QVERIFY2(!decision.hint, qPrintable(decision.hint.value_or(QString())));
        else
            QCOMPARE(decision.hint.value_or(kKeep), hint);
        QCOMPARE(decision.repair, repair);
        QCOMPARE(decision.trigger, trigger);
        QCOMPARE(decision.rawWithoutPCMStreak, streak);
        QCOMPARE(decision.logLine, log);
    }

    void digitalSilence_data()
    {
        QTest::addColumn<QByteArray>("pcm");
        QTest::addColumn<bool>("silent");
        QTest::newRow("zeros") << QByteArray(3200, '\0') << true;
        QTest::newRow("one low bit in the last sample") << QByteArray(3199, '\0') + '\x01' << false;
        QTest::newRow("most negative sample") << QByteArray::fromHex("00000080") << false;
    }
    void digitalSilence()
    {
        QFETCH(QByteArray, pcm);
        QFETCH(bool, silent);
        QCOMPARE(isDigitalSilence(pcm), silent);
    }

    void diagnosticsLabel_data()
    {
        QTest::addColumn<RealtimeDiagnostics>("diagnostics");
        QTest::addColumn<QString>("label");
        const QDateTime now(QDate(2026, 3, 1), QTime(12, 0), Qt::UTC);

        QTest::newRow("nothing received yet")
            << RealtimeDiagnostics {}
            << "Audio 0 • mic 0/0.000 • sys 0/0.000 • partial - • "
               "final - • meta - • mixDrop m:0 s:0";
        RealtimeDiagnostics running;
        running.audioFramesSent = 120;
        running.micFramesSeen = 118;
        running.micAudioPeak = 0.43219;
        running.systemFramesSeen = 7;
        running.systemAudioPeak = 0.0005;
        running.lastPartialReceivedAt = now.addMSecs(-2999);
        running.lastFinalReceivedAt = now.addSecs(-75);
        running.lastSessionMetaReceivedAt = now.addSecs(3); // a clock step: never negative
        running.mixedLagDropMicChunks = 6;
        running.mixedLagDropSystemChunks = 12;
        QTest::newRow("ages in whole seconds, peaks to three decimals")
            << running
            << "Audio 120 • mic 118/0.432 • sys 7/0.001 • partial 2s • final 75s • "
               "meta 0s • mixDrop m:6 s:12";
    }
    void diagnosticsLabel()
    {
        QFETCH(RealtimeDiagnostics, diagnostics);
        QFETCH(QString, label);
        const QDateTime now(QDate(2026, 3, 1), QTime(12, 0), Qt::UTC);
        QCOMPARE(realtimeDiagnosticsLabel(diagnostics, now), label);
    }

    void audioTestVerdict_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<QList<double>>("micLevels");
        QTest::addColumn<QList<double>>("systemLevels");
        QTest::addColumn<QString>("status");
        QTest::addColumn<QString>("hint");

        const int mic = int(AudioInputMode::Microphone);
        const int sys = int(AudioInputMode::SystemAudio);
        const int both = int(AudioInputMode::MicrophoneAndSystem);
        const QString none = QStringLiteral("Äänitesti valmis: Ei havaittua audiodataa");
        const QString quiet = QStringLiteral("Äänitesti valmis: audiodata hyvin hiljainen");
        const QString ok = QStringLiteral("Äänitesti valmis: taso ok");
        const QString works = QStringLiteral("Äänilähde toimii. Voit aloittaa litteroinnin.");
        const QList<double> speech(50, 0.1);

        QTest::newRow("microphone delivered nothing")
            << mic << QList<double>() << QList<double>() << none
            << "Äänitesti: frameja 0, mic 0, systeemi 0, avg 0.000, huippu 0.000. Suositus: "
               "Tarkista mikrofonin valinta ja mikrofonin käyttöoikeus.";
        QTest::newRow("system audio delivered nothing")
            << sys << QList<double>() << QList<double>() << none
            << "Äänitesti: frameja 0, mic 0, systeemi 0, avg 0.000, huippu 0.000. Suositus: "
               "Tarkista systeemiäänen kaappausoikeus ja äänen toisto valitusta lähteestä.";
        QTest::newRow("both delivered nothing")
            << both << QList<double>() << QList<double>() << none
            << "Äänitesti: frameja 0, mic 0, systeemi 0, avg 0.000, huippu 0.000. Suositus: "
               "Tarkista sekä mikrofoni että systeemiäänen kaappausoikeus.";
        QTest::newRow("five seconds of speech")
            << mic << speech << QList<double>() << ok
            << "Äänitesti: frameja 50, mic 50, systeemi 0, avg 0.100, huippu 0.100. Suositus: " +
                works;
        QTest::newRow("mixed with only system audio names the microphone")
            << both << QList<double>() << QList<double> {0.2, 0.1} << ok
            << "Äänitesti: frameja 2, mic 0, systeemi 2, avg 0.150, huippu 0.200. Suositus: "
               "Mikrofoni ei tuota dataa; vaihda mikrofoni Auto-tilaan tai toiseen "
               "laitteeseen.";
        QTest::newRow("mixed with only the microphone names system audio")
            << both << QList<double> {0.05} << QList<double>() << ok
            << "Äänitesti: frameja 1, mic 1, systeemi 0, avg 0.050, huippu 0.050. Suositus: "
               "Systeemiääni ei tuota dataa; tarkista näyttölähde/sovellussuodatin tai lupa.";
        QTest::newRow("mixed, both delivering but near silent")
            << both << QList<double> {0.001} << QList<double> {0.001} << quiet
            << "Äänitesti: frameja 2, mic 1, systeemi 1, avg 0.001, huippu 0.001. Suositus: "
               "Nosta input-tasoa tai siirrä mikrofoni lähemmäs puhujaa.";
        QTest::newRow("quiet on average with one loud chunk still works")
            << mic << QList<double> {0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.02}
            << QList<double>() << quiet
            << "Äänitesti: frameja 10, mic 10, systeemi 0, avg 0.002, huippu 0.020. Suositus: " +
                works;
        QTest::newRow("mixed, both sources audible")
            << both << QList<double> {0.1} << QList<double> {0.3} << ok
            << "Äänitesti: frameja 2, mic 1, systeemi 1, avg 0.200, huippu 0.300. Suositus: " +
                works;
    }
    void audioTestVerdict()
    {
        QFETCH(int, mode);
        QFETCH(QList<double>, micLevels);
        QFETCH(QList<double>, systemLevels);
        QFETCH(QString, status);
        QFETCH(QString, hint);

        AudioTestTally tally;
        for (double level : micLevels)
            tally.add(true, level);
        for (double level : systemLevels)
            tally.add(false, level);
        const AudioTestVerdict verdict =
            vernalo::audioTestVerdict(static_cast<AudioInputMode>(mode), tally);
        QCOMPARE(verdict.statusText, status);
        QCOMPARE(verdict.diagnosticHint, hint);
        QVERIFY(hint.endsWith(verdict.recommendation));
    }
};

VERNALO_TEST_MAIN(AudioHealthRulesTest)
#include "test_audio_health_rules.moc"
