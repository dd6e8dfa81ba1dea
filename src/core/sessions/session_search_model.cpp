#include "sessions/session_search_model.h"

#include "sessions/search_terms.h"
#include "wire/clock.h"

#include <QLocale>

namespace vernalo {

namespace {
QString localText(const QDateTime &time, const char *format)
{
    static const QLocale finnish(QStringLiteral("fi_FI"));
    return finnish.toString(time.toLocalTime(), QLatin1String(format));
}
} // namespace

SessionSearchModel::SessionSearchModel(const SessionSearchIndex *index, Clock *clock,
                                       QObject *parent)
    : QAbstractListModel(parent)
    , m_index(index)
    , m_debounce(clock->createTimer(this))
{
    m_debounce->setSingleShot(true);
    connect(m_debounce, &Timer::timeout, this, &SessionSearchModel::searchNow);
}

int SessionSearchModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : count();
}

QVariant SessionSearchModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= m_hits.size())
        return {};
    const SessionSearchHit &hit = m_hits.at(index.row());
    switch (role) {
    case SessionIdRole:
        return hit.sessionId;
    case DateLabelRole:
        return localText(hit.endedAt, "d.M.yyyy HH:mm");
    case TimeLabelRole:
        return localText(hit.segmentTime, "HH:mm:ss");
    case SnippetHtmlRole:
        return hit.markedSnippet(QStringLiteral("<b>"), QStringLiteral("</b>"), true);
    case SegmentIndexRole:
        return hit.segmentIndex;
    default:
        return {};
    }
}

QHash<int, QByteArray> SessionSearchModel::roleNames() const
{
    return {{SessionIdRole, "sessionId"},
            {DateLabelRole, "dateLabel"},
            {TimeLabelRole, "timeLabel"},
            {SnippetHtmlRole, "snippetHtml"},
            {SegmentIndexRole, "segmentIndex"}};
}

void SessionSearchModel::setQuery(const QString &query)
{
    if (query == m_query)
        return;
    m_query = query;
    emit queryChanged();
    m_debounce->start(kDebounce);
}

void SessionSearchModel::searchNow()
{
    m_debounce->stop();
    const bool hasQuery = !searchTerms(m_query).isEmpty();
    beginResetModel();
    m_hits =
        hasQuery && m_index ? m_index->search(m_query, kMaxResults) : QList<SessionSearchHit>();
    m_searched = hasQuery;
    endResetModel();
    emit resultsChanged();
}

} // namespace vernalo
