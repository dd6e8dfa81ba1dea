#pragma once

#include "http_router.h"
#include "server_options.h"
#include "wire/app_update_manifest.h"

#include <memory>
#include <QObject>
#include <QUrl>

class QHttpServer;
class QHttpServerRequest;
class QHttpServerResponder;

namespace vernalo {
class Clock;
}

namespace vernalo::server {

class AuthApi;
class GuardedTcpServer;
class HostPolicy;
class HttpRouter;
class RecognizerFactory;
class ServerDatabase;
class SessionRegistry;
class SessionStore;
class SttApi;
class UserStore;

// The whole reference backend on one port: STT REST API, live stream (WebSocket upgrade on
// /v1/stream/{session}), auth service and update manifest.
class ReferenceServer : public QObject
{
    Q_OBJECT
public:
    ReferenceServer(ServerOptions options, Clock &clock,
                    std::unique_ptr<RecognizerFactory> recognizers, QObject *parent = nullptr);
    ~ReferenceServer() override;

    // Opens its log and the database, creates the demo users, picks up open sessions and starts
    // listening.
    bool start(QString *error);
    quint16 port() const { return m_port; }
    QUrl baseUrl() const;

    SessionRegistry &registry() { return *m_registry; }
    UserStore &users() { return *m_users; }
    SessionStore &sessions() { return *m_sessions; }

private:
    void handle(const QHttpServerRequest &request, QHttpServerResponder &&responder);
    void handleStreamPath(const QHttpServerRequest &request, QHttpServerResponder &&responder);
    void acceptWebSockets();
    std::optional<HttpReply> refusal(const QHttpServerRequest &request) const;

    ServerOptions m_options;
    Clock &m_clock;
    std::unique_ptr<RecognizerFactory> m_recognizers;
    std::unique_ptr<ServerDatabase> m_db;
    std::unique_ptr<UserStore> m_users;
    std::unique_ptr<SessionStore> m_sessions;
    std::unique_ptr<SessionRegistry> m_registry;
    std::unique_ptr<SttApi> m_stt;
    std::unique_ptr<AuthApi> m_auth;
    std::unique_ptr<HttpRouter> m_router;
    std::unique_ptr<HostPolicy> m_hosts;
    std::unique_ptr<QHttpServer> m_http;
    GuardedTcpServer *m_tcp = nullptr;
    AppUpdateManifest m_manifest;
    QString m_logPath;
    quint16 m_port = 0;
};

} // namespace vernalo::server
