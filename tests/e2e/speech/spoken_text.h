#pragma once

#include <QString>
#include <QStringList>

namespace vernalo::test {

// True when every sentence is in the text, each after the one before it. Words are compared in
// lower case, letters and digits only, so time stamps, speaker brackets, punctuation and line
// layout do not count; a sentence may differ from what was written down by one word edit
// (insert, delete, replace) in five, rounded down, as a recognizer may mishear it.
bool containsInOrder(const QString &text, const QStringList &sentences);

// One sentence of containsInOrder().
inline bool heard(const QString &text, const QString &sentence)
{
    return containsInOrder(text, {sentence});
}

} // namespace vernalo::test
