#include "reference_server.h"

#include "auth_api.h"
#include "build_config.h"
#include "host_policy.h"
#include "http_router.h"
#include "recognizer.h"
#include "request_size_guard.h"
#include "server_database.h"
#include "server_log.h"
#include "session_registry.h"
#include "session_store.h"
#include "stt_api.h"
#include "update_manifest.h"
#include "user_store.h"
#include "wire/clock.h"

#include <QDir>
#include <QFile>
#include <QHttpServer>
#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSslKey>
#include <QWebSocket>

namespace vernalo::server {

namespace {

QByteArray methodName(QHttpServerRequest::Method method)
{
    switch (method) {
    case QHttpServerRequest::Method::Get:
        return "GET";
    case QHttpServerRequest::Method::Put:
        return "PUT";
    case QHttpServerRequest::Method::Delete:
        return "DELETE";
    case QHttpServerRequest::Method::Post:
        return "POST";
    case QHttpServerRequest::Method::Head:
        return "HEAD";
    case QHttpServerRequest::Method::Options:
        return "OPTIONS";
    case QHttpServerRequest::Method::Patch:
        return "PATCH";
    case QHttpServerRequest::Method::Connect:
        return "CONNECT";
    case QHttpServerRequest::Method::Trace:
        return "TRACE";
    default:
        return "UNKNOWN";
    }
}

void send(QHttpServerResponder &responder, const HttpReply &reply)
{
    responder.writeStatusLine(static_cast<QHttpServerResponder::StatusCode>(reply.status));
    responder.writeHeader("Content-Type", reply.contentType);
    for (const auto &[name, value] : reply.headers)
        responder.writeHeader(name, value);
    responder.writeHeader("Content-Length", QByteArray::number(reply.body.size()));
    responder.writeHeader("Cache-Control", "no-store");
    responder.writeBody(reply.body);
}

std::optional<QSslConfiguration> loadTls(const QString &certFile, const QString &keyFile,
                                         QString *error)
{
    const QList<QSslCertificate> chain = QSslCertificate::fromPath(certFile);
    QFile keyText(keyFile);
    if (chain.isEmpty() || !keyText.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("cannot read the TLS certificate or key");
        return std::nullopt;
    }
    const QByteArray pem = keyText.readAll();
    QSslKey key(pem, QSsl::Ec);
    if (key.isNull())
        key = QSslKey(pem, QSsl::Rsa);
    if (key.isNull()) {
        *error = QStringLiteral("cannot read the TLS key ") + keyFile;
        return std::nullopt;
    }
    QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
    configuration.setLocalCertificateChain(chain);
    configuration.setPrivateKey(key);
    configuration.setPeerVerifyMode(QSslSocket::VerifyNone);
    return configuration;
}

} // namespace

ReferenceServer::ReferenceServer(ServerOptions options, Clock &clock,
                                 std::unique_ptr<RecognizerFactory> recognizers, QObject *parent)
    : QObject(parent)
    , m_options(std::move(options))
    , m_clock(clock)
    , m_recognizers(std::move(recognizers))
{ }

ReferenceServer::~ReferenceServer()
{
    // Streams first, while their sockets still exist: they are told the server is going away
    // (so clients reconnect) and the counters are written.
    m_registry.reset();
    m_http.reset();
    if (ServerLog::path() == m_logPath)
        ServerLog::close();
}

QUrl ReferenceServer::baseUrl() const
{
    QUrl url;
    url.setScheme(m_options.tlsCertFile.isEmpty() ? QStringLiteral("http")
                                                  : QStringLiteral("https"));
    url.setHost(m_options.bindAddress.toString());
    url.setPort(m_port);
    return url;
}

bool ReferenceServer::start(QString *error)
{
    m_logPath = m_options.logFile.isEmpty()
        ? QDir(m_options.dataDir).filePath(QStringLiteral("server.log"))
        : m_options.logFile;
    if (!ServerLog::open(m_logPath, error))
        return false;
    m_db = std::make_unique<ServerDatabase>();
    if (!m_db->open(m_options.dataDir, error))
        return false;
    m_users = std::make_unique<UserStore>(*m_db, m_clock, m_options.passwordIterations);
    m_sessions = std::make_unique<SessionStore>(*m_db);
    for (const auto &[email, password] : std::as_const(m_options.demoUsers)) {
        if (!m_users->ensureUser(email, password, QStringLiteral("user"))) {
            *error = QStringLiteral("cannot create demo user ") + email;
            return false;
        }
    }
    if (!m_options.updateManifestFile.isEmpty()) {
        const auto manifest = UpdateManifest::load(m_options.updateManifestFile, error);
        if (!manifest)
            return false;
        m_manifest = *manifest;
    } else {
        m_manifest = UpdateManifest::generated(m_clock.now());
    }

    m_registry = std::make_unique<SessionRegistry>(
        *m_sessions, *m_recognizers, m_clock,
        SessionRegistry::Limits {m_options.maxStreams, m_options.maxOpenSessionsPerUser,
                                 std::chrono::seconds(m_options.streamIdleTimeoutSeconds)});
    m_registry->loadOpenSessions();

    m_http = std::make_unique<QHttpServer>();
    m_http->setMissingHandler(
        [this](const QHttpServerRequest &request, QHttpServerResponder &&responder) {
            handle(request, std::move(responder));
        });
    m_http->route(QStringLiteral("/v1/stream/<arg>"),
                  [this](const QString &, const QHttpServerRequest &request,
                         QHttpServerResponder &&responder) {
                      handleStreamPath(request, std::move(responder));
                  });
    connect(m_http.get(), &QHttpServer::newWebSocketConnection, this,
            &ReferenceServer::acceptWebSockets);

    m_hosts = std::make_unique<HostPolicy>(m_options.bindAddress, m_options.allowedHosts,
                                           m_options.allowedOrigins);
    ConnectionLimits limits;
    limits.maxBodyBytes = m_options.maxBodyBytes;
    limits.maxConnections = m_options.maxConnections;
    limits.headTimeout = std::chrono::seconds(m_options.httpHeadTimeoutSeconds);
    limits.idleTimeout = std::chrono::seconds(m_options.httpIdleTimeoutSeconds);
    m_tcp = new GuardedTcpServer(limits, m_clock, m_http.get());
    if (!m_options.tlsCertFile.isEmpty()) {
        const auto tls = loadTls(m_options.tlsCertFile, m_options.tlsKeyFile, error);
        if (!tls)
            return false;
        m_tcp->setTls(*tls);
    }
    if (!m_tcp->listen(m_options.bindAddress, m_options.port)) {
        *error = QStringLiteral("cannot listen on %1:%2: %3")
                     .arg(m_options.bindAddress.toString())
                     .arg(m_options.port)
                     .arg(m_tcp->errorString());
        return false;
    }
    m_http->bind(m_tcp);
    m_port = m_tcp->serverPort();
    // Requests are only served from the event loop, so the routes can follow the port.
    QStringList keys {QStringLiteral(VERNALO_DEFAULT_SHARED_API_KEY)};
    keys += m_options.extraApiKeys;
    m_stt = std::make_unique<SttApi>(*m_registry, *m_sessions, *m_users, m_clock, keys,
                                     baseUrl().authority(), m_options.maxOpenSessionsPerUser);
    m_stt->setSecureStreams(!m_options.tlsCertFile.isEmpty());
    m_auth = std::make_unique<AuthApi>(*m_users, m_options.adminKey, m_clock, [this](qint64 id) {
        m_registry->endSessionsOf(id, QStringLiteral("user-blocked"));
    });
    m_router = std::make_unique<HttpRouter>();
    m_stt->registerRoutes(*m_router);
    m_auth->registerRoutes(*m_router);
    for (const char *path : {"/vernalo/latest-linux.json", "/vernalo/latest-mac.json"}) {
        m_router->add("GET", QString::fromLatin1(path),
                      [this](const HttpRequest &, const QStringList &) {
                          return HttpReply::json(200, m_manifest.toJson());
                      });
    }
    ServerLog::write(QStringLiteral("server listening url=") + baseUrl().toString() +
                     QStringLiteral(" recognizer=") + m_recognizers->modelName());
    return true;
}

void ReferenceServer::handle(const QHttpServerRequest &request, QHttpServerResponder &&responder)
{
    HttpRequest view;
    view.method = methodName(request.method());
    view.path = request.url().path();
    view.query = request.query();
    view.headers = request.headers();
    view.body = request.body();
    view.remoteAddress = request.remoteAddress();
    if (const auto refused = refusal(request)) {
        send(responder, *refused);
        return;
    }
    // The connection guard refuses declared oversize bodies before they are read; this catches
    // anything that arrived without a declared size.
    const HttpReply reply = view.body.size() > m_options.maxBodyBytes
        ? HttpReply::error(413, QStringLiteral("Pyynnön runko on liian suuri"))
        : m_router->dispatch(view);
    send(responder, reply);
}

std::optional<HttpReply> ReferenceServer::refusal(const QHttpServerRequest &request) const
{
    return m_hosts->check(request.value("host"), request.value("origin"));
}

void ReferenceServer::handleStreamPath(const QHttpServerRequest &request,
                                       QHttpServerResponder &&responder)
{
    // An upgrade must get no answer here: the HTTP server then hands the socket over as a
    // WebSocket (acceptWebSockets), where it is judged.
    if (request.value("upgrade").compare("websocket", Qt::CaseInsensitive) == 0)
        return;
    send(responder, HttpReply::error(426, QStringLiteral("Tämä osoite on WebSocket-striimi")));
}

void ReferenceServer::acceptWebSockets()
{
    while (m_http && m_http->hasPendingWebSocketConnections()) {
        std::unique_ptr<QWebSocket> socket(m_http->nextPendingWebSocketConnection());
        const auto refused =
            m_hosts->check(socket->request().rawHeader("Host"), socket->origin().toUtf8());
        m_registry->acceptStream(std::move(socket),
                                 refused ? QJsonDocument::fromJson(refused->body)
                                               .object()
                                               .value(QStringLiteral("error"))
                                               .toString()
                                         : QString());
    }
}

} // namespace vernalo::server
