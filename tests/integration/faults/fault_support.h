#pragma once

#include <optional>
#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QNetworkAccessManager>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QUrl>

namespace vernalo::test {

// The reference server as a child process, so it can be killed, frozen and restarted like a
// real backend host. It keeps its port and data folder across restarts.
class ServerChild
{
public:
    ServerChild(QString dataDir, QString scriptPath);
    ~ServerChild();
    ServerChild(const ServerChild &) = delete;
    ServerChild &operator=(const ServerChild &) = delete;

    // Starts on the given port (0: a free one on the first start, then the same one again) and
    // waits for the "listening on" line. False (with the output in *why) on failure.
    bool start(QString *why = nullptr);
    void kill(); // SIGKILL: nothing is flushed
    void freeze(); // SIGSTOP: connections stay open, nothing answers
    void thaw(); // SIGCONT
    bool isRunning() const { return m_process.state() != QProcess::NotRunning; }

    quint16 port() const { return m_port; }
    QUrl baseUrl() const;
    // Milliseconds of real time the last start took until it listened.
    qint64 lastStartMs() const { return m_lastStartMs; }

private:
    QString m_dataDir;
    QString m_scriptPath;
    QProcess m_process;
    quint16 m_port = 0;
    qint64 m_lastStartMs = 0;
    bool m_frozen = false;
};

// A recognition script whose finals are "segment 1", "segment 2", ... one per second of audio,
// so a lost, repeated or reordered final shows as a gap or a repeat in the numbers.
QByteArray numberedScript(int seconds);
// The N of "segment N"; 0 for any other text.
int segmentNumber(const QString &text);

// Small blocking calls to the server's REST interface with the shared key, waiting on real
// loopback I/O. Every call answers within a few seconds or fails.
class ServerCalls
{
public:
    // With the shared key every build accepts.
    explicit ServerCalls(QUrl base);
    void setAuthToken(const QString &token) { m_token = token; }
    std::optional<QJsonObject> get(const QString &path);
    std::optional<QJsonObject> post(const QString &path, const QJsonObject &body);
    // The segment texts the server holds for a session, in order.
    std::optional<QStringList> transcriptTexts(const QString &sessionId);
    std::optional<qint64> audioBytes(const QString &sessionId);

private:
    std::optional<QJsonObject> send(const QByteArray &method, const QString &path,
                                    const QByteArray &body);

    QNetworkAccessManager m_network;
    QUrl m_base;
    QString m_apiKey;
    QString m_token;
};

// Iteration counts: the test default, raised by the soak run through the environment.
int iterationsFrom(const char *variable, int fallback);
// The seed of a run: VERNALO_FAULT_SEED when set, else a fresh one. Printed by the caller.
quint32 faultSeed();

// min / median / max of measured values, as one line for the run's output.
QString figureLine(const QString &name, QList<double> values, const QString &unit);

} // namespace vernalo::test
