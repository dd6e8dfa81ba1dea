#include "recording/session_history_model.h"

#include <algorithm>

namespace vernalo {

int SessionHistoryModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : count();
}

QVariant SessionHistoryModel::data(const QModelIndex &index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    const SavedSessionListItem &item = m_items.at(index.row());
    switch (role) {
    case Qt::DisplayRole:
    case SessionIdRole:
        return item.id;
    case EndedAtRole:
        return item.endedAt;
    case EndedAtLabelRole:
        return item.endedAt.toLocalTime().toString(QStringLiteral("dd.MM.yyyy HH:mm"));
    case LanguageRole:
        return item.language;
    case SttModelRole:
        return item.sttModel;
    case SegmentCountRole:
        return item.segmentCount;
    default:
        return {};
    }
}

QHash<int, QByteArray> SessionHistoryModel::roleNames() const
{
    return {{SessionIdRole, "sessionId"},       {EndedAtRole, "endedAt"},
            {EndedAtLabelRole, "endedAtLabel"}, {LanguageRole, "language"},
            {SttModelRole, "sttModel"},         {SegmentCountRole, "segmentCount"}};
}

bool SessionHistoryModel::contains(const QString &id) const
{
    return std::any_of(m_items.cbegin(), m_items.cend(),
                       [&id](const SavedSessionListItem &item) { return item.id == id; });
}

void SessionHistoryModel::setItems(const QList<SavedSessionListItem> &items)
{
    if (items == m_items)
        return;
    const bool countChanges = items.size() != m_items.size();
    beginResetModel();
    m_items = items;
    endResetModel();
    if (countChanges)
        emit countChanged();
}

} // namespace vernalo
