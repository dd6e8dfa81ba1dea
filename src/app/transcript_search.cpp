#include "transcript_search.h"

namespace vernalo {

TranscriptSearch::TranscriptSearch(QObject *parent)
    : QObject(parent)
{ }

void TranscriptSearch::setModel(QAbstractItemModel *model)
{
    if (model == m_model)
        return;
    if (m_model)
        disconnect(m_model, nullptr, this, nullptr);
    m_model = model;
    m_textRole = model ? model->roleNames().key(QByteArrayLiteral("text"), -1) : -1;
    if (model) {
        connect(model, &QAbstractItemModel::rowsInserted, this, &TranscriptSearch::recount);
        connect(model, &QAbstractItemModel::rowsRemoved, this, &TranscriptSearch::recount);
        connect(model, &QAbstractItemModel::modelReset, this, &TranscriptSearch::recount);
        connect(model, &QAbstractItemModel::dataChanged, this, &TranscriptSearch::recount);
    }
    emit modelChanged();
    recount();
}

void TranscriptSearch::setQuery(const QString &query)
{
    if (query == m_query)
        return;
    m_query = query;
    emit queryChanged();
    m_current = -1;
    recount();
}

// Keeps the cursor on the same row when rows arrive; a new query starts at the first hit.
void TranscriptSearch::recount()
{
    const int currentRowBefore = currentRow();
    QList<int> hits;
    const QString query = m_query.trimmed();
    if (m_model && m_textRole >= 0 && !query.isEmpty()) {
        for (int row = 0; row < m_model->rowCount(); ++row) {
            const QString text = m_model->index(row, 0).data(m_textRole).toString();
            if (text.contains(query, Qt::CaseInsensitive))
                hits.append(row);
        }
    }
    const bool changed = hits != m_hits;
    m_hits = hits;
    const int kept = int(m_hits.indexOf(currentRowBefore));
    m_current = kept >= 0 ? kept : (m_hits.isEmpty() ? -1 : 0);
    if (changed)
        emit hitsChanged();
    emit currentChanged();
}

void TranscriptSearch::next()
{
    if (m_hits.isEmpty())
        return;
    m_current = (m_current + 1) % int(m_hits.size());
    emit currentChanged();
}

void TranscriptSearch::previous()
{
    if (m_hits.isEmpty())
        return;
    m_current = (m_current + int(m_hits.size()) - 1) % int(m_hits.size());
    emit currentChanged();
}

} // namespace vernalo
