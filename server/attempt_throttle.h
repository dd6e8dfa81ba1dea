#pragma once

#include <chrono>
#include <optional>
#include <QHash>
#include <QString>
#include <QStringList>

namespace vernalo {
class Clock;
}

namespace vernalo::server {

// Back-off for guessing secrets: after kFreeFailures failures under one key (an account, an
// address) each further attempt waits twice as long as the one before, up to kMaxDelay. Keys
// are forgotten after kForgetAfter without failures; the table is bounded, so a flood of made-up
// keys costs memory only up to kMaxKeys.
class AttemptThrottle
{
public:
    explicit AttemptThrottle(Clock &clock);

    static constexpr int kFreeFailures = 5;
    static constexpr std::chrono::seconds kFirstDelay {1};
    static constexpr std::chrono::seconds kMaxDelay {15 * 60};
    static constexpr std::chrono::hours kForgetAfter {1};
    static constexpr int kMaxKeys = 10000;

    // How long the caller must still wait before any of these keys may be tried; nothing when
    // it may try now.
    std::optional<std::chrono::seconds> waitFor(const QStringList &keys) const;
    void failed(const QStringList &keys);
    void succeeded(const QString &key);

private:
    struct Entry
    {
        int failures = 0;
        qint64 lastFailureMs = 0;
    };
    qint64 blockedUntilMs(const Entry &entry) const;
    void prune();

    Clock &m_clock;
    QHash<QString, Entry> m_entries;
};

} // namespace vernalo::server
