// The live transcript: stream events, the two REST pollers, the session metadata, a stop that
// the server or the stream causes, and clearing.
#include "audio/outgoing_audio_pipeline.h"
#include "backend/stt_api_client.h"
#include "foundation/app_log.h"
#include "recording/recording_rules.h"
#include "recording/transcription_view_model.h"
#include "wire/clock.h"

namespace vernalo {

namespace {

using namespace std::chrono_literals;

constexpr auto kTranscriptPollInterval = 2000ms;
constexpr auto kSessionMetaPollInterval = 2500ms;

// Error texts that mean the stream is gone for good (the client's reconnect budget is spent,
// or audio can no longer be sent or captured).
bool isConnectionLoss(const QString &message)
{
    static const QStringList phrases {QStringLiteral("ws-yhteys katkesi"),
                                      QStringLiteral("äänen lähetys"),
                                      QStringLiteral("äänen kaappaus")};
    return std::any_of(phrases.cbegin(), phrases.cend(), [&](const QString &phrase) {
        return message.contains(phrase, Qt::CaseInsensitive);
    });
}

} // namespace

void TranscriptionViewModel::handleStreamEvent(const StreamEvent &event)
{
    if (const auto *partial = event.partial()) {
        setInterimText(partial->text);
        m_lastPartialReceivedAt = m_clock->now();
        emit receiptTimesChanged();
        if (m_phase == RecordingPhase::Live)
            setStatusText(partial->text.isEmpty() ? QStringLiteral("Odottaa")
                                                  : QStringLiteral("Kuuntelen..."));
    } else if (const auto *final = event.final()) {
        applyFinalEvent(*final);
    } else if (const auto *status = event.status()) {
        applyStatusEvent(*status);
    } else if (const auto *error = event.error()) {
        applyErrorEvent(*error);
    }
}

void TranscriptionViewModel::applyFinalEvent(const StreamEvent::Final &final)
{
    m_segments->appendStreamFinal(final.text, final.timestamp, final.speakerLabel);
    setInterimText(QString());
    m_lastFinalReceivedAt = m_clock->now();
    emit receiptTimesChanged();
    if (m_phase == RecordingPhase::Live)
        setListeningStatus(m_settings->inputMode());
}

void TranscriptionViewModel::applyStatusEvent(const StreamEvent::Status &status)
{
    // The server may switch to another model by itself.
    if (status.model && !status.model->isEmpty())
        m_settings->setSttModel(*status.model);
    const QString &state = status.state;
    if (state == u"listening" || state == u"stream-rolled-over" || state == u"stream-restarting") {
        if (isPaused())
            setStatusText(QStringLiteral("Tauolla"));
        else
            setListeningStatus(m_settings->inputMode());
    } else if (state == u"waiting-for-audio") {
        setStatusText(isPaused() ? QStringLiteral("Tauolla") : QStringLiteral("Odottaa ääntä..."));
    } else if (state == u"reconnecting") {
        setStatusText(isPaused() ? QStringLiteral("Tauolla (yhteys katkennut...)")
                                 : QStringLiteral("Yhdistetään uudelleen..."));
    } else if (state == u"retrying-safe-model") {
        setStatusText(QStringLiteral("Puheentunnistus ei saanut tekstiä. Yritetään varamallia..."));
    } else if (state == u"stopped") {
        if (isStoppablePhase(m_phase))
            handleRemoteSessionStopped(std::nullopt, QStringLiteral("ws-status-stopped"));
        else
            setStatusText(QStringLiteral("Pysäytetty"));
    } else {
        setStatusText(state);
    }
}

void TranscriptionViewModel::applyErrorEvent(const StreamEvent::Error &error)
{
    setStatusText(error.message);
    if (isConnectionLoss(error.message))
        handleRemoteSessionStopped(std::nullopt, QStringLiteral("ws-error"));
}

int TranscriptionViewModel::mergePolledSegments(
    const QList<ServerTranscriptResponse::Segment> &polled)
{
    QList<PolledSegment> segments;
    segments.reserve(polled.size());
    for (const ServerTranscriptResponse::Segment &segment : polled)
        segments.append(PolledSegment {segment.text, segment.ts, segment.speakerLabel});
    return m_segments->mergePolled(segments, m_clock->now());
}

void TranscriptionViewModel::startTranscriptPolling(const QString &sessionId,
                                                    const STTConfiguration &config)
{
    const JobSlot::Ticket ticket = m_transcriptPoll.start();
    runTranscriptPoll(sessionId, config, m_generation, ticket);
}

void TranscriptionViewModel::startSessionMetaPolling(const QString &sessionId,
                                                     const STTConfiguration &config)
{
    const JobSlot::Ticket ticket = m_sessionMetaPoll.start();
    runSessionMetaPoll(sessionId, config, m_generation, ticket);
}

QCoro::Task<> TranscriptionViewModel::runTranscriptPoll(QString sessionId, STTConfiguration config,
                                                        quint64 generation, JobSlot::Ticket ticket)
{
    QPointer<TranscriptionViewModel> self(this);
    STTAPIClient *api = m_apiClient;
    Clock *clock = m_clock;
    const auto current = [&] {
        return self && m_generation == generation && m_transcriptPoll.isCurrent(ticket);
    };
    while (current()) {
        std::optional<ServerTranscriptResponse> answer;
        try {
            answer = co_await api->getTranscript(config, sessionId);
        } catch (const std::exception &) {
            // A failed poll is silent; the next tick tries again.
        }
        if (!current())
            co_return;
        if (answer)
            mergePolledSegments(answer->segments);
        co_await clock->sleep(kTranscriptPollInterval);
    }
}

QCoro::Task<> TranscriptionViewModel::runSessionMetaPoll(QString sessionId, STTConfiguration config,
                                                         quint64 generation, JobSlot::Ticket ticket)
{
    QPointer<TranscriptionViewModel> self(this);
    STTAPIClient *api = m_apiClient;
    Clock *clock = m_clock;
    const auto current = [&] {
        return self && m_generation == generation && m_sessionMetaPoll.isCurrent(ticket);
    };
    while (current()) {
        std::optional<SessionMetaResponse> answer;
        try {
            answer = co_await api->getSessionMeta(config, sessionId);
        } catch (const std::exception &) {
            // A failed poll is silent; the next tick tries again.
        }
        if (!current())
            co_return;
        if (answer)
            applySessionMeta(*answer);
        co_await clock->sleep(kSessionMetaPollInterval);
    }
}

void TranscriptionViewModel::applySessionMeta(const SessionMetaResponse &meta)
{
    m_lastSessionMetaReceivedAt = m_clock->now();
    emit receiptTimesChanged();
    std::optional<int> frames;
    if (meta.audioFrameCount)
        frames = static_cast<int>(std::clamp<qint64>(*meta.audioFrameCount, 0, INT_MAX));
    m_pipeline->applyServerAudioStats(frames, meta.avgAudioLevel, meta.peakAudioLevel);

    if (isStoppablePhase(m_phase) && isTerminalSessionStatus(meta.status, meta.endedAt)) {
        handleRemoteSessionStopped(meta, QStringLiteral("meta-stopped"));
        return;
    }
    // The health rules judge a running capture; between a stop and its last poll answer there
    // is none.
    if (isRecording())
        evaluateAudioHealth(meta);
}

void TranscriptionViewModel::handleRemoteSessionStopped(
    const std::optional<SessionMetaResponse> &meta, const QString &reason)
{
    if (!isStoppablePhase(m_phase))
        return;
    const QString status = meta && meta->status ? *meta->status : QStringLiteral("unknown");
    AppLog::write(QStringLiteral("remote session stopped reason=%1 session=%2 status=%3")
                      .arg(reason, m_sessionId, status));

    FinishPlan plan = makeFinishPlan(false);
    leaveLive(LeaveReason::RemoteStop);
    setStatusText(reason.contains(QLatin1String("resume"))
                      ? QStringLiteral("Sessio sulkeutui tauon aikana")
                      : QStringLiteral("Yhteys katkesi"));
    setDiagnosticHint(QStringLiteral(
        "Palvelin sulki session, koska ääntä ei tullut ajoissa tai yhteys katkesi. Nykyinen "
        "teksti säilyi; aloita uusi tallennus jatkaaksesi."));

    // The text stays on screen and is kept in the history like any finished recording; the
    // server has ended the session, so there is nothing to stop there.
    finishRecording(std::move(plan), StreamClientPtr());
}

void TranscriptionViewModel::clearTranscript()
{
    if (isTranscriptBusy())
        return;
    setInterimText(QString());
    m_segments->clear();
    setDiagnosticHint(QString());
    setSessionId(QString());
    m_recordingStartedAt = QDateTime();
    resetPauseTracking();
    m_health.hasAutoExportedFallbackDiagnostics = false;
    setStatusText(QStringLiteral("Tyhjennetty"));
}

} // namespace vernalo
