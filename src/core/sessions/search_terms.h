#pragma once

#include <QList>
#include <QString>

namespace vernalo {

// One word of what the user typed. Words of two or more characters match as prefixes; a single
// letter would match half the language, so it matches only itself.
struct SearchTerm
{
    QString folded; // as the index compares it: diacritics dropped, case folded
    bool prefix = false;
};

// The words (runs of letters, digits and combining marks) of a query; nothing else is syntax.
QList<SearchTerm> searchTerms(const QString &text);

// A word as the index's tokenizer (unicode61, remove_diacritics 2) sees it.
QString foldForSearch(QStringView word);

// The FTS5 expression for the terms: every word quoted, all required.
QString matchExpression(const QList<SearchTerm> &terms);

// About `words` words of `text` around its first match, cut with "…", every matching word
// enclosed in open and close.
QString markedExcerpt(const QString &text, const QList<SearchTerm> &terms, QChar open, QChar close,
                      int words = 12);

} // namespace vernalo
