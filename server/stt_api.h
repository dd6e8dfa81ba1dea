#pragma once

#include "http_router.h"

#include <optional>
#include <QString>
#include <QStringList>

namespace vernalo {
class Clock;
}

namespace vernalo::server {

class SessionRegistry;
class SessionStore;
class UserStore;

// The STT REST interface: sessions, transcripts, metadata, memos and health. Every route except
// health needs an accepted "x-api-key"; an "x-auth-token", when sent, must belong to an active
// user and limits the caller to that user's sessions. Without a token the caller reaches only
// sessions made without a user under the same key, and only by their id: the built-in key is
// public, so the id (random, given only to its creator) is what keeps them apart, and the list
// shows none of them.
class SttApi
{
public:
    SttApi(SessionRegistry &registry, SessionStore &store, UserStore &users, Clock &clock,
           QStringList acceptedApiKeys, QString fallbackHost, int maxOpenSessions);

    void registerRoutes(HttpRouter &router);
    // Stream URLs say wss:// when the server speaks TLS.
    void setSecureStreams(bool secure) { m_secureStreams = secure; }

    // Reads a JSON object body; an empty body counts as {}. A failure comes back as the 400
    // reply to send.
    static std::optional<HttpReply> readJsonObject(const HttpRequest &request, QJsonObject *out);

private:
    struct Caller
    {
        std::optional<qint64> userId;
        QByteArray keyDigest;
    };
    // The caller, or the 401 reply.
    std::optional<HttpReply> authorize(const HttpRequest &request, Caller *caller) const;
    std::optional<struct SessionRecord> ownedSession(const Caller &caller, const QString &id) const;
    QString streamUrl(const HttpRequest &request, const QString &sessionId,
                      const QString &token) const;

    HttpReply createSession(const HttpRequest &request);
    HttpReply listSessions(const HttpRequest &request);
    HttpReply sessionMeta(const HttpRequest &request, const QString &id);
    HttpReply stopSession(const HttpRequest &request, const QString &id);
    HttpReply deleteSession(const HttpRequest &request, const QString &id);
    HttpReply transcript(const HttpRequest &request, const QString &id);
    HttpReply generateSummary(const HttpRequest &request, const QString &id);
    HttpReply summaryDocx(const HttpRequest &request, const QString &id);
    HttpReply health();

    SessionRegistry &m_registry;
    SessionStore &m_store;
    UserStore &m_users;
    Clock &m_clock;
    QList<QByteArray> m_keyDigests;
    QString m_fallbackHost;
    int m_maxOpenSessions;
    bool m_secureStreams = false;
};

} // namespace vernalo::server
