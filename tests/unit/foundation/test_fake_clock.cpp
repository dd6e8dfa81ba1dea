#include "support/fake_clock.h"
#include "support/test_environment.h"

#include <QPointer>
#include <QtTest>

using namespace vernalo;
using namespace vernalo::test;
using namespace std::chrono_literals;

// The fake clock is the time base of every controller test; if it fires timers out of order or
// skips re-armed ones, those tests would pass for the wrong reasons.
class FakeClockTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void firesDueTimersInTimeOrder()
    {
        FakeClock clock;
        QStringList fired;
        QObject owner;
        // Armed out of order; equal due times fire in the order they were armed.
        clock.singleShot(300ms, &owner,
                         [&] { fired << QStringLiteral("c@%1").arg(clock.monotonicMs()); });
        clock.singleShot(100ms, &owner,
                         [&] { fired << QStringLiteral("a@%1").arg(clock.monotonicMs()); });
        clock.singleShot(300ms, &owner,
                         [&] { fired << QStringLiteral("d@%1").arg(clock.monotonicMs()); });
        clock.singleShot(200ms, &owner,
                         [&] { fired << QStringLiteral("b@%1").arg(clock.monotonicMs()); });
        clock.advance(250ms);
        QCOMPARE(fired, (QStringList {"a@100", "b@200"}));
        QCOMPARE(clock.monotonicMs(), 250);
        clock.advance(50ms);
        QCOMPARE(fired, (QStringList {"a@100", "b@200", "c@300", "d@300"}));
    }

    void timerArmedWhileFiringIsIncluded()
    {
        FakeClock clock;
        QObject owner;
        QList<qint64> fired;
        clock.singleShot(1000ms, &owner, [&] {
            fired << clock.monotonicMs();
            clock.singleShot(500ms, &owner, [&] { fired << clock.monotonicMs(); });
        });
        clock.advance(2000ms);
        QCOMPARE(fired, (QList<qint64> {1000, 1500}));
        QCOMPARE(clock.activeTimerCount(), 0);
    }

    void repeatingTimerKeepsItsPeriod()
    {
        FakeClock clock;
        std::unique_ptr<Timer> timer(clock.createTimer());
        QList<qint64> ticks;
        connect(timer.get(), &Timer::timeout, this, [&] { ticks << clock.monotonicMs(); });
        timer->start(900ms);
        clock.advance(2000ms);
        clock.advance(800ms);
        QCOMPARE(ticks, (QList<qint64> {900, 1800, 2700}));
        timer->stop();
        clock.advance(5000ms);
        QCOMPARE(ticks.size(), 3);
    }

    void restartPushesTheDueTime()
    {
        FakeClock clock;
        std::unique_ptr<Timer> timer(clock.createTimer());
        timer->setSingleShot(true);
        int fired = 0;
        connect(timer.get(), &Timer::timeout, this, [&] { ++fired; });
        timer->start(30000ms);
        clock.advance(20000ms);
        timer->start(30000ms); // re-arming a time-out starts it over
        clock.advance(20000ms);
        QCOMPARE(fired, 0);
        clock.advance(10000ms);
        QCOMPARE(fired, 1);
    }

    void destroyedContextCancelsSingleShot()
    {
        FakeClock clock;
        int fired = 0;
        auto *owner = new QObject;
        clock.singleShot(100ms, owner, [&] { ++fired; });
        delete owner;
        clock.advance(1000ms);
        QCOMPARE(fired, 0);
    }

    void sleepResumesCoroutineAtVirtualTime()
    {
        FakeClock clock;
        QList<qint64> resumed;
        // The closure must outlive the coroutine: it holds the captured references.
        auto body = [&]() -> QCoro::Task<> {
            co_await clock.sleep(1200ms);
            resumed << clock.monotonicMs();
            co_await clock.sleep(800ms);
            resumed << clock.monotonicMs();
        };
        auto task = body();
        clock.advance(1199ms);
        QVERIFY(resumed.isEmpty());
        clock.advance(1ms);
        QCOMPARE(resumed, (QList<qint64> {1200}));
        clock.advance(10000ms);
        QCOMPARE(resumed, (QList<qint64> {1200, 2000}));
        QVERIFY(task.isReady());
    }

    void wallClockMovesWithVirtualTime()
    {
        const QDateTime start(QDate(2026, 12, 6), QTime(12, 0), Qt::UTC);
        FakeClock clock(start);
        clock.advance(90500ms);
        QCOMPARE(clock.now(), start.addMSecs(90500));
    }
};

VERNALO_TEST_MAIN(FakeClockTest)
#include "test_fake_clock.moc"
