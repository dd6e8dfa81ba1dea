#include "support/fake_clock.h"

#include <algorithm>
#include <QCoreApplication>

namespace vernalo::test {

FakeClock::FakeClock(QDateTime start)
    : m_start(std::move(start))
{ }

FakeClock::~FakeClock()
{
    for (FakeTimer *timer : std::as_const(m_timers))
        timer->m_clock = nullptr;
}

QDateTime FakeClock::now() const
{
    return m_start.addMSecs(m_nowMs);
}

Timer *FakeClock::createTimer(QObject *parent)
{
    auto *timer = new FakeTimer(this, parent);
    m_timers.append(timer);
    return timer;
}

void FakeClock::arm(FakeTimer *timer)
{
    timer->m_active = true;
    timer->m_dueMs = m_nowMs + timer->m_intervalMs;
    timer->m_sequence = ++m_sequence;
}

void FakeClock::forget(FakeTimer *timer)
{
    m_timers.removeAll(timer);
}

FakeTimer *FakeClock::nextDue(qint64 limitMs) const
{
    FakeTimer *best = nullptr;
    for (FakeTimer *timer : m_timers) {
        if (!timer->m_active || timer->m_dueMs > limitMs)
            continue;
        if (!best || timer->m_dueMs < best->m_dueMs ||
            (timer->m_dueMs == best->m_dueMs && timer->m_sequence < best->m_sequence))
            best = timer;
    }
    return best;
}

void FakeClock::fire(FakeTimer *timer)
{
    m_nowMs = std::max(m_nowMs, timer->m_dueMs);
    if (timer->isSingleShot()) {
        timer->m_active = false;
    } else {
        // A repeating timer re-arms from its due time, so its period never drifts.
        timer->m_dueMs += std::max<qint64>(timer->m_intervalMs, 1);
        timer->m_sequence = ++m_sequence;
    }
    Q_EMIT timer->timeout();
    QCoreApplication::sendPostedEvents();
}

void FakeClock::advance(std::chrono::milliseconds delta)
{
    const qint64 target = m_nowMs + std::max<qint64>(delta.count(), 0);
    while (FakeTimer *timer = nextDue(target))
        fire(timer);
    m_nowMs = target;
    QCoreApplication::sendPostedEvents();
}

bool FakeClock::advanceToNextTimer()
{
    FakeTimer *timer = nextDue(std::numeric_limits<qint64>::max());
    if (!timer)
        return false;
    fire(timer);
    return true;
}

int FakeClock::activeTimerCount() const
{
    return static_cast<int>(
        std::count_if(m_timers.begin(), m_timers.end(), [](FakeTimer *t) { return t->m_active; }));
}

std::optional<qint64> FakeClock::nextDueMs() const
{
    if (FakeTimer *timer = nextDue(std::numeric_limits<qint64>::max()))
        return timer->m_dueMs;
    return std::nullopt;
}

FakeTimer::FakeTimer(FakeClock *clock, QObject *parent)
    : Timer(parent)
    , m_clock(clock)
{ }

FakeTimer::~FakeTimer()
{
    if (m_clock)
        m_clock->forget(this);
}

void FakeTimer::start(std::chrono::milliseconds interval)
{
    m_intervalMs = std::max<qint64>(interval.count(), 0);
    if (m_clock)
        m_clock->arm(this);
}

void FakeTimer::stop()
{
    m_active = false;
}

} // namespace vernalo::test
