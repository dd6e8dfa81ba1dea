#include "support/fake_clock.h"
#include "support/test_environment.h"

#include <QtTest>

using namespace vernalo;
using namespace vernalo::test;
using namespace std::chrono_literals;

// The fake clock is the time base of every controller test; if it fired timers out of order,
// early, or skipped re-armed ones, those tests would pass for the wrong reasons.
class FakeClockTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void firesTimersInTimeOrder()
    {
        FakeClock clock;
        QObject owner;
        QStringList fired;
        const auto mark = [&](const char *name) {
            return
                [&, name] { fired << QStringLiteral("%1@%2").arg(name).arg(clock.monotonicMs()); };
        };
        // Armed out of order; equal due times fire in the order they were armed, and a timer
        // armed while firing still falls due within the same advance.
        clock.singleShot(300ms, &owner, mark("c"));
        clock.singleShot(100ms, &owner, [&] {
            fired << QStringLiteral("a@%1").arg(clock.monotonicMs());
            clock.singleShot(150ms, &owner, mark("e"));
        });
        clock.singleShot(300ms, &owner, mark("d"));
        auto *gone = new QObject;
        clock.singleShot(200ms, gone, mark("never"));
        delete gone;
        std::unique_ptr<Timer> repeating(clock.createTimer());
        connect(repeating.get(), &Timer::timeout, this, mark("r"));
        repeating->start(120ms);
        clock.advance(249ms);
        QCOMPARE(fired, (QStringList {"a@100", "r@120", "r@240"}));
        repeating->start(120ms); // re-arming starts the period over
        clock.advance(131ms);
        QCOMPARE(fired,
                 (QStringList {"a@100", "r@120", "r@240", "e@250", "c@300", "d@300", "r@369"}));
        QCOMPARE(clock.now(), QDateTime(QDate(2026, 1, 5), QTime(9, 0, 0, 380), Qt::UTC));
    }
};

VERNALO_TEST_MAIN(FakeClockTest)
#include "test_fake_clock.moc"
