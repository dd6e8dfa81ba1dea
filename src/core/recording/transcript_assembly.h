#pragma once

#include "foundation/models.h"

#include <optional>
#include <QDateTime>
#include <QHash>
#include <QList>
#include <QSet>
#include <QString>

namespace vernalo {

// Lower-cased, every run of white space folded to one space, trimmed.
QString normalizedSegmentText(const QString &text);
// Whole seconds since 1970 (rounded) + "|" + normalized text: two finals with the same key are
// the same sentence, whichever path (stream or poll) delivered them.
QString segmentKey(const QString &text, const QDateTime &timestamp);

// A final segment as the transcript poll returns it; `ts` is the server's ISO 8601 time.
struct PolledSegment
{
    QString text;
    std::optional<QString> ts;
    std::optional<QString> speakerLabel;
};

// The final transcript of one recording: segments kept sorted by time (equal times keep their
// arrival order), each sentence accepted once.
class TranscriptAssembly
{
public:
    // Told about every change around the change itself, so a list model can announce rows to
    // its views in the order they require.
    class Observer
    {
    public:
        virtual ~Observer() = default;
        virtual void segmentAboutToBeInserted(qsizetype row) = 0;
        virtual void segmentInserted(qsizetype row) = 0;
        virtual void segmentsAboutToBeReplaced() = 0;
        virtual void segmentsReplaced() = 0;
    };

    // Not owned; null for none.
    void setObserver(Observer *observer) { m_observer = observer; }

    const QList<TranscriptSegment> &segments() const { return m_segments; }
    bool isEmpty() const { return m_segments.isEmpty(); }

    // A final from the live stream; true when a segment was added.
    bool appendStreamFinal(const QString &text, const QDateTime &timestamp,
                           const std::optional<QString> &speakerLabel);
    // The shared de-duplicating insert. With `textOnlyDuplicateCheck` a segment is also refused
    // when an existing one has the same normalized text and the same speaker.
    bool appendFinalSegment(const QString &text, const QDateTime &timestamp,
                            const std::optional<QString> &speakerLabel,
                            bool textOnlyDuplicateCheck);
    // Segments fetched over REST; those without a usable time (the stream's rule: no fractional
    // seconds) take `now` and are matched by text and speaker alone. Returns how many were added.
    int mergePolled(const QList<PolledSegment> &polled, const QDateTime &now);

    // Replaces the transcript with stored segments (a session loaded from the history).
    void replace(const QList<TranscriptSegment> &segments);
    void clear();

private:
    // Where each sentence stands in the server's own list (by segment key), for ordering
    // segments whose times are equal.
    using ServerOrder = QHash<QString, qsizetype>;

    bool insertFinal(const QString &text, const QDateTime &timestamp,
                     const std::optional<QString> &speakerLabel, bool textOnlyDuplicateCheck,
                     const ServerOrder *serverOrder);
    void insertSorted(TranscriptSegment segment, const ServerOrder *serverOrder);

    QList<TranscriptSegment> m_segments;
    QSet<QString> m_knownKeys;
    Observer *m_observer = nullptr;
};

// Words of one text, split on white space.
int textWordCount(const QString &text);
// Words across all segments, split on white space.
int transcriptWordCount(const QList<TranscriptSegment> &segments);

} // namespace vernalo
