#include "session_registry.h"

#include "live_stream.h"
#include "password_hasher.h"
#include "recognizer.h"
#include "server_log.h"
#include "stream_wire.h"
#include "user_store.h"
#include "wire/clock.h"

#include <algorithm>
#include <QUrlQuery>
#include <QUuid>
#include <QWebSocket>

namespace vernalo::server {

SessionRegistry::SessionRegistry(SessionStore &store, RecognizerFactory &recognizers, Clock &clock,
                                 Limits limits, QObject *parent)
    : QObject(parent)
    , m_store(store)
    , m_recognizers(recognizers)
    , m_clock(clock)
    , m_limits(limits)
{
    m_sweepTimer = m_clock.createTimer(this);
    connect(m_sweepTimer, &Timer::timeout, this, &SessionRegistry::sweep);
    m_sweepTimer->start(kSweepEvery);
}

SessionRegistry::~SessionRegistry()
{
    flushAll();
    for (OpenSession &open : m_open) {
        if (LiveStream *stream = open.stream.data()) {
            stream->disconnect(this);
            stream->close(QWebSocketProtocol::CloseCodeGoingAway, false);
            delete stream;
        }
    }
}

void SessionRegistry::loadOpenSessions()
{
    for (const SessionRecord &record : m_store.openSessions())
        m_open.insert(
            record.id,
            OpenSession {record, nullptr, 0, 0, {record.audioBytes, record.audioFrameCount, {}}});
    ServerLog::write(QStringLiteral("server loaded open sessions count=") +
                     QString::number(m_open.size()));
    sweep();
}

bool SessionRegistry::mayOpenSession(std::optional<qint64> ownerId,
                                     const QByteArray &apiKeyDigest) const
{
    int open = 0;
    for (const OpenSession &session : m_open) {
        const SessionRecord &record = session.record;
        if (ownerId ? record.ownerId == ownerId
                    : !record.ownerId && record.apiKeyDigest == apiKeyDigest)
            ++open;
    }
    return open < m_limits.maxOpenSessionsPerOwner;
}

bool SessionRegistry::mayOpenStream(const QString &id) const
{
    const auto it = m_open.constFind(id);
    if (it != m_open.cend() && it->stream)
        return true;
    return liveStreamCount() < m_limits.maxStreams;
}

void SessionRegistry::endSessionsOf(qint64 userId, const QString &reason)
{
    QStringList ids;
    for (auto it = m_open.begin(); it != m_open.end(); ++it) {
        if (it->record.ownerId == userId) {
            // A token that matches nothing: a reconnect is refused like a forged one.
            it->record.streamTokenHash = tokenDigest(randomToken());
            ids.append(it.key());
        }
    }
    for (const QString &id : std::as_const(ids))
        stop(id, reason);
}

QPair<SessionRecord, QString> SessionRegistry::create(const SessionCreateParams &params,
                                                      std::optional<qint64> ownerId,
                                                      const QByteArray &apiKeyDigest)
{
    const QString token = randomToken();
    SessionRecord record;
    record.id = QUuid::createUuid().toString(QUuid::WithoutBraces);
    record.ownerId = ownerId;
    if (!ownerId)
        record.apiKeyDigest = apiKeyDigest;
    record.streamTokenHash = tokenDigest(token);
    record.status = QStringLiteral("created");
    record.createdAt = m_clock.now();
    record.lastActivityAt = record.createdAt;
    record.language = params.language;
    record.sttModel = params.sttModel;
    record.enableInterim = params.enableInterim;
    record.enableSpeakerDiarization = params.enableSpeakerDiarization;
    record.speakerCount = params.speakerCount;
    if (!m_store.insert(record))
        return {SessionRecord {}, QString()};
    m_open.insert(record.id, OpenSession {record, nullptr, m_clock.monotonicMs(), 0, {}});
    ServerLog::write(QStringLiteral("server session created id=") + record.id +
                     QStringLiteral(" language=") + record.language);
    return {record, token};
}

std::optional<SessionRecord> SessionRegistry::find(const QString &id) const
{
    const auto it = m_open.constFind(id);
    if (it != m_open.cend())
        return it->record;
    return m_store.find(id);
}

bool SessionRegistry::stop(const QString &id, const QString &reason)
{
    auto it = m_open.find(id);
    if (it == m_open.end())
        return m_store.find(id).has_value();
    it->record.status = QStringLiteral("stopped");
    it->record.endedAt = m_clock.now();
    it->record.lastActivityAt = m_clock.now();
    persist(*it);
    QPointer<LiveStream> stream = it->stream;
    m_open.erase(it);
    if (stream)
        stream->close(QWebSocketProtocol::CloseCodeNormal, true);
    ServerLog::write(QStringLiteral("server session stopped id=") + id +
                     QStringLiteral(" reason=") + reason);
    Q_EMIT sessionStopped(id, reason);
    return true;
}

bool SessionRegistry::remove(const QString &id)
{
    auto it = m_open.find(id);
    if (it != m_open.end()) {
        QPointer<LiveStream> stream = it->stream;
        m_open.erase(it);
        if (stream)
            stream->close(QWebSocketProtocol::CloseCodeNormal, true);
    }
    const bool removed = m_store.remove(id);
    if (removed)
        ServerLog::write(QStringLiteral("server session deleted id=") + id);
    return removed;
}

namespace {

// Answers a connection that cannot become a stream and lets it go.
void refuse(std::unique_ptr<QWebSocket> socket, QObject *owner, const QByteArray &event,
            QWebSocketProtocol::CloseCode code)
{
    QWebSocket *raw = socket.release();
    raw->setParent(owner);
    QObject::connect(raw, &QWebSocket::disconnected, raw, &QObject::deleteLater);
    if (!event.isEmpty())
        raw->sendTextMessage(QString::fromUtf8(event));
    raw->close(code);
}

} // namespace

void SessionRegistry::acceptStream(std::unique_ptr<QWebSocket> socket, const QString &refusal)
{
    if (!refusal.isEmpty()) {
        ServerLog::write(QStringLiteral("server stream refused reason=host-or-origin"));
        refuse(std::move(socket), this, encodeErrorEvent(refusal),
               QWebSocketProtocol::CloseCodePolicyViolated);
        return;
    }
    const QUrl url = socket->requestUrl();
    const QStringList path = url.path().split(QLatin1Char('/'), Qt::SkipEmptyParts);
    const QString id = path.size() == 3 ? path[2] : QString();
    const QString token = QUrlQuery(url).queryItemValue(QStringLiteral("token"));

    auto it = m_open.find(id);
    if (it == m_open.end()) {
        const auto stored = id.isEmpty() ? std::nullopt : m_store.find(id);
        if (stored && constantTimeEquals(tokenDigest(token), stored->streamTokenHash)) {
            // A stopped session: tell the client, which then ends its recording.
            refuse(std::move(socket), this,
                   encodeStatusEvent(QStringLiteral("stopped"), recognizerModel()),
                   QWebSocketProtocol::CloseCodeNormal);
            return;
        }
        ServerLog::write(QStringLiteral("server stream refused reason=unknown-session"));
        refuse(std::move(socket), this,
               encodeErrorEvent(QStringLiteral("Tuntematon sessio tai virheellinen striimiavain")),
               QWebSocketProtocol::CloseCodePolicyViolated);
        return;
    }
    if (!constantTimeEquals(tokenDigest(token), it->record.streamTokenHash)) {
        ServerLog::write(QStringLiteral("server stream refused reason=bad-token session=") + id);
        refuse(std::move(socket), this,
               encodeErrorEvent(QStringLiteral("Tuntematon sessio tai virheellinen striimiavain")),
               QWebSocketProtocol::CloseCodePolicyViolated);
        return;
    }
    if (!mayOpenStream(id)) {
        ServerLog::write(QStringLiteral("server stream refused reason=stream-cap session=") + id);
        refuse(std::move(socket), this,
               encodeErrorEvent(QStringLiteral(
                   "Palvelimella on liian monta striimiä. Yritä hetken päästä uudelleen.")),
               QWebSocketProtocol::CloseCodePolicyViolated);
        return;
    }
    if (LiveStream *previous = it->stream.data()) {
        // The newest connection wins; the old one is usually a peer that vanished.
        previous->close(QWebSocketProtocol::CloseCodeGoingAway, false);
    }
    if (it->record.status == QLatin1String("created"))
        it->record.status = QStringLiteral("active");
    it->record.lastActivityAt = m_clock.now();
    it->lastFrameMonotonicMs = m_clock.monotonicMs();
    auto *stream = new LiveStream(std::move(socket), *this, it->record, m_clock, this);
    connect(stream, &LiveStream::gone, this,
            [this](LiveStream *gone) { streamGone(gone->sessionId(), gone); });
    it->stream = stream;
    persist(*it);
    ServerLog::write(QStringLiteral("server stream opened session=") + id);
}

void SessionRegistry::streamGone(const QString &id, LiveStream *stream)
{
    auto it = m_open.find(id);
    if (it != m_open.end() && it->stream == stream) {
        it->stream = nullptr;
        // Gone only once its recognizer is done: all of the stream's audio is transcript.
        it->settled.advance(audioEnd(id));
        it->record.lastActivityAt = m_clock.now();
        persist(*it);
    }
    stream->deleteLater();
}

int SessionRegistry::liveStreamCount() const
{
    int count = 0;
    for (const OpenSession &open : m_open)
        count += open.stream ? 1 : 0;
    return count;
}

void SessionRegistry::flushAll()
{
    for (OpenSession &open : m_open) {
        if (open.stream)
            open.record.lastActivityAt = m_clock.now();
        persist(open);
    }
}

void SessionRegistry::persist(OpenSession &open)
{
    m_store.update(onDisk(open.record, open.settled.end, open.settled.frames));
}

SessionRecord SessionRegistry::onDisk(SessionRecord record, qint64 settledEnd, qint64 settledFrames)
{
    if (record.status != QLatin1String("stopped")) {
        record.audioBytes = std::min(record.audioBytes, settledEnd);
        record.audioFrameCount = std::min(record.audioFrameCount, settledFrames);
    }
    return record;
}

qint64 SessionRegistry::SettledAudio::framesUntil(qint64 until) const
{
    qint64 count = frames;
    for (auto it = pending.cbegin(); it != pending.cend() && it->first <= until; ++it)
        count = it->second;
    return count;
}

void SessionRegistry::SettledAudio::advance(qint64 until)
{
    frames = framesUntil(until);
    while (!pending.empty() && pending.front().first <= until)
        pending.pop_front();
    end = std::max(end, until);
}

void SessionRegistry::noteAudio(const QString &id, qint64 bytes, double level)
{
    auto it = m_open.find(id);
    if (it == m_open.end())
        return;
    SessionRecord &record = it->record;
    ++record.audioFrameCount;
    record.audioBytes += bytes;
    record.levelSum += level;
    record.peakLevel = std::max(record.peakLevel, level);
    it->lastFrameMonotonicMs = m_clock.monotonicMs();
    it->settled.pending.emplace_back(record.audioBytes + it->audioGapBytes, record.audioFrameCount);
}

qint64 SessionRegistry::audioEnd(const QString &id) const
{
    const auto it = m_open.constFind(id);
    return it == m_open.cend() ? 0 : it->record.audioBytes + it->audioGapBytes;
}

qint64 SessionRegistry::heldAudioBytes(const QString &id, qint64 offset, qint64 bytes)
{
    auto it = m_open.find(id);
    if (it == m_open.end())
        return 0;
    const qint64 end = it->record.audioBytes + it->audioGapBytes;
    if (offset > end) {
        it->audioGapBytes += offset - end;
        ServerLog::write(QStringLiteral("server stream audio gap session=%1 bytes=%2")
                             .arg(id)
                             .arg(offset - end));
    }
    return std::clamp<qint64>(end - offset, 0, bytes);
}

bool SessionRegistry::isCurrentStream(const QString &id, const LiveStream *stream) const
{
    const auto it = m_open.constFind(id);
    return it != m_open.cend() && it->stream == stream;
}

void SessionRegistry::noteInterim(const QString &id)
{
    auto it = m_open.find(id);
    if (it != m_open.end())
        ++it->record.interimCount;
}

bool SessionRegistry::storeFinal(const QString &id, const StoredSegment &segment, qint64 endOffset)
{
    auto it = m_open.find(id);
    if (it != m_open.end()) {
        SessionRecord next = it->record;
        ++next.finalCount;
        const qint64 settledEnd = std::max(it->settled.end, endOffset);
        if (!m_store.appendSegmentAndUpdate(
                onDisk(next, settledEnd, it->settled.framesUntil(endOffset)), segment))
            return false;
        it->record = next;
        it->settled.advance(endOffset);
        return true;
    }
    // A last final of a stream that outlived its session's stop is still part of it.
    auto stored = m_store.find(id);
    if (!stored)
        return false;
    ++stored->finalCount;
    return m_store.appendSegmentAndUpdate(*stored, segment);
}

void SessionRegistry::noteError(const QString &id, int code, const QString &message)
{
    auto it = m_open.find(id);
    if (it == m_open.end())
        return;
    it->record.lastError = SessionError {m_clock.now(), code, message};
    persist(*it);
}

QString SessionRegistry::recognizerModel() const
{
    return m_recognizers.modelName();
}

void SessionRegistry::sweep()
{
    const QDateTime now = m_clock.now();
    const qint64 monotonic = m_clock.monotonicMs();
    QStringList abandoned;
    for (auto it = m_open.begin(); it != m_open.end(); ++it) {
        if (LiveStream *stream = it->stream.data()) {
            if (monotonic - it->lastFrameMonotonicMs >=
                std::chrono::duration_cast<std::chrono::milliseconds>(m_limits.streamIdleAfter)
                    .count()) {
                ServerLog::write(QStringLiteral("server stream idle session=") + it.key());
                stream->close(QWebSocketProtocol::CloseCodeGoingAway, false);
                continue;
            }
            it->record.lastActivityAt = now;
            persist(*it);
            continue;
        }
        if (it->record.lastActivityAt.secsTo(now) >=
            std::chrono::duration_cast<std::chrono::seconds>(kAbandonAfter).count())
            abandoned.append(it.key());
    }
    for (const QString &id : std::as_const(abandoned))
        stop(id, QStringLiteral("stream-abandoned"));
}

} // namespace vernalo::server
