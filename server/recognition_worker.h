#pragma once

#include "recognizer.h"

#include <atomic>
#include <memory>
#include <QObject>
#include <QThread>

namespace vernalo::server {

// Runs one stream's recognizer on its own thread, so decoding never holds up the HTTP server
// or other streams. Results come back as signals on the owner's thread, in order.
class RecognitionWorker : public QObject
{
    Q_OBJECT
public:
    RecognitionWorker(RecognizerFactory &factory, QString language, bool interim,
                      qint64 startOffsetMs, QObject *parent = nullptr);
    ~RecognitionWorker() override;

    void process(const QByteArray &pcm);
    // Ends the stream; finished() follows after the last results.
    void finish();

    // Audio backlog beyond which chunks are dropped rather than queued without bound. A client
    // back from an outage sends up to 30 s at once on top of live audio; that must queue.
    static constexpr qint64 kMaxBacklogBytes = 90 * 32000;

Q_SIGNALS:
    void results(const QList<vernalo::server::RecognitionEvent> &events);
    void failed(const QString &message);
    void finished();

private:
    void post(std::function<void()> work);
    bool ensureRecognizer();

    RecognizerFactory &m_factory;
    QString m_language;
    bool m_interim;
    qint64 m_startOffsetMs;
    QThread m_thread;
    QObject *m_threadContext = nullptr;
    std::unique_ptr<Recognizer> m_recognizer; // touched only on m_thread
    bool m_createFailed = false; // likewise
    std::shared_ptr<std::atomic<qint64>> m_backlog;
    bool m_overloadReported = false;
    bool m_finishing = false;
};

} // namespace vernalo::server
