#pragma once

#include "wire/clock.h"

#include <chrono>
#include <optional>
#include <QList>
#include <QPointer>

namespace vernalo::test {

class FakeTimer;

// Virtual time for tests. advance() moves time forward and fires every timer that falls due on
// the way, in due-time order (ties in the order they were armed), including timers armed by a
// firing timer. Posted events are delivered after each firing, as a real event loop would.
class FakeClock final : public Clock
{
public:
    explicit FakeClock(QDateTime start = QDateTime(QDate(2026, 1, 5), QTime(9, 0), Qt::UTC))
        : m_start(std::move(start))
    { }
    ~FakeClock() override;

    QDateTime now() const override { return m_start.addMSecs(m_nowMs); }
    qint64 monotonicMs() const override { return m_nowMs; }
    Timer *createTimer(QObject *parent = nullptr) override;

    void advance(std::chrono::milliseconds delta);
    // Fires the next due timer (if any), moving time exactly to it; false when none is armed.
    bool advanceToNextTimer();
    // Number of armed timers; lets a test see that a loop really stopped.
    int activeTimerCount() const;
    std::optional<qint64> nextDueMs() const;

private:
    friend class FakeTimer;
    FakeTimer *nextDue(qint64 limitMs) const;
    void fire(FakeTimer *timer);

    QDateTime m_start;
    qint64 m_nowMs = 0;
    quint64 m_sequence = 0;
    QList<FakeTimer *> m_timers;
};

class FakeTimer final : public Timer
{
    Q_OBJECT
public:
    FakeTimer(FakeClock *clock, QObject *parent)
        : Timer(parent)
        , m_clock(clock)
    { }
    ~FakeTimer() override
    {
        if (m_clock)
            m_clock->m_timers.removeAll(this);
    }

    void start(std::chrono::milliseconds interval) override;
    void stop() override { m_active = false; }
    bool isActive() const override { return m_active; }

private:
    friend class FakeClock;
    FakeClock *m_clock;
    bool m_active = false;
    qint64 m_intervalMs = 0;
    qint64 m_dueMs = 0;
    quint64 m_sequence = 0;
};

} // namespace vernalo::test
