#include "support/fake_clock.h"

#include <algorithm>
#include <QCoreApplication>

namespace vernalo::test {

FakeClock::~FakeClock()
{
    for (FakeTimer *timer : std::as_const(m_timers))
        timer->m_clock = nullptr;
}

Timer *FakeClock::createTimer(QObject *parent)
{
    auto *timer = new FakeTimer(this, parent);
    m_timers.append(timer);
    return timer;
}

FakeTimer *FakeClock::nextDue(qint64 limitMs) const
{
    FakeTimer *best = nullptr;
    for (FakeTimer *timer : m_timers) {
        if (timer->m_active && timer->m_dueMs <= limitMs &&
            (!best ||
             std::pair(timer->m_dueMs, timer->m_sequence) <
                 std::pair(best->m_dueMs, best->m_sequence)))
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
    if (timer)
        fire(timer);
    return timer;
}

int FakeClock::activeTimerCount() const
{
    return int(
        std::count_if(m_timers.begin(), m_timers.end(), [](auto *t) { return t->m_active; }));
}

std::optional<qint64> FakeClock::nextDueMs() const
{
    if (FakeTimer *timer = nextDue(std::numeric_limits<qint64>::max()))
        return timer->m_dueMs;
    return std::nullopt;
}

void FakeTimer::start(std::chrono::milliseconds interval)
{
    m_intervalMs = std::max<qint64>(interval.count(), 0);
    if (m_clock) {
        m_active = true;
        m_dueMs = m_clock->m_nowMs + m_intervalMs;
        m_sequence = ++m_clock->m_sequence;
    }
}

} // namespace vernalo::test
