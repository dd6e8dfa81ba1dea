#pragma once

#include <QString>

namespace vernalo {

// User-entered strings are trimmed of white space and line breaks before use.
inline QString trimmedInput(const QString &value)
{
    return value.trimmed();
}

// Empty after trimming counts as absent.
inline bool isBlank(const QString &value)
{
    return value.trimmed().isEmpty();
}

} // namespace vernalo
