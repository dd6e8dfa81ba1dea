#pragma once

#include <QString>
#include <QStringList>

namespace vernalo::test {

// Words of a text for comparing what was said with what was written down: lower case, letters
// and digits only, so time stamps, speaker brackets, punctuation and line layout do not count.
QStringList normalisedWords(const QString &text);

// The fewest word edits (insert, delete, replace) that turn `sentence` into some run of
// consecutive words of `text`. 0: the sentence is there as said; the sentence's length: none of
// it is there.
int sentenceDistance(const QStringList &textWords, const QStringList &sentence);

// True when the sentence is in the text with at most `tolerance` word edits.
bool containsSentence(const QString &text, const QString &sentence, int tolerance);

// True when every sentence is in the text, each with its own tolerance (toleranceFor), and each
// after the one before it.
bool containsInOrder(const QString &text, const QStringList &sentences);

// The word edits a recognizer may make in a sentence of this many words and still count as
// having heard it: one in five, rounded down.
int toleranceFor(int words);

} // namespace vernalo::test
