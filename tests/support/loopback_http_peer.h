#pragma once

#include <functional>
#include <memory>
#include <QByteArray>
#include <QHash>
#include <QJsonDocument>
#include <QList>
#include <QObject>
#include <QQueue>
#include <QUrl>
#include <QUrlQuery>
#include <vector>

class QHttpServer;
class QHttpServerResponder;

namespace vernalo::test {

using HeaderList = QList<QPair<QByteArray, QByteArray>>;
// A header's value by case-insensitive name; empty when absent.
QByteArray headerValue(const HeaderList &headers, const QByteArray &name);

// One request as the peer received it.
struct RecordedRequest
{
    QByteArray method; // "GET", "POST", ...
    QString path; // decoded path
    QByteArray rawPath; // path exactly as sent, percent-encoding intact
    QUrlQuery query;
    QList<QPair<QByteArray, QByteArray>> headers;
    QByteArray body;

    // Header value by case-insensitive name; empty when absent.
    QByteArray header(const QByteArray &name) const { return headerValue(headers, name); }
    bool hasHeader(const QByteArray &name) const;
    QJsonDocument json() const { return QJsonDocument::fromJson(body); }
};

struct ScriptedResponse
{
    int status = 200;
    QByteArray body;
    QByteArray contentType = "application/json";
    QList<QPair<QByteArray, QByteArray>> headers;
    bool neverAnswer = false; // hold the connection open without a reply (half-open peer)
    // When set, these bytes go to the socket exactly as given (status line, headers, body or
    // anything else) and the connection is closed: truncated bodies, bodies without a length,
    // answers that are not HTTP at all.
    QByteArray raw;

    static ScriptedResponse json(int status, const QByteArray &body)
    {
        return withType(status, body, "application/json");
    }
    // Holds the connection without ever answering.
    static ScriptedResponse silence() { return {200, {}, {}, {}, true, {}}; }
    static ScriptedResponse withType(int status, const QByteArray &body, const QByteArray &type)
    {
        return {status, body, type, {}, false, {}};
    }
    static ScriptedResponse rawBytes(const QByteArray &bytes)
    {
        return {200, {}, {}, {}, false, bytes};
    }
};

// An HTTP server on 127.0.0.1, port chosen by the system, that answers with literal responses
// written in the test and records everything the client sent. Routes match method + path;
// one-off responses queued with enqueue() win over the standing ones set with on().
class LoopbackHttpPeer : public QObject
{
    Q_OBJECT
public:
    explicit LoopbackHttpPeer(QObject *parent = nullptr);
    ~LoopbackHttpPeer() override;

    // False when no port could be bound.
    bool start();
    QUrl baseUrl() const { return QUrl(QStringLiteral("http://127.0.0.1:%1").arg(m_port)); }
    quint16 port() const { return m_port; }

    void on(const QByteArray &method, const QString &path, ScriptedResponse response);
    void enqueue(const QByteArray &method, const QString &path, ScriptedResponse response);
    // Answers anything no route matched; by default 404 with a JSON error.
    void setFallback(std::function<ScriptedResponse(const RecordedRequest &)> fallback);

    const QList<RecordedRequest> &requests() const { return m_requests; }
    QList<RecordedRequest> requestsTo(const QByteArray &method, const QString &path) const;
    void clearRequests() { m_requests.clear(); }
    int heldCount() const { return static_cast<int>(m_held.size()); }
    // Closes the held connections without an answer.
    void dropHeld();
    // Answers the oldest held request now (a late answer); false when none is held.
    bool answerHeld(const ScriptedResponse &response);

Q_SIGNALS:
    void requestReceived(const vernalo::test::RecordedRequest &request);

private:
    void handle(const RecordedRequest &request, QHttpServerResponder &&responder);
    static void respond(QHttpServerResponder &responder, const ScriptedResponse &response);

    std::unique_ptr<QHttpServer> m_server;
    quint16 m_port = 0;
    QHash<QString, ScriptedResponse> m_standing;
    QHash<QString, QQueue<ScriptedResponse>> m_queued;
    std::function<ScriptedResponse(const RecordedRequest &)> m_fallback;
    QList<RecordedRequest> m_requests;
    std::vector<std::unique_ptr<QHttpServerResponder>> m_held;
};

} // namespace vernalo::test
