#pragma once

// Shared by the fuzz targets: the input as Qt bytes, a fixed clock reading, and a check that
// ends the run as a finding when a decoder breaks one of its promises.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <QByteArray>
#include <QDateTime>
#include <QTimeZone>

namespace vernalo::fuzz {

// A copy, so the decoders get an ordinary QByteArray with its terminating zero.
inline QByteArray inputBytes(const std::uint8_t *data, std::size_t size)
{
    return QByteArray(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
}

// "Now" for decoders that stamp missing times; fixed so every run of an input is the same.
inline QDateTime fixedNow()
{
    return QDateTime(QDate(2026, 3, 1), QTime(10, 20, 30), QTimeZone::utc());
}

[[noreturn]] inline void violated(const char *condition, const char *file, int line,
                                  const QByteArray &detail)
{
    std::fprintf(stderr, "%s:%d: check failed: %s\n  input/output: %s\n", file, line, condition,
                 detail.toPercentEncoding(" {}[]\":,.-_+/").constData());
    std::abort();
}

} // namespace vernalo::fuzz

#define FUZZ_CHECK(condition, detail)                                                              \
    do {                                                                                           \
        if (!(condition))                                                                          \
            ::vernalo::fuzz::violated(#condition, __FILE__, __LINE__, (detail));                   \
    } while (false)
