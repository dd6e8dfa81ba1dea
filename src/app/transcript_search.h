#pragma once

#include <QAbstractItemModel>
#include <QList>
#include <QPointer>
#include <QtQml/qqmlregistration.h>

namespace vernalo {

// The rows of a transcript model whose text holds the query (case-insensitive), kept current as
// rows arrive, and a cursor that steps through them.
class TranscriptSearch : public QObject
{
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(QAbstractItemModel *model READ model WRITE setModel NOTIFY modelChanged)
    Q_PROPERTY(QString query READ query WRITE setQuery NOTIFY queryChanged)
    Q_PROPERTY(int hitCount READ hitCount NOTIFY hitsChanged)
    // The row of the current hit; -1 without hits.
    Q_PROPERTY(int currentRow READ currentRow NOTIFY currentChanged)
    // 1-based position of the current hit among all hits; 0 without hits.
    Q_PROPERTY(int currentNumber READ currentNumber NOTIFY currentChanged)

public:
    explicit TranscriptSearch(QObject *parent = nullptr);

    QAbstractItemModel *model() const { return m_model; }
    void setModel(QAbstractItemModel *model);
    QString query() const { return m_query; }
    void setQuery(const QString &query);
    int hitCount() const { return int(m_hits.size()); }
    int currentRow() const { return m_current < 0 ? -1 : m_hits.at(m_current); }
    int currentNumber() const { return m_current + 1; }

    Q_INVOKABLE void next();
    Q_INVOKABLE void previous();

Q_SIGNALS:
    void modelChanged();
    void queryChanged();
    void hitsChanged();
    void currentChanged();

private:
    void recount();

    QPointer<QAbstractItemModel> m_model;
    QString m_query;
    QList<int> m_hits;
    int m_current = -1;
    int m_textRole = -1;
};

} // namespace vernalo
