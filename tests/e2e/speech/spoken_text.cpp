#include "spoken_text.h"

#include <algorithm>
#include <QList>

namespace vernalo::test {

QStringList normalisedWords(const QString &text)
{
    QStringList words;
    QString current;
    for (const QChar c : text) {
        if (c.isLetterOrNumber()) {
            current += c.toLower();
        } else if (!current.isEmpty()) {
            words << current;
            current.clear();
        }
    }
    if (!current.isEmpty())
        words << current;
    return words;
}

namespace {

// Edit distance with a free start and end in the text, from text word `from` on: entry j of the
// result is the best cost of matching the whole sentence so that the match ends after text word
// from + j.
QList<int> matchCosts(const QStringList &textWords, const QStringList &sentence, qsizetype from)
{
    const qsizetype n = textWords.size() - from;
    QList<int> previous(n + 1, 0);
    QList<int> row(n + 1, 0);
    for (qsizetype i = 1; i <= sentence.size(); ++i) {
        row[0] = static_cast<int>(i);
        for (qsizetype j = 1; j <= n; ++j) {
            const int replace =
                previous[j - 1] + (sentence[i - 1] == textWords[from + j - 1] ? 0 : 1);
            row[j] = std::min({replace, previous[j] + 1, row[j - 1] + 1});
        }
        std::swap(previous, row);
    }
    return previous;
}

} // namespace

bool containsInOrder(const QString &text, const QStringList &sentences)
{
    const QStringList words = normalisedWords(text);
    qsizetype from = 0;
    for (const QString &sentence : sentences) {
        const QStringList said = normalisedWords(sentence);
        const int tolerance = toleranceFor(static_cast<int>(said.size()));
        const QList<int> costs = matchCosts(words, said, std::min(from, words.size()));
        const auto end = std::find_if(costs.cbegin(), costs.cend(),
                                      [tolerance](int cost) { return cost <= tolerance; });
        if (end == costs.cend())
            return false;
        from += end - costs.cbegin();
    }
    return true;
}

int sentenceDistance(const QStringList &textWords, const QStringList &sentence)
{
    const QList<int> costs = matchCosts(textWords, sentence, 0);
    return *std::min_element(costs.cbegin(), costs.cend());
}

bool containsSentence(const QString &text, const QString &sentence, int tolerance)
{
    return sentenceDistance(normalisedWords(text), normalisedWords(sentence)) <= tolerance;
}

int toleranceFor(int words)
{
    return words / 5;
}

} // namespace vernalo::test
