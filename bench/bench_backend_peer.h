#pragma once

#include <atomic>
#include <chrono>
#include <memory>
#include <QDateTime>
#include <QList>
#include <QObject>
#include <QString>
#include <QThread>
#include <vector>

class QHttpServer;
class QTcpServer;
class QWebSocket;
class QWebSocketServer;

namespace vernalo::bench {

// Steady-clock nanoseconds, comparable between threads.
inline qint64 steadyNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// The backend of a benchmark recording on a thread of its own, so its work never runs on the
// client's event loop: the REST routes of one session ("bench": create, transcript, metadata,
// stop) and its live stream, on 127.0.0.1. It notes when each audio chunk arrived (by the index
// the driver wrote into the chunk's first two samples) and sends transcript events on request,
// noting when each final left. It keeps nothing that grows with the recording: the transcript
// route answers the last 20 finals, as a server that pages its transcript would.
class BenchBackendPeer : public QObject
{
    Q_OBJECT
public:
    // Room for chunk and final indexes below `capacity`.
    explicit BenchBackendPeer(int capacity);
    ~BenchBackendPeer() override;

    // Starts the thread and both servers; the REST root, empty on failure.
    QString start();
    void stopServing();

    // Called on the peer's thread (queued) after every arrival, so a waiting client wakes.
    std::function<void()> onProgress;

    // 0 until the chunk (or the final) has arrived (left).
    qint64 chunkArrivedNs(int index) const { return m_chunkArrived[index].load(); }
    qint64 finalSentNs(int index) const { return m_finalSent[index].load(); }
    int chunksReceived() const { return m_chunksReceived.load(); }
    bool streamStarted() const { return m_started.load(); }

    // Ask the peer's thread to send; they return at once.
    void sendPartial(const QString &text);
    void sendFinal(int index, const QString &text, const QDateTime &timestamp);

    // Writes an index into a chunk's first two samples, so it survives the capture's conversion.
    static void stampIndex(QByteArray &pcm, int index);
    static int indexOf(const QByteArray &pcm);

private:
    Q_INVOKABLE void listenOnThread();
    Q_INVOKABLE void shutdownOnThread();
    Q_INVOKABLE void sendTextOnThread(const QByteArray &utf8, int finalIndex);
    void adopt(QWebSocket *socket);
    void noteChunk(const QByteArray &pcm);
    QByteArray transcriptAnswer() const;

    QThread m_thread;
    std::unique_ptr<std::atomic<qint64>[]> m_chunkArrived;
    std::unique_ptr<std::atomic<qint64>[]> m_finalSent;
    int m_capacity;
    std::atomic<int> m_chunksReceived {0};
    std::atomic<bool> m_started {false};

    // Owned on the peer's thread.
    QHttpServer *m_http = nullptr;
    QWebSocketServer *m_streamServer = nullptr;
    QTcpServer *m_tcpServer = nullptr;
    QWebSocket *m_socket = nullptr;
    QString m_restRoot;
    quint16 m_streamPort = 0;
    QList<QByteArray> m_recentFinals; // segment objects for the transcript route
};

} // namespace vernalo::bench
