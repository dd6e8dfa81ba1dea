#pragma once

#include <optional>
#include <QJsonArray>
#include <QJsonObject>
#include <QList>
#include <QNetworkAccessManager>
#include <QProcess>
#include <QUrl>
#include <QWebSocket>

namespace vernalo::test {

// The shared key every build accepts.
QByteArray sharedApiKey();
// A session creation body as the client sends it.
QByteArray sessionRequest(const QString &language = QStringLiteral("en-US"));

using Headers = QList<QPair<QByteArray, QByteArray>>;

struct HttpResult
{
    int status = 0; // 0: no answer
    QByteArray body;
    Headers headers;

    QJsonObject json() const;
    QByteArray header(const QByteArray &name) const;
};

// HTTP calls to a server on 127.0.0.1, each waiting on loopback I/O with a deadline; the event
// loop runs meanwhile, so the server may live in this very thread.
class HttpCaller
{
public:
    explicit HttpCaller(QUrl base);
    void setBase(QUrl base) { m_base = std::move(base); }
    // The user token stt() sends when it is given none.
    void setAuthToken(QByteArray token) { m_token = std::move(token); }

    HttpResult call(const QByteArray &method, const QString &pathAndQuery,
                    const QByteArray &body = {}, const Headers &headers = {});
    // With the shared API key and the user token.
    HttpResult stt(const QByteArray &method, const QString &pathAndQuery,
                   const QByteArray &body = {}, const QByteArray &authToken = {});
    // A user's token from /auth/login; empty on failure.
    QByteArray login(const QString &email, const QString &password);
    // The segment texts the server holds for a session, in order; no value without an answer.
    std::optional<QStringList> transcriptTexts(const QString &sessionId);
    // A number of the session's metadata ("audioBytes", "audioFrameCount").
    std::optional<qint64> sessionCount(const QString &sessionId, const QString &field);

    // Raw bytes on a fresh connection; everything read until the peer closes or one complete
    // response (by Content-Length) has arrived.
    static QByteArray rawExchange(quint16 port, const QByteArray &request, int timeoutMs = 5000);

private:
    QNetworkAccessManager m_network;
    QUrl m_base;
    QByteArray m_token;
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
    void sendBinary(const QByteArray &pcm) { m_socket.sendBinaryMessage(pcm); }
    void sendBase64(const QByteArray &pcm);
    void sendStop() { m_socket.sendTextMessage(QStringLiteral("{\"type\":\"stop\"}")); }
    // Until `count` events of the type have arrived since the start; false on timeout.
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
// The samples of a RIFF/WAVE file's "data" chunk; empty unless it is 16 kHz mono PCM16.
QByteArray wavSamples(const QString &path);

// The reference server executable as a child of the test, so it can be killed, frozen and
// restarted like a real backend host; it keeps its port across restarts and dies with the test
// process even after a crash.
class ServerProcess
{
public:
    ServerProcess(QString binary, QStringList arguments);
    ~ServerProcess();
    ServerProcess(const ServerProcess &) = delete;
    ServerProcess &operator=(const ServerProcess &) = delete;

    // Starts on port() (0: a free one) with the arguments and `extra`, and waits for the
    // "listening on" line. False with the server's output in *why.
    bool start(QString *why = nullptr, const QStringList &extra = {});
    void kill(); // SIGKILL: nothing is flushed
    // SIGTERM and the wait for the exit; the exit code, -1 for a crash.
    int terminate();
    void freeze(bool frozen); // SIGSTOP / SIGCONT: connections stay open, nothing answers
    bool isRunning() const { return m_process.state() != QProcess::NotRunning; }
    void setPort(quint16 port) { m_port = port; }
    quint16 port() const { return m_port; }
    QUrl baseUrl() const;
    QProcess &process() { return m_process; }

private:
    QString m_binary;
    QStringList m_arguments;
    QProcess m_process;
    quint16 m_port = 0;
    bool m_frozen = false;
};

} // namespace vernalo::test
