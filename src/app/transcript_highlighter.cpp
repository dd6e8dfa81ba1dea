#include "transcript_highlighter.h"

#include <QTextDocument>

namespace vernalo {

TranscriptHighlighter::TranscriptHighlighter(QObject *parent)
    : QSyntaxHighlighter(parent)
{ }

void TranscriptHighlighter::setDocument(QQuickTextDocument *document)
{
    if (document == m_document)
        return;
    m_document = document;
    QSyntaxHighlighter::setDocument(document ? document->textDocument() : nullptr);
    emit documentChanged();
    refresh();
}

void TranscriptHighlighter::setSpeakerLength(int length)
{
    if (length == m_speakerLength)
        return;
    m_speakerLength = length;
    emit formatChanged();
    refresh();
}

void TranscriptHighlighter::setSpeakerColor(const QColor &color)
{
    if (color == m_speakerColor)
        return;
    m_speakerColor = color;
    emit formatChanged();
    refresh();
}

void TranscriptHighlighter::setQuery(const QString &query)
{
    if (query == m_query)
        return;
    m_query = query;
    emit formatChanged();
    refresh();
}

void TranscriptHighlighter::setMatchColor(const QColor &color)
{
    if (color == m_matchColor)
        return;
    m_matchColor = color;
    emit formatChanged();
    refresh();
}

// Re-colours the whole line and publishes how many matches it holds.
void TranscriptHighlighter::refresh()
{
    m_counting = 0;
    if (QSyntaxHighlighter::document())
        rehighlight();
    if (m_counting != m_matches) {
        m_matches = m_counting;
        emit matchesChanged();
    }
}

void TranscriptHighlighter::highlightBlock(const QString &text)
{
    if (m_speakerLength > 0 && currentBlock().blockNumber() == 0) {
        QTextCharFormat speaker;
        speaker.setForeground(m_speakerColor);
        speaker.setFontWeight(QFont::DemiBold);
        setFormat(0, qMin(m_speakerLength, int(text.size())), speaker);
    }
    const QString query = m_query.trimmed();
    if (query.isEmpty())
        return;
    QTextCharFormat match;
    match.setBackground(m_matchColor);
    for (qsizetype at = text.indexOf(query, 0, Qt::CaseInsensitive); at >= 0;
         at = text.indexOf(query, at + query.size(), Qt::CaseInsensitive)) {
        setFormat(int(at), int(query.size()), match);
        ++m_counting;
    }
}

} // namespace vernalo
