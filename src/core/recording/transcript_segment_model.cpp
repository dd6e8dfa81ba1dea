#include "recording/transcript_segment_model.h"

#include "wire/json_fields.h"

namespace vernalo {

TranscriptSegmentModel::TranscriptSegmentModel(QObject *parent)
    : QAbstractListModel(parent)
{
    m_assembly.setObserver(this);
}

TranscriptSegmentModel::~TranscriptSegmentModel()
{
    m_assembly.setObserver(nullptr);
}

int TranscriptSegmentModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : count();
}

QVariant TranscriptSegmentModel::data(const QModelIndex &index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    const TranscriptSegment &segment = m_assembly.segments().at(index.row());
    switch (role) {
    case SegmentIdRole:
        return uuidText(segment.id);
    case Qt::DisplayRole:
    case TextRole:
        return segment.text;
    case TimestampRole:
        return segment.timestamp;
    case TimeLabelRole:
        return segment.timestamp.toLocalTime().toString(QStringLiteral("HH:mm:ss"));
    case SpeakerLabelRole:
        return segment.speakerLabel.value_or(QString());
    case HasSpeakerLabelRole:
        return segment.speakerLabel.has_value();
    default:
        return {};
    }
}

QHash<int, QByteArray> TranscriptSegmentModel::roleNames() const
{
    return {{SegmentIdRole, "segmentId"},       {TextRole, "text"},
            {TimestampRole, "timestamp"},       {TimeLabelRole, "timeLabel"},
            {SpeakerLabelRole, "speakerLabel"}, {HasSpeakerLabelRole, "hasSpeakerLabel"}};
}

bool TranscriptSegmentModel::appendStreamFinal(const QString &text, const QDateTime &timestamp,
                                               const std::optional<QString> &speakerLabel)
{
    return m_assembly.appendStreamFinal(text, timestamp, speakerLabel);
}

int TranscriptSegmentModel::mergePolled(const QList<PolledSegment> &polled, const QDateTime &now)
{
    return m_assembly.mergePolled(polled, now);
}

void TranscriptSegmentModel::replace(const QList<TranscriptSegment> &segments)
{
    m_assembly.replace(segments);
}

void TranscriptSegmentModel::clear()
{
    if (m_assembly.isEmpty())
        return;
    m_assembly.clear();
}

void TranscriptSegmentModel::segmentAboutToBeInserted(qsizetype row)
{
    beginInsertRows({}, static_cast<int>(row), static_cast<int>(row));
}

void TranscriptSegmentModel::segmentInserted(qsizetype row)
{
    m_wordCount += textWordCount(m_assembly.segments().at(row).text);
    endInsertRows();
    emit countsChanged();
}

void TranscriptSegmentModel::segmentsAboutToBeReplaced()
{
    beginResetModel();
}

void TranscriptSegmentModel::segmentsReplaced()
{
    m_wordCount = transcriptWordCount(m_assembly.segments());
    endResetModel();
    emit countsChanged();
}

} // namespace vernalo
