#include "recognition_worker.h"

namespace vernalo::server {

RecognitionWorker::RecognitionWorker(RecognizerFactory &factory, QString language, bool interim,
                                     qint64 startOffsetMs, QObject *parent)
    : QObject(parent)
    , m_factory(factory)
    , m_language(std::move(language))
    , m_interim(interim)
    , m_startOffsetMs(startOffsetMs)
    , m_backlog(std::make_shared<std::atomic<qint64>>(0))
{
    m_thread.setObjectName(QStringLiteral("recognizer"));
    m_threadContext = new QObject;
    m_threadContext->moveToThread(&m_thread);
    m_thread.start();
}

RecognitionWorker::~RecognitionWorker()
{
    m_thread.quit();
    m_thread.wait();
    // The thread has stopped, so its objects can go from here.
    m_recognizer.reset();
    delete m_threadContext;
}

void RecognitionWorker::post(std::function<void()> work)
{
    QMetaObject::invokeMethod(m_threadContext, std::move(work), Qt::QueuedConnection);
}

bool RecognitionWorker::ensureRecognizer()
{
    if (m_recognizer || m_createFailed)
        return m_recognizer != nullptr;
    m_recognizer = m_factory.create(m_language, m_interim, m_startOffsetMs);
    m_createFailed = m_recognizer == nullptr;
    if (m_createFailed) {
        QMetaObject::invokeMethod(
            this,
            [this] { Q_EMIT failed(QStringLiteral("Puheentunnistimen käynnistys epäonnistui")); },
            Qt::QueuedConnection);
    }
    return !m_createFailed;
}

void RecognitionWorker::process(const QByteArray &pcm)
{
    if (m_finishing || pcm.isEmpty())
        return;
    if (m_backlog->load() + pcm.size() > kMaxBacklogBytes) {
        if (!m_overloadReported) {
            m_overloadReported = true;
            Q_EMIT failed(
                QStringLiteral("Puheentunnistus ei pysy äänen tahdissa; ääntä ohitettiin"));
        }
        return;
    }
    m_overloadReported = false;
    *m_backlog += pcm.size();
    auto backlog = m_backlog;
    post([this, pcm, backlog] {
        *backlog -= pcm.size();
        if (!ensureRecognizer())
            return;
        QList<RecognitionEvent> events = m_recognizer->process(pcm);
        if (!events.isEmpty())
            QMetaObject::invokeMethod(
                this, [this, events] { Q_EMIT results(events); }, Qt::QueuedConnection);
    });
}

void RecognitionWorker::finish()
{
    if (m_finishing)
        return;
    m_finishing = true;
    post([this] {
        QList<RecognitionEvent> events;
        if (m_recognizer)
            events = m_recognizer->finish();
        QMetaObject::invokeMethod(
            this,
            [this, events] {
                if (!events.isEmpty())
                    Q_EMIT results(events);
                Q_EMIT finished();
            },
            Qt::QueuedConnection);
    });
}

} // namespace vernalo::server
