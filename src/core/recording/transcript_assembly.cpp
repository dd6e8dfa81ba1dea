#include "recording/transcript_assembly.h"

#include "foundation/json_fields.h"

#include <QRegularExpression>

#include <algorithm>
#include <cmath>

namespace vernalo {

namespace {
const QRegularExpression &whiteSpaceRun()
{
    static const QRegularExpression pattern(QStringLiteral("\\s+"),
                                            QRegularExpression::UseUnicodePropertiesOption);
    return pattern;
}

QString speakerOrEmpty(const std::optional<QString> &label)
{
    return label.value_or(QString()).trimmed();
}
} // namespace

QString normalizedSegmentText(const QString &text)
{
    QString folded = text.toLower();
    folded.replace(whiteSpaceRun(), QStringLiteral(" "));
    return folded.trimmed();
}

QString segmentKey(const QString &text, const QDateTime &timestamp)
{
    const double seconds = static_cast<double>(timestamp.toMSecsSinceEpoch()) / 1000.0;
    return QString::number(static_cast<qint64>(std::llround(seconds))) + QLatin1Char('|')
           + normalizedSegmentText(text);
}

bool TranscriptAssembly::appendStreamFinal(const QString &text, const QDateTime &timestamp,
                                           const std::optional<QString> &speakerLabel)
{
    return appendFinalSegment(text, timestamp, speakerLabel, false);
}

bool TranscriptAssembly::appendFinalSegment(const QString &text, const QDateTime &timestamp,
                                            const std::optional<QString> &speakerLabel,
                                            bool textOnlyDuplicateCheck)
{
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty())
        return false;
    if (textOnlyDuplicateCheck) {
        const QString normalized = normalizedSegmentText(trimmed);
        const QString speaker = speakerOrEmpty(speakerLabel);
        const bool duplicate = std::any_of(m_segments.cbegin(), m_segments.cend(),
                                           [&](const TranscriptSegment &segment) {
                                               return speakerOrEmpty(segment.speakerLabel) == speaker
                                                      && normalizedSegmentText(segment.text)
                                                             == normalized;
                                           });
        if (duplicate)
            return false;
    }
    const QString key = segmentKey(trimmed, timestamp);
    if (m_knownKeys.contains(key))
        return false;
    m_knownKeys.insert(key);
    insertSorted(TranscriptSegment{QUuid::createUuid(), trimmed, timestamp, speakerLabel});
    return true;
}

void TranscriptAssembly::insertSorted(TranscriptSegment segment)
{
    // Inserting after every segment with an equal or earlier time is the same as appending and
    // stable-sorting, without re-sorting the whole list for each final.
    const auto position = std::upper_bound(
        m_segments.begin(), m_segments.end(), segment.timestamp,
        [](const QDateTime &time, const TranscriptSegment &existing) { return time < existing.timestamp; });
    m_segments.insert(position, std::move(segment));
}

int TranscriptAssembly::mergePolled(const QList<PolledSegment> &polled, const QDateTime &now)
{
    int added = 0;
    for (const PolledSegment &segment : polled) {
        std::optional<QDateTime> time;
        if (segment.ts)
            time = fromIso8601(*segment.ts);
        if (appendFinalSegment(segment.text, time.value_or(now), segment.speakerLabel, !time))
            ++added;
    }
    return added;
}

void TranscriptAssembly::replace(const QList<TranscriptSegment> &segments)
{
    clear();
    m_segments = segments;
    std::stable_sort(m_segments.begin(), m_segments.end(),
                     [](const TranscriptSegment &a, const TranscriptSegment &b) {
                         return a.timestamp < b.timestamp;
                     });
    for (const TranscriptSegment &segment : std::as_const(m_segments))
        m_knownKeys.insert(segmentKey(segment.text, segment.timestamp));
}

void TranscriptAssembly::clear()
{
    m_segments.clear();
    m_knownKeys.clear();
}

int transcriptWordCount(const QList<TranscriptSegment> &segments)
{
    int words = 0;
    for (const TranscriptSegment &segment : segments)
        words += static_cast<int>(segment.text.split(whiteSpaceRun(), Qt::SkipEmptyParts).size());
    return words;
}

} // namespace vernalo
