#pragma once

#include <QList>
#include <QObject>

class QSocketNotifier;

namespace vernalo {

// Turns SIGTERM, SIGINT and the like into a Qt signal on the main thread, so a termination
// request runs the same orderly shutdown as quitting. One watcher per process.
class UnixSignalWatcher : public QObject
{
    Q_OBJECT
public:
    explicit UnixSignalWatcher(const QList<int> &signalNumbers, QObject *parent = nullptr);
    ~UnixSignalWatcher() override;

Q_SIGNALS:
    void received(int signalNumber);

private:
    static void handle(int signalNumber);
    void readPending();

    QSocketNotifier *m_notifier = nullptr;
    QList<int> m_signals;
};

} // namespace vernalo
