#include "spoken_text.h"

#include <algorithm>
#include <QList>
#include <QRegularExpression>

namespace vernalo::test {

namespace {

QStringList normalisedWords(const QString &text)
{
    static const QRegularExpression separators(QStringLiteral("[^\\p{L}\\p{N}]+"));
    return text.toLower().split(separators, Qt::SkipEmptyParts);
}

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
        const auto tolerance = said.size() / 5;
        const QList<int> costs = matchCosts(words, said, std::min(from, words.size()));
        const auto end = std::find_if(costs.cbegin(), costs.cend(),
                                      [tolerance](qsizetype cost) { return cost <= tolerance; });
        if (end == costs.cend())
            return false;
        from += end - costs.cbegin();
    }
    return true;
}

} // namespace vernalo::test
