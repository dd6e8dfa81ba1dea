#pragma once

#include "recognizer.h"
#include "reference_server.h"
#include "support/fake_clock.h"

#include <functional>
#include <memory>
#include <optional>
#include <QJsonArray>
#include <QJsonObject>
#include <QList>
#include <QNetworkAccessManager>
#include <QTemporaryDir>
#include <QUrl>
#include <QWebSocket>

namespace vernalo::test {

// The shared key every build accepts.
QByteArray sharedApiKey();
// A session creation body as the client sends it.
QByteArray sessionRequest(const QString &language = QStringLiteral("en-US"));

struct HttpResult
{
    int status = 0; // 0: no answer
    QByteArray body;
    QList<QPair<QByteArray, QByteArray>> headers;

    QJsonObject json() const;
    QByteArray header(const QByteArray &name) const;
};

// Blocking HTTP calls against a server on 127.0.0.1, each waiting on real socket I/O with a
// deadline.
class HttpCaller
{
public:
    explicit HttpCaller(QUrl base);
    void setBase(QUrl base) { m_base = std::move(base); }

    HttpResult call(const QByteArray &method, const QString &pathAndQuery,
                    const QByteArray &body = {},
                    const QList<QPair<QByteArray, QByteArray>> &headers = {});
    // With the shared API key (and a user token when given).
    HttpResult stt(const QByteArray &method, const QString &pathAndQuery,
                   const QByteArray &body = {}, const QByteArray &authToken = {});
    // A user's token from /auth/login; empty on failure.
    QByteArray login(const QString &email, const QString &password);

    // Sends raw bytes on a fresh connection and returns everything read until the peer closes
    // or one complete response (by Content-Length) has arrived.
    static QByteArray rawExchange(quint16 port, const QByteArray &request, int timeoutMs = 5000);

private:
    QNetworkAccessManager m_network;
    QUrl m_base;
};

// One live stream connection, collecting the server's JSON events.
class StreamPeer : public QObject
{
    Q_OBJECT
public:
    StreamPeer();
    bool open(const QString &url);
    void sendStart(const QString &language = QStringLiteral("en-US"),
                   std::optional<qint64> audioOffset = std::nullopt);
    void sendBinary(const QByteArray &pcm);
    void sendBase64(const QByteArray &pcm);
    void sendStop();
    // Waits until an event of the type has arrived (counting from the start); false on timeout.
    bool waitForEvent(const QString &type, int count = 1, int timeoutMs = 5000);
    bool waitForClose(int timeoutMs = 5000);
    QList<QJsonObject> events(const QString &type) const;
    const QList<QJsonObject> &allEvents() const { return m_events; }
    QWebSocket &socket() { return m_socket; }

private:
    QWebSocket m_socket;
    QList<QJsonObject> m_events;
};

// PCM16 at a constant amplitude for the given milliseconds, 100 ms per chunk.
QList<QByteArray> speechChunks(int ms, qint16 amplitude = 3000);

// The samples of a RIFF/WAVE file's "data" chunk; empty when the file is not 16 kHz mono PCM16.
QByteArray wavSamples(const QString &path);

// A ReferenceServer in this process on a free port, with its own data folder, fake clock and
// the script recognizer.
class InProcessServer
{
public:
    explicit InProcessServer(const QString &script, server::ServerOptions options = {});
    // With any recognizer, made anew at every (re)start.
    InProcessServer(std::function<std::unique_ptr<server::RecognizerFactory>()> recognizers,
                    server::ServerOptions options = {});
    ~InProcessServer();

    bool start(QString *error);
    // Destroys and recreates the server on the same folder and port (a clean restart).
    bool restart(QString *error);
    server::ReferenceServer &server() { return *m_server; }
    FakeClock &clock() { return m_clock; }
    QUrl baseUrl() const;
    quint16 port() const { return m_port; }
    server::ServerOptions &options() { return m_options; }

private:
    std::function<std::unique_ptr<server::RecognizerFactory>()> m_recognizers;
    QTemporaryDir m_dir;
    server::ServerOptions m_options;
    FakeClock m_clock;
    std::unique_ptr<server::ReferenceServer> m_server;
    quint16 m_port = 0;
};

} // namespace vernalo::test
