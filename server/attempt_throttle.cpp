#include "attempt_throttle.h"

#include "wire/clock.h"

namespace vernalo::server {

namespace {
constexpr qint64 ms(std::chrono::milliseconds duration)
{
    return duration.count();
}
} // namespace

AttemptThrottle::AttemptThrottle(Clock &clock)
    : m_clock(clock)
{ }

qint64 AttemptThrottle::blockedUntilMs(const Entry &entry) const
{
    if (entry.failures < kFreeFailures)
        return 0;
    const int doublings = std::min(entry.failures - kFreeFailures, 20);
    const qint64 delay = std::min(ms(kFirstDelay) << doublings, ms(kMaxDelay));
    return entry.lastFailureMs + delay;
}

std::optional<std::chrono::seconds> AttemptThrottle::waitFor(const QStringList &keys) const
{
    const qint64 now = m_clock.monotonicMs();
    qint64 until = 0;
    for (const QString &key : keys) {
        const auto it = m_entries.constFind(key);
        if (it != m_entries.cend())
            until = std::max(until, blockedUntilMs(*it));
    }
    if (until <= now)
        return std::nullopt;
    return std::chrono::seconds((until - now + 999) / 1000);
}

void AttemptThrottle::failed(const QStringList &keys)
{
    const qint64 now = m_clock.monotonicMs();
    for (const QString &key : keys) {
        Entry &entry = m_entries[key];
        if (entry.failures > 0 && now - entry.lastFailureMs >= ms(kForgetAfter))
            entry.failures = 0;
        ++entry.failures;
        entry.lastFailureMs = now;
    }
    if (m_entries.size() > kMaxKeys)
        prune();
}

void AttemptThrottle::succeeded(const QString &key)
{
    m_entries.remove(key);
}

void AttemptThrottle::prune()
{
    const qint64 now = m_clock.monotonicMs();
    m_entries.removeIf([&](const auto &item) {
        return now - item.value().lastFailureMs >= ms(kForgetAfter) ||
            (blockedUntilMs(item.value()) <= now && item.value().failures < kFreeFailures);
    });
    // Still full of fresh keys: the oldest go first.
    while (m_entries.size() > kMaxKeys) {
        auto oldest = m_entries.begin();
        for (auto it = m_entries.begin(); it != m_entries.end(); ++it) {
            if (it->lastFailureMs < oldest->lastFailureMs)
                oldest = it;
        }
        m_entries.erase(oldest);
    }
}

} // namespace vernalo::server
