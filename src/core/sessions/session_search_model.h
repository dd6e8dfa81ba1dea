#pragma once

#include "sessions/session_search_index.h"

#include <QAbstractListModel>

namespace vernalo {

class Clock;
class Timer;

// The search box of the history: what the user types is looked up in the index once typing
// pauses, and the hits become rows. Queries run on the calling (GUI) thread; a query over a
// thousand hour-long sessions takes a few milliseconds, and it only reads the index, so a
// running recording is not disturbed.
class SessionSearchModel final : public QAbstractListModel
{
    Q_OBJECT
    Q_PROPERTY(QString query READ query WRITE setQuery NOTIFY queryChanged)
    Q_PROPERTY(int count READ count NOTIFY resultsChanged)
    // A search for a non-empty query ran and found nothing ("Ei osumia.").
    Q_PROPERTY(bool noResults READ noResults NOTIFY resultsChanged)

public:
    enum Role {
        SessionIdRole = Qt::UserRole + 1,
        DateLabelRole, // the session's end, "d.M.yyyy HH:mm" local
        TimeLabelRole, // the segment's "HH:mm:ss" local
        SnippetHtmlRole, // escaped text with the matches in <b>
        SegmentIndexRole,
    };
    Q_ENUM(Role)

    static constexpr std::chrono::milliseconds kDebounce {250};
    static constexpr int kMaxResults = 50;

    SessionSearchModel(const SessionSearchIndex *index, Clock *clock, QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QHash<int, QByteArray> roleNames() const override;

    QString query() const { return m_query; }
    void setQuery(const QString &query);
    int count() const { return static_cast<int>(m_hits.size()); }
    bool noResults() const { return m_searched && m_hits.isEmpty(); }
    const QList<SessionSearchHit> &hits() const { return m_hits; }

    // Runs the pending search now (Enter in the box).
    Q_INVOKABLE void searchNow();

Q_SIGNALS:
    void queryChanged();
    void resultsChanged();

private:
    const SessionSearchIndex *m_index;
    Timer *m_debounce;
    QString m_query;
    QList<SessionSearchHit> m_hits;
    bool m_searched = false;
};

} // namespace vernalo
