#include "recording/audio_health_rules.h"

#include <algorithm>

namespace vernalo {

namespace {

constexpr qint64 kFramesForMixedChecks = 60;
constexpr qint64 kFramesForNoSpeech = 60;
constexpr qint64 kFramesForNoText = 90;
constexpr double kQuietMicrophonePeak = 0.02;
constexpr double kSpeechLevel = 0.005;
constexpr int kRawWithoutPCMUpdatesBeforeFallback = 2;

QString number(double value)
{
    return QString::number(value);
}

AudioHealthDecision hinted(const AudioHealthInput &input, const QString &hint,
                           const QString &logLine = QString())
{
    AudioHealthDecision decision;
    decision.hint = hint;
    decision.logLine = logLine;
    decision.rawWithoutPCMStreak = input.rawWithoutPCMStreak;
    return decision;
}

std::optional<AudioHealthDecision> missingMixedMicrophone(const AudioHealthInput &input,
                                                          qint64 frames)
{
    if (input.micFramesWithSignal > 0)
        return std::nullopt;
    const QString trigger = QStringLiteral("mixed-mic-no-frames");
    if (input.hasStreamClient && input.canSwitchToStableMicrophone) {
        AudioHealthDecision decision;
        decision.rawWithoutPCMStreak = input.rawWithoutPCMStreak;
        decision.repair = AudioHealthRepair::StableMicrophoneFallback;
        decision.trigger = trigger;
        return decision;
    }
    if (input.hasStreamClient && !input.hasAttemptedMixedMicrophoneRestart) {
        AudioHealthDecision decision = hinted(
            input,
            QStringLiteral("Mikrofoni ei ole mukana tallennuksessa. Yritetään käynnistää mikki "
                           "uudelleen..."),
            QStringLiteral("diag mixed mic missing frameCount=%1 systemFrames=%2 systemPeak=%3")
                .arg(frames)
                .arg(input.systemFramesSeen)
                .arg(number(input.systemAudioPeak)));
        decision.repair = AudioHealthRepair::MixedMicrophoneRestart;
        decision.trigger = trigger;
        return decision;
    }
    if (input.hasStreamClient) {
        // The restart ran and changed nothing: say so rather than promise another try.
        return hinted(input,
                      QStringLiteral("Mikrofoni ei edelleenkään tuota dataa. Valitse "
                                     "toinen mikrofoni tai tarkista mikrofonin "
                                     "käyttöoikeus."));
    }
    return hinted(input,
                  QStringLiteral("Mikrofoni ei ole mukana tallennuksessa. Valitse toinen "
                                 "mikrofoni tai tarkista mikrofonin käyttöoikeus."));
}

std::optional<AudioHealthDecision> mixedRules(const AudioHealthInput &input, qint64 frames)
{
    if (input.mode != AudioInputMode::MicrophoneAndSystem || frames < kFramesForMixedChecks)
        return std::nullopt;
    if (auto missing = missingMixedMicrophone(input, frames))
        return missing;
    if (input.systemFramesSeen == 0) {
        return hinted(input,
                      QStringLiteral("Systeemiääni ei ole mukana tallennuksessa. Tarkista "
                                     "näyttölähde/sovellussuodatin ja lupa."),
                      QStringLiteral("diag mixed system missing frameCount=%1 micFrames=%2 "
                                     "micPeak=%3")
                          .arg(frames)
                          .arg(input.micFramesSeen)
                          .arg(number(input.micAudioPeak)));
    }
    if (input.micAudioPeak < kQuietMicrophonePeak) {
        return hinted(input,
                      QStringLiteral("Mikrofoni on mukana, mutta sen taso on hyvin hiljainen. "
                                     "Valitse toinen mikrofoni tai nosta input-tasoa."),
                      QStringLiteral("diag mixed mic quiet frameCount=%1 micFrames=%2 micPeak=%3 "
                                     "systemPeak=%4")
                          .arg(frames)
                          .arg(input.micFramesSeen)
                          .arg(number(input.micAudioPeak), number(input.systemAudioPeak)));
    }
    return std::nullopt;
}

std::optional<AudioHealthDecision> noTranscriptRules(const AudioHealthInput &input, qint64 frames)
{
    if (input.interimCount.value_or(0) > 0 || input.finalCount.value_or(0) > 0)
        return std::nullopt;
    const double level = input.avgAudioLevel.value_or(0.0);
    if (frames >= kFramesForNoSpeech && level < kSpeechLevel)
        return hinted(input, QStringLiteral("Puhetta ei havaita. Tarkista valittu mikrofoni."));
    if (frames >= kFramesForNoText && level >= kSpeechLevel) {
        return hinted(input,
                      QStringLiteral("Ääntä lähetetään, mutta puheentunnistus ei vielä "
                                     "palauta tekstiä."));
    }
    return std::nullopt;
}

std::optional<AudioHealthDecision> systemAudioRules(const AudioHealthInput &input, qint64 frames)
{
    if (input.mode != AudioInputMode::SystemAudio || input.systemFramesSeen != 0)
        return std::nullopt;
    if (input.systemRawSamplesSeen >= 1) {
        AudioHealthDecision decision =
            hinted(input,
                   QStringLiteral("Systeemiääni saapuu, mutta formaatti ei muunnu PCM:ksi. Lähetä "
                                  "terminaalilogi."),
                   QStringLiteral("diag raw>0 pcm=0 raw=%1 pcm=%2")
                       .arg(input.systemRawSamplesSeen)
                       .arg(input.systemFramesSeen));
        decision.rawWithoutPCMStreak = input.rawWithoutPCMStreak + 1;
        if (!input.allowSystemFallback) {
            decision.hint = QStringLiteral("Systeemiääni ei muodosta PCM-dataa. Ota varatila "
                                           "käyttöön tai vaihda tilaan Mikki + systeemiääni.");
        } else if (decision.rawWithoutPCMStreak >= kRawWithoutPCMUpdatesBeforeFallback) {
            decision.repair = AudioHealthRepair::SystemAudioFallback;
            decision.trigger = QStringLiteral("raw-without-pcm");
        }
        return decision;
    }
    if (frames >= 1) {
        return hinted(input,
                      QStringLiteral("Systeemiäänestä ei tule frameja. Tarkista systeemiäänen "
                                     "kaappausoikeus."),
                      QStringLiteral("diag no system frames frameCount=%1").arg(frames));
    }
    return std::nullopt;
}

std::optional<AudioHealthDecision> sttErrorRule(const AudioHealthInput &input)
{
    const QString &message = input.sttErrorMessage;
    if (message.isEmpty())
        return std::nullopt;
    AudioHealthDecision decision = hinted(input, QStringLiteral("STT-virhe: ") + message,
                                          QStringLiteral("diag sttError=") + message);
    if (input.allowSystemFallback && input.mode == AudioInputMode::SystemAudio &&
        message.contains(QLatin1String("audio timeout"), Qt::CaseInsensitive)) {
        decision.repair = AudioHealthRepair::SystemAudioFallback;
        decision.trigger = QStringLiteral("stt-audio-timeout");
    }
    return decision;
}

QString age(const QDateTime &since, const QDateTime &now)
{
    if (!since.isValid())
        return QStringLiteral("-");
    const qint64 seconds = std::max<qint64>(since.msecsTo(now), 0) / 1000;
    return QString::number(seconds) + QLatin1Char('s');
}

QString peak(double value)
{
    return QString::asprintf("%.3f", value);
}

} // namespace

AudioHealthDecision evaluateAudioHealthRules(const AudioHealthInput &input)
{
    if (input.paused) {
        AudioHealthDecision decision;
        decision.hint = QStringLiteral("Tallennus tauolla");
        return decision;
    }
    // Muting explains every silent-microphone rule below, and none of their repairs may undo it.
    if (input.microphoneMuted && input.mode != AudioInputMode::SystemAudio)
        return hinted(input, QStringLiteral("Mikrofoni on mykistetty."));
    const qint64 frames = std::max<qint64>(input.audioFrameCount.value_or(0), 0);
    if (auto decision = mixedRules(input, frames))
        return *decision;
    if (auto decision = noTranscriptRules(input, frames))
        return *decision;
    if (auto decision = systemAudioRules(input, frames))
        return *decision;
    if (auto decision = sttErrorRule(input))
        return *decision;
    AudioHealthDecision healthy;
    healthy.hint = QString();
    return healthy;
}

QString realtimeDiagnosticsLabel(const RealtimeDiagnostics &d, const QDateTime &now)
{
    return QStringLiteral("Audio %1 • mic %2/%3 • sys %4/%5 • partial %6 • final %7 • meta %8 • "
                          "mixDrop m:%9 s:%10")
        .arg(d.audioFramesSent)
        .arg(d.micFramesSeen)
        .arg(peak(d.micAudioPeak))
        .arg(d.systemFramesSeen)
        .arg(peak(d.systemAudioPeak), age(d.lastPartialReceivedAt, now),
             age(d.lastFinalReceivedAt, now), age(d.lastSessionMetaReceivedAt, now))
        .arg(d.mixedLagDropMicChunks)
        .arg(d.mixedLagDropSystemChunks);
}

} // namespace vernalo
