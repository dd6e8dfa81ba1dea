#include "stt_api.h"

#include "docx_writer.h"
#include "memo_builder.h"
#include "password_hasher.h"
#include "session_registry.h"
#include "stt_wire.h"
#include "user_store.h"
#include "wire/clock.h"

#include <QJsonDocument>
#include <QJsonParseError>
#include <QRegularExpression>

namespace vernalo::server {

namespace {
const QString kMemoModel = QStringLiteral("vernalo-extractive-1");

HttpReply sessionNotFound(const QString &id)
{
    return HttpReply::error(404, QStringLiteral("Sessiota ei löydy: ") + id);
}
} // namespace

SttApi::SttApi(SessionRegistry &registry, SessionStore &store, UserStore &users, Clock &clock,
               QStringList acceptedApiKeys, QString fallbackHost, int maxOpenSessions)
    : m_registry(registry)
    , m_store(store)
    , m_users(users)
    , m_clock(clock)
    , m_fallbackHost(std::move(fallbackHost))
    , m_maxOpenSessions(maxOpenSessions)
{
    for (const QString &key : acceptedApiKeys)
        m_keyDigests.append(tokenDigest(key.trimmed()));
}

void SttApi::registerRoutes(HttpRouter &router)
{
    router.add("GET", QStringLiteral("/health"),
               [this](const HttpRequest &, const QStringList &) { return health(); });
    router.add("POST", QStringLiteral("/v1/sessions"),
               [this](const HttpRequest &r, const QStringList &) { return createSession(r); });
    router.add("GET", QStringLiteral("/v1/sessions"),
               [this](const HttpRequest &r, const QStringList &) { return listSessions(r); });
    router.add("GET", QStringLiteral("/v1/sessions/{}"),
               [this](const HttpRequest &r, const QStringList &a) { return sessionMeta(r, a[0]); });
    router.add(
        "DELETE", QStringLiteral("/v1/sessions/{}"),
        [this](const HttpRequest &r, const QStringList &a) { return deleteSession(r, a[0]); });
    router.add("POST", QStringLiteral("/v1/sessions/{}/stop"),
               [this](const HttpRequest &r, const QStringList &a) { return stopSession(r, a[0]); });
    router.add("GET", QStringLiteral("/v1/sessions/{}/transcript"),
               [this](const HttpRequest &r, const QStringList &a) { return transcript(r, a[0]); });
    router.add(
        "POST", QStringLiteral("/v1/sessions/{}/summary"),
        [this](const HttpRequest &r, const QStringList &a) { return generateSummary(r, a[0]); });
    router.add("GET", QStringLiteral("/v1/sessions/{}/summary/docx"),
               [this](const HttpRequest &r, const QStringList &a) { return summaryDocx(r, a[0]); });
}

std::optional<HttpReply> SttApi::readJsonObject(const HttpRequest &request, QJsonObject *out)
{
    if (request.body.trimmed().isEmpty()) {
        *out = QJsonObject();
        return std::nullopt;
    }
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(request.body, &error);
    if (error.error != QJsonParseError::NoError)
        return HttpReply::error(400,
                                QStringLiteral("Virheellinen JSON: %1 (kohta %2)")
                                    .arg(error.errorString())
                                    .arg(error.offset));
    if (!document.isObject())
        return HttpReply::error(400, QStringLiteral("JSON-rungon pitää olla objekti"));
    *out = document.object();
    return std::nullopt;
}

std::optional<HttpReply> SttApi::authorize(const HttpRequest &request, Caller *caller) const
{
    const QByteArray key = request.header("x-api-key").trimmed();
    bool accepted = false;
    const QByteArray digest = tokenDigest(QString::fromUtf8(key));
    if (!key.isEmpty()) {
        for (const QByteArray &known : m_keyDigests)
            accepted = constantTimeEquals(digest, known) || accepted;
    }
    caller->keyDigest = digest;
    if (!accepted)
        return HttpReply::error(401, QStringLiteral("Virheellinen tai puuttuva API-avain"));
    const QByteArray token = request.header("x-auth-token").trimmed();
    if (token.isEmpty())
        return std::nullopt;
    const auto user = m_users.userForToken(QString::fromUtf8(token));
    if (!user)
        return HttpReply::error(
            401, QStringLiteral("Kirjautuminen on vanhentunut. Kirjaudu uudelleen."));
    caller->userId = user->id;
    return std::nullopt;
}

std::optional<SessionRecord> SttApi::ownedSession(const Caller &caller, const QString &id) const
{
    auto session = m_registry.find(id);
    // Another user's session is reported as missing, not as forbidden.
    if (!session || session->ownerId != caller.userId)
        return std::nullopt;
    if (!caller.userId) {
        // Rows from before keys were recorded count as made with the built-in key.
        const QByteArray made =
            session->apiKeyDigest.isEmpty() ? m_keyDigests.constFirst() : session->apiKeyDigest;
        if (!constantTimeEquals(made, caller.keyDigest))
            return std::nullopt;
    }
    return session;
}

QString SttApi::streamUrl(const HttpRequest &request, const QString &sessionId,
                          const QString &token) const
{
    static const QRegularExpression hostPattern(
        QStringLiteral(R"(^[A-Za-z0-9.\-]+(:\d{1,5})?$|^\[[0-9A-Fa-f:.]+\](:\d{1,5})?$)"));
    QString host = QString::fromLatin1(request.header("host")).trimmed();
    if (!hostPattern.match(host).hasMatch())
        host = m_fallbackHost;
    return (m_secureStreams ? QStringLiteral("wss://") : QStringLiteral("ws://")) + host +
        QStringLiteral("/v1/stream/") + sessionId + QStringLiteral("?token=") + token;
}

HttpReply SttApi::health()
{
    return HttpReply::json(200,
                           encodeHealth(m_clock.now(), kMemoModel, m_registry.recognizerModel()));
}

HttpReply SttApi::createSession(const HttpRequest &request)
{
    Caller caller;
    if (auto denied = authorize(request, &caller))
        return *denied;
    QJsonObject body;
    if (auto bad = readJsonObject(request, &body))
        return *bad;
    QString error;
    const auto params = decodeSessionCreateRequest(body, &error);
    if (!params)
        return HttpReply::error(400, QStringLiteral("Virheellinen sessiopyyntö: ") + error);
    if (!m_registry.mayOpenSession(caller.userId, caller.keyDigest)) {
        HttpReply reply = HttpReply::error(
            429,
            QStringLiteral("Liian monta avointa sessiota (enintään %1). Lopeta jokin "
                           "sessio ja yritä uudelleen.")
                .arg(m_maxOpenSessions));
        reply.headers.append({QByteArrayLiteral("Retry-After"), QByteArrayLiteral("60")});
        return reply;
    }
    const auto [record, token] = m_registry.create(*params, caller.userId, caller.keyDigest);
    if (record.id.isEmpty())
        return HttpReply::error(500, QStringLiteral("Session tallennus epäonnistui"));
    return HttpReply::json(
        201, encodeSessionCreateResponse(record.id, streamUrl(request, record.id, token), token));
}

HttpReply SttApi::listSessions(const HttpRequest &request)
{
    Caller caller;
    if (auto denied = authorize(request, &caller))
        return *denied;
    int limit = 20;
    if (request.query.hasQueryItem(QStringLiteral("limit"))) {
        bool ok = false;
        limit = request.query.queryItemValue(QStringLiteral("limit")).toInt(&ok);
        if (!ok)
            return HttpReply::error(400, QStringLiteral("limit pitää olla kokonaisluku"));
    }
    limit = std::clamp(limit, 1, 100);
    const QString status =
        request.query.queryItemValue(QStringLiteral("status"), QUrl::FullyDecoded).trimmed();
    QList<SessionMetaResponse> items;
    if (!caller.userId)
        return HttpReply::json(200, encodeSessionList(items));
    for (const SessionRecord &stored : m_store.list(caller.userId, status, limit)) {
        // The registry holds the newest counters of open sessions.
        const SessionRecord current = m_registry.find(stored.id).value_or(stored);
        items.append(toSessionMetaResponse(current, m_store.segmentCount(current.id)));
    }
    return HttpReply::json(200, encodeSessionList(items));
}

HttpReply SttApi::sessionMeta(const HttpRequest &request, const QString &id)
{
    Caller caller;
    if (auto denied = authorize(request, &caller))
        return *denied;
    const auto session = ownedSession(caller, id);
    if (!session)
        return sessionNotFound(id);
    return HttpReply::json(200, encodeSessionMeta(*session, m_store.segmentCount(id)));
}

HttpReply SttApi::stopSession(const HttpRequest &request, const QString &id)
{
    Caller caller;
    if (auto denied = authorize(request, &caller))
        return *denied;
    if (!ownedSession(caller, id))
        return sessionNotFound(id);
    m_registry.stop(id, QStringLiteral("client-stop"));
    const auto session = m_registry.find(id);
    return HttpReply::json(200, encodeSessionMeta(*session, m_store.segmentCount(id)));
}

HttpReply SttApi::deleteSession(const HttpRequest &request, const QString &id)
{
    Caller caller;
    if (auto denied = authorize(request, &caller))
        return *denied;
    if (!ownedSession(caller, id))
        return sessionNotFound(id);
    if (!m_registry.remove(id))
        return HttpReply::error(500, QStringLiteral("Session poisto epäonnistui"));
    return HttpReply::json(200,
                           QJsonObject {{QStringLiteral("ok"), true}, {QStringLiteral("id"), id}});
}

HttpReply SttApi::transcript(const HttpRequest &request, const QString &id)
{
    Caller caller;
    if (auto denied = authorize(request, &caller))
        return *denied;
    if (!ownedSession(caller, id))
        return sessionNotFound(id);
    return HttpReply::json(200, encodeTranscript(id, m_store.segments(id)));
}

HttpReply SttApi::generateSummary(const HttpRequest &request, const QString &id)
{
    Caller caller;
    if (auto denied = authorize(request, &caller))
        return *denied;
    const auto session = ownedSession(caller, id);
    if (!session)
        return sessionNotFound(id);
    QJsonObject body;
    if (auto bad = readJsonObject(request, &body))
        return *bad;
    QString error;
    const auto fallback = decodeSummaryRequest(body, &error);
    if (!fallback)
        return HttpReply::error(400, QStringLiteral("Virheellinen muistiopyyntö: ") + error);
    const QList<StoredSegment> segments =
        mergeMemoSegments(m_store.segments(id), *fallback, session->createdAt);
    if (segments.isEmpty())
        return HttpReply::error(422,
                                QStringLiteral("Litteraatti on tyhjä, muistiota ei voi muodostaa"));

    const Memo memo = MemoBuilder::build(segments, session->language, session->createdAt);
    const QDateTime now = m_clock.now();
    const QByteArray docx = DocxWriter::write(
        DocxContent {memo.content.title, memo.dateLine, memo.keyPointsHeading, memo.keySentences,
                     memo.transcriptHeading, memo.transcriptLines, now});
    if (docx.isEmpty())
        return HttpReply::error(500, QStringLiteral("Muistiodokumentin luonti epäonnistui"));
    const QJsonObject payload = encodeSummaryPayload(id, now, memo.content);
    if (!m_store.saveMemo(
            id, StoredMemo {now, QJsonDocument(payload).toJson(QJsonDocument::Compact), docx}))
        return HttpReply::error(500, QStringLiteral("Muistion tallennus epäonnistui"));
    return HttpReply::json(200, payload);
}

HttpReply SttApi::summaryDocx(const HttpRequest &request, const QString &id)
{
    Caller caller;
    if (auto denied = authorize(request, &caller))
        return *denied;
    if (!ownedSession(caller, id))
        return sessionNotFound(id);
    auto memo = m_store.memo(id);
    if (!memo) {
        // Nothing generated yet: make the memo from the server's own transcript.
        HttpRequest generate = request;
        generate.body.clear();
        const HttpReply generated = generateSummary(generate, id);
        if (generated.status != 200)
            return generated;
        memo = m_store.memo(id);
        if (!memo)
            return HttpReply::error(500, QStringLiteral("Muistion tallennus epäonnistui"));
    }
    HttpReply reply;
    reply.body = memo->docx;
    reply.contentType = "application/vnd.openxmlformats-officedocument.wordprocessingml.document";
    reply.headers.append({QByteArrayLiteral("Content-Disposition"),
                          "attachment; filename=\"" + id.toUtf8() + "-muistio.docx\""});
    return reply;
}

} // namespace vernalo::server
