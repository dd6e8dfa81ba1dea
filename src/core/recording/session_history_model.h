#pragma once

#include "sessions/saved_session.h"

#include <QAbstractListModel>

namespace vernalo {

// The saved sessions as the session list binds to them, newest first, as the history store
// listed them.
class SessionHistoryModel : public QAbstractListModel
{
    Q_OBJECT
    Q_PROPERTY(int count READ count NOTIFY countChanged)

public:
    enum Role {
        SessionIdRole = Qt::UserRole + 1,
        EndedAtRole,
        EndedAtLabelRole, // "dd.MM.yyyy HH:mm" in local time
        LanguageRole,
        SttModelRole,
        SegmentCountRole,
    };
    Q_ENUM(Role)

    using QAbstractListModel::QAbstractListModel;

    int rowCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QHash<int, QByteArray> roleNames() const override;

    const QList<SavedSessionListItem> &items() const { return m_items; }
    int count() const { return static_cast<int>(m_items.size()); }
    bool contains(const QString &id) const;

    // Replaces the rows; nothing is announced when the list did not change.
    void setItems(const QList<SavedSessionListItem> &items);

Q_SIGNALS:
    void countChanged();

private:
    QList<SavedSessionListItem> m_items;
};

} // namespace vernalo
