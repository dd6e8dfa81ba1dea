#pragma once

#include "recording/transcript_assembly.h"

#include <QAbstractListModel>

namespace vernalo {

// The live transcript as the screens bind to it: one row per final segment, in time order, with
// the word and segment counts kept up to date on every insert instead of being recounted. Rows
// are announced one by one where they land, so a view never rebuilds the whole list for one
// sentence.
class TranscriptSegmentModel : public QAbstractListModel, private TranscriptAssembly::Observer
{
    Q_OBJECT
    Q_PROPERTY(int count READ count NOTIFY countsChanged)
    Q_PROPERTY(int wordCount READ wordCount NOTIFY countsChanged)

public:
    enum Role {
        SegmentIdRole = Qt::UserRole + 1,
        TextRole,
        TimestampRole,
        TimeLabelRole, // "HH:mm:ss" in local time
        SpeakerLabelRole, // "" when absent
        HasSpeakerLabelRole,
    };
    Q_ENUM(Role)

    explicit TranscriptSegmentModel(QObject *parent = nullptr);
    ~TranscriptSegmentModel() override;

    int rowCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QHash<int, QByteArray> roleNames() const override;

    const QList<TranscriptSegment> &segments() const { return m_assembly.segments(); }
    bool isEmpty() const { return m_assembly.isEmpty(); }
    int count() const { return static_cast<int>(m_assembly.segments().size()); }
    int wordCount() const { return m_wordCount; }

    // The de-duplicating inserts of TranscriptAssembly; true / the number added when rows
    // were added.
    bool appendStreamFinal(const QString &text, const QDateTime &timestamp,
                           const std::optional<QString> &speakerLabel);
    int mergePolled(const QList<PolledSegment> &polled, const QDateTime &now);
    void replace(const QList<TranscriptSegment> &segments);
    void clear();

Q_SIGNALS:
    void countsChanged();

private:
    void segmentAboutToBeInserted(qsizetype row) override;
    void segmentInserted(qsizetype row) override;
    void segmentsAboutToBeReplaced() override;
    void segmentsReplaced() override;

    TranscriptAssembly m_assembly;
    int m_wordCount = 0;
};

} // namespace vernalo
