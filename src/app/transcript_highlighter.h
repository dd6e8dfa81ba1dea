#pragma once

#include <QColor>
#include <QPointer>
#include <QQuickTextDocument>
#include <QSyntaxHighlighter>
#include <QtQml/qqmlregistration.h>

namespace vernalo {

// Colours one transcript line shown as plain text: its speaker prefix in the speaker's colour and
// every case-insensitive match of the search query on a highlight, so text from the server never
// passes through a markup parser.
class TranscriptHighlighter : public QSyntaxHighlighter
{
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(QQuickTextDocument *document READ document WRITE setDocument NOTIFY documentChanged)
    Q_PROPERTY(int speakerLength MEMBER m_speakerLength WRITE setSpeakerLength NOTIFY formatChanged)
    Q_PROPERTY(QColor speakerColor MEMBER m_speakerColor WRITE setSpeakerColor NOTIFY formatChanged)
    Q_PROPERTY(QString query READ query WRITE setQuery NOTIFY formatChanged)
    Q_PROPERTY(QColor matchColor MEMBER m_matchColor WRITE setMatchColor NOTIFY formatChanged)
    Q_PROPERTY(int matches READ matches NOTIFY matchesChanged)

public:
    explicit TranscriptHighlighter(QObject *parent = nullptr);

    QQuickTextDocument *document() const { return m_document; }
    void setDocument(QQuickTextDocument *document);
    void setSpeakerLength(int length);
    void setSpeakerColor(const QColor &color);
    QString query() const { return m_query; }
    void setQuery(const QString &query);
    void setMatchColor(const QColor &color);
    int matches() const { return m_matches; }

Q_SIGNALS:
    void documentChanged();
    void formatChanged();
    void matchesChanged();

protected:
    void highlightBlock(const QString &text) override;

private:
    void refresh();

    QPointer<QQuickTextDocument> m_document;
    int m_speakerLength = 0;
    QColor m_speakerColor;
    QString m_query;
    QColor m_matchColor;
    int m_matches = 0;
    int m_counting = 0;
};

} // namespace vernalo
