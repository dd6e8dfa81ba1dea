#include "sessions/search_terms.h"

namespace vernalo {

namespace {
bool isWordChar(QChar c)
{
    return c.isLetterOrNumber() || c.isMark();
}

bool matches(const QString &folded, const QList<SearchTerm> &terms)
{
    for (const SearchTerm &term : terms) {
        if (term.prefix ? folded.startsWith(term.folded) : folded == term.folded)
            return true;
    }
    return false;
}
} // namespace

QString foldForSearch(QStringView word)
{
    QString folded;
    for (const QChar c : word.toString().normalized(QString::NormalizationForm_D)) {
        if (!c.isMark())
            folded += c;
    }
    return folded.toCaseFolded();
}

QList<SearchTerm> searchTerms(const QString &text)
{
    QList<SearchTerm> terms;
    qsizetype start = -1;
    for (qsizetype i = 0; i <= text.size(); ++i) {
        const bool inWord = i < text.size() && isWordChar(text.at(i));
        if (inWord && start < 0)
            start = i;
        if (!inWord && start >= 0) {
            const QString folded = foldForSearch(QStringView(text).mid(start, i - start));
            if (!folded.isEmpty())
                terms.append({folded, folded.size() > 1});
            start = -1;
        }
    }
    return terms;
}

QString matchExpression(const QList<SearchTerm> &terms)
{
    QStringList parts;
    for (const SearchTerm &term : terms)
        parts.append(u'"' + term.folded +
                     (term.prefix ? QStringLiteral("\"*") : QStringLiteral("\"")));
    return parts.join(u' ');
}

QString markedExcerpt(const QString &text, const QList<SearchTerm> &terms, QChar open, QChar close,
                      int words)
{
    struct Word
    {
        qsizetype start, end;
        bool hit;
    };
    QList<Word> spans;
    qsizetype start = -1;
    for (qsizetype i = 0; i <= text.size(); ++i) {
        const bool inWord = i < text.size() && isWordChar(text.at(i));
        if (inWord && start < 0)
            start = i;
        if (!inWord && start >= 0) {
            spans.append(
                {start, i, matches(foldForSearch(QStringView(text).mid(start, i - start)), terms)});
            start = -1;
        }
    }
    if (spans.isEmpty())
        return text;
    qsizetype first = 0;
    while (first < spans.size() && !spans.at(first).hit)
        ++first;
    if (first == spans.size())
        first = 0;
    // A little context before the first match, and the window kept inside the text.
    qsizetype from = std::max<qsizetype>(0, first - 2);
    const qsizetype to = std::min<qsizetype>(spans.size(), from + words);
    from = std::max<qsizetype>(0, to - words);

    QString out;
    qsizetype at = from == 0 ? 0 : spans.at(from).start;
    if (from > 0)
        out += u'…';
    for (qsizetype w = from; w < to; ++w) {
        const Word &word = spans.at(w);
        out += QStringView(text).mid(at, word.start - at);
        if (word.hit)
            out += open;
        out += QStringView(text).mid(word.start, word.end - word.start);
        if (word.hit)
            out += close;
        at = word.end;
    }
    if (to == spans.size())
        out += QStringView(text).mid(at);
    else
        out += u'…';
    return out;
}

} // namespace vernalo
