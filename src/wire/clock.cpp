#include "wire/clock.h"

#include <memory>
#include <qcoro/qcorosignal.h>
#include <QElapsedTimer>
#include <QTimer>

namespace vernalo {

namespace {

class QtTimer final : public Timer
{
public:
    explicit QtTimer(QObject *parent)
        : Timer(parent)
    {
        m_timer.setTimerType(Qt::PreciseTimer);
        connect(&m_timer, &QTimer::timeout, this, &Timer::timeout);
    }

    void start(std::chrono::milliseconds interval) override
    {
        m_timer.setSingleShot(isSingleShot());
        m_timer.start(interval);
    }
    void stop() override { m_timer.stop(); }
    bool isActive() const override { return m_timer.isActive(); }

private:
    QTimer m_timer;
};

} // namespace

void Clock::singleShot(std::chrono::milliseconds delay, QObject *context, std::function<void()> fn)
{
    Timer *timer = createTimer(context);
    timer->setSingleShot(true);
    QObject::connect(timer, &Timer::timeout, timer, [timer, fn = std::move(fn)] {
        timer->deleteLater();
        fn();
    });
    timer->start(delay);
}

QCoro::Task<> Clock::sleep(std::chrono::milliseconds delay)
{
    std::unique_ptr<Timer> timer(createTimer(nullptr));
    timer->setSingleShot(true);
    timer->start(delay);
    co_await qCoro(timer.get(), &Timer::timeout);
}

QDateTime SystemClock::now() const
{
    return QDateTime::currentDateTimeUtc();
}

qint64 SystemClock::monotonicMs() const
{
    static QElapsedTimer origin = [] {
        QElapsedTimer t;
        t.start();
        return t;
    }();
    return origin.elapsed();
}

Timer *SystemClock::createTimer(QObject *parent)
{
    return new QtTimer(parent);
}

} // namespace vernalo
