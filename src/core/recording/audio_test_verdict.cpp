#include "recording/audio_test_verdict.h"

#include <algorithm>

namespace vernalo {

namespace {

// Below this mean absolute level a chunk is barely above silence.
constexpr double kQuietLevel = 0.004;

QString recommendationFor(AudioInputMode mode, const AudioTestTally &tally)
{
    const QString working = QStringLiteral("Äänilähde toimii. Voit aloittaa litteroinnin.");
    if (tally.totalChunks == 0) {
        switch (mode) {
        case AudioInputMode::Microphone:
            return QStringLiteral("Tarkista mikrofonin valinta ja mikrofonin käyttöoikeus.");
        case AudioInputMode::SystemAudio:
            return QStringLiteral("Tarkista systeemiäänen kaappausoikeus ja äänen toisto "
                                  "valitusta lähteestä.");
        case AudioInputMode::MicrophoneAndSystem:
            return QStringLiteral("Tarkista sekä mikrofoni että systeemiäänen kaappausoikeus.");
        }
    }
    if (mode == AudioInputMode::MicrophoneAndSystem && tally.peakLevel >= kQuietLevel) {
        if (tally.microphoneChunks == 0) {
            return QStringLiteral("Mikrofoni ei tuota dataa; vaihda mikrofoni Auto-tilaan tai "
                                  "toiseen laitteeseen.");
        }
        if (tally.systemChunks == 0) {
            return QStringLiteral("Systeemiääni ei tuota dataa; tarkista "
                                  "näyttölähde/sovellussuodatin tai lupa.");
        }
        return working;
    }
    if (tally.peakLevel < kQuietLevel)
        return QStringLiteral("Nosta input-tasoa tai siirrä mikrofoni lähemmäs puhujaa.");
    return working;
}

} // namespace

void AudioTestTally::add(bool fromMicrophone, double level)
{
    ++totalChunks;
    if (fromMicrophone)
        ++microphoneChunks;
    else
        ++systemChunks;
    levelSum += level;
    peakLevel = std::max(peakLevel, level);
}

AudioTestVerdict audioTestVerdict(AudioInputMode mode, const AudioTestTally &tally)
{
    const double average = tally.totalChunks > 0 ? tally.levelSum / tally.totalChunks : 0.0;
    AudioTestVerdict verdict;
    if (tally.totalChunks == 0)
        verdict.statusText = QStringLiteral("Äänitesti valmis: Ei havaittua audiodataa");
    else if (average < kQuietLevel)
        verdict.statusText = QStringLiteral("Äänitesti valmis: audiodata hyvin hiljainen");
    else
        verdict.statusText = QStringLiteral("Äänitesti valmis: taso ok");
    verdict.recommendation = recommendationFor(mode, tally);
    verdict.diagnosticHint =
        QStringLiteral("Äänitesti: frameja %1, mic %2, systeemi %3, avg %4, huippu %5. "
                       "Suositus: %6")
            .arg(tally.totalChunks)
            .arg(tally.microphoneChunks)
            .arg(tally.systemChunks)
            .arg(QString::asprintf("%.3f", average), QString::asprintf("%.3f", tally.peakLevel),
                 verdict.recommendation);
    return verdict;
}

} // namespace vernalo
