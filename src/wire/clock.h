#pragma once

#include <chrono>
#include <functional>
#include <qcoro/qcorotask.h>
#include <QDateTime>
#include <QObject>

namespace vernalo {

// A one-shot or repeating timer made by a Clock. Production timers run on QTimer; the fake
// clock of the tests fires them when virtual time is advanced.
class Timer : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;

    virtual void start(std::chrono::milliseconds interval) = 0;
    virtual void stop() = 0;
    virtual bool isActive() const = 0;

    void setSingleShot(bool singleShot) { m_singleShot = singleShot; }
    bool isSingleShot() const { return m_singleShot; }

Q_SIGNALS:
    void timeout();

private:
    bool m_singleShot = false;
};

// Every timer, sleep and time stamp of the core and of the reference server goes through a Clock,
// so tests can run a 30-second time-out in microseconds, and drive both peers on one fake time.
class Clock
{
public:
    virtual ~Clock() = default;

    // Wall-clock time (UTC).
    virtual QDateTime now() const = 0;
    // Monotonic milliseconds for measuring intervals; unaffected by wall-clock changes.
    virtual qint64 monotonicMs() const = 0;
    // A stopped timer owned by parent (or by the caller when parent is null).
    virtual Timer *createTimer(QObject *parent = nullptr) = 0;

    // Runs fn once after the delay unless context is destroyed first.
    void singleShot(std::chrono::milliseconds delay, QObject *context, std::function<void()> fn);
    // Resumes the awaiting coroutine after the delay.
    QCoro::Task<> sleep(std::chrono::milliseconds delay);
};

class SystemClock final : public Clock
{
public:
    QDateTime now() const override;
    qint64 monotonicMs() const override;
    Timer *createTimer(QObject *parent = nullptr) override;
};

} // namespace vernalo
