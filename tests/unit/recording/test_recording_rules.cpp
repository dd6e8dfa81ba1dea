// The pure rules of a recording: audio health and its repairs, digital silence and the stream
// address.
#include "recording/audio_health_rules.h"
#include "recording/recording_rules.h"
#include "support/test_environment.h"

#include <QtTest>

using namespace vernalo;

Q_DECLARE_METATYPE(AudioHealthInput)
Q_DECLARE_METATYPE(AudioHealthRepair)

namespace {

const QString kKeep = QStringLiteral("<unchanged>");
const auto kMic = AudioInputMode::Microphone;
const auto kSystem = AudioInputMode::SystemAudio;
const auto kBoth = AudioInputMode::MicrophoneAndSystem;

// A healthy recording with a transcript; each row changes what it is about.
AudioHealthInput recording(AudioInputMode mode, qint64 frames,
                           const std::function<void(AudioHealthInput &)> &change = {})
{
    AudioHealthInput input;
    input.mode = mode;
    input.audioFrameCount = frames;
    input.avgAudioLevel = 0.05;
    input.finalCount = 1;
    input.micFramesWithSignal = 40;
    input.micFramesSeen = 40;
    input.micAudioPeak = 0.3;
    input.systemFramesSeen = 40;
    input.systemAudioPeak = 0.25;
    if (change)
        change(input);
    return input;
}

AudioHealthInput silentMic(const std::function<void(AudioHealthInput &)> &change = {})
{
    return recording(kBoth, 60, [&](AudioHealthInput &i) {
        i.micFramesWithSignal = 0;
        i.micFramesSeen = 45; // digital silence still counts as chunks
        i.micAudioPeak = 0.0;
        if (change)
            change(i);
    });
}

AudioHealthInput noText(qint64 frames)
{
    return recording(kMic, frames, [&](AudioHealthInput &i) {
        i.finalCount.reset();
        i.interimCount = 0;
        i.avgAudioLevel = 0.005;
    });
}

AudioHealthInput rawOnly(int streak, bool allowFallback)
{
    return recording(kSystem, 0, [&](AudioHealthInput &i) {
        i.audioFrameCount.reset();
        i.systemFramesSeen = 0;
        i.systemRawSamplesSeen = 3;
        i.rawWithoutPCMStreak = streak;
        i.allowSystemFallback = allowFallback;
    });
}

} // namespace

class RecordingRulesTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void healthRules_data()
    {
        QTest::addColumn<AudioHealthInput>("input");
        QTest::addColumn<QString>("hint");
        QTest::addColumn<AudioHealthRepair>("repair");
        QTest::addColumn<QString>("trigger");
        QTest::addColumn<int>("streak");
        const auto none = AudioHealthRepair::None;
        const QString mixedTrigger = QStringLiteral("mixed-mic-no-frames");
        const QString rawHint = QStringLiteral(
            "Systeemiääni saapuu, mutta formaatti ei muunnu PCM:ksi. Lähetä terminaalilogi.");
        const auto stable = [](AudioHealthInput &i) { i.canSwitchToStableMicrophone = true; };
        QTest::newRow("paused overrides a silent mic and resets the streak")
            << silentMic([&](auto &i) {
                   stable(i);
                   i.paused = true;
                   i.rawWithoutPCMStreak = 3;
               })
            << "Tallennus tauolla" << none << "" << 0;
        QTest::newRow("silent mic switches to a stable device")
            << silentMic(stable) << kKeep << AudioHealthRepair::StableMicrophoneFallback
            << mixedTrigger << 0;
        QTest::newRow("59 server frames are too few to judge") << silentMic([&](auto &i) {
            stable(i);
            i.audioFrameCount = 59;
        }) << "" << none << "" << 0;
        QTest::newRow("silent mic without another device restarts it")
            << silentMic()
            << "Mikrofoni ei ole mukana tallennuksessa. Yritetään käynnistää mikki uudelleen..."
            << AudioHealthRepair::MixedMicrophoneRestart << mixedTrigger << 0;
        QTest::newRow("after the restart only the hint")
            << silentMic([](auto &i) { i.hasAttemptedMixedMicrophoneRestart = true; })
            << "Mikrofoni ei edelleenkään tuota dataa. Valitse toinen mikrofoni tai tarkista "
               "mikrofonin käyttöoikeus."
            << none << "" << 0;
        QTest::newRow("speech without text is given until 90 frames")
            << noText(89) << "" << none << "" << 0;
        QTest::newRow("speech without text at 90 frames")
            << noText(90) << "Ääntä lähetetään, mutta puheentunnistus ei vielä palauta tekstiä."
            << none << "" << 0;
        QTest::newRow("raw system audio without PCM: second update falls back")
            << rawOnly(1, true) << rawHint << AudioHealthRepair::SystemAudioFallback
            << "raw-without-pcm" << 2;
        QTest::newRow("raw system audio without PCM, no fallback allowed")
            << rawOnly(1, false)
            << "Systeemiääni ei muodosta PCM-dataa. Ota varatila käyttöön tai vaihda tilaan "
               "Mikki + systeemiääni."
            << none << "" << 2;
        QTest::newRow("audio timeout in capitals falls back to mixed")
            << recording(kSystem, 30,
                         [](auto &i) {
                             i.sttErrorMessage =
                                 QStringLiteral("Upstream AUDIO TIMEOUT after 10 s");
                         })
            << "STT-virhe: Upstream AUDIO TIMEOUT after 10 s"
            << AudioHealthRepair::SystemAudioFallback << "stt-audio-timeout" << 0;
        QTest::newRow("healthy clears the hint and the streak")
            << recording(kSystem, 300, [](auto &i) { i.rawWithoutPCMStreak = 1; }) << "" << none
            << "" << 0;
    }
    void healthRules()
    {
        QFETCH(AudioHealthInput, input);
        QFETCH(QString, hint);
        QFETCH(AudioHealthRepair, repair);
        QFETCH(QString, trigger);
        QFETCH(int, streak);
        const AudioHealthDecision decision = evaluateAudioHealthRules(input);
        QCOMPARE(decision.hint.value_or(kKeep), hint);
        QCOMPARE(decision.repair, repair);
        QCOMPARE(decision.trigger, trigger);
        QCOMPARE(decision.rawWithoutPCMStreak, streak);
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
