#include "recording/transcript_assembly.h"

#include "wire/stream_event.h"

#include <algorithm>
#include <cmath>
#include <QRegularExpression>

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
    return QString::number(static_cast<qint64>(std::llround(seconds))) + QLatin1Char('|') +
        normalizedSegmentText(text);
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
    return insertFinal(text, timestamp, speakerLabel, textOnlyDuplicateCheck, nullptr);
}

bool TranscriptAssembly::insertFinal(const QString &text, const QDateTime &timestamp,
                                     const std::optional<QString> &speakerLabel,
                                     bool textOnlyDuplicateCheck, const ServerOrder *serverOrder)
{
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty())
        return false;
    if (textOnlyDuplicateCheck) {
        const QString normalized = normalizedSegmentText(trimmed);
        const QString speaker = speakerOrEmpty(speakerLabel);
        const bool duplicate = std::any_of(
            m_segments.cbegin(), m_segments.cend(), [&](const TranscriptSegment &segment) {
                return speakerOrEmpty(segment.speakerLabel) == speaker &&
                    normalizedSegmentText(segment.text) == normalized;
            });
        if (duplicate)
            return false;
    }
    const QString key = segmentKey(trimmed, timestamp);
    if (m_knownKeys.contains(key))
        return false;
    m_knownKeys.insert(key);
    insertSorted(TranscriptSegment {QUuid::createUuid(), trimmed, timestamp, speakerLabel},
                 serverOrder);
    return true;
}

void TranscriptAssembly::insertSorted(TranscriptSegment segment, const ServerOrder *serverOrder)
{
    // Inserting after every segment with an equal or earlier time is the same as appending and
    // stable-sorting, without re-sorting the whole list for each final.
    const auto position =
        std::upper_bound(m_segments.cbegin(), m_segments.cend(), segment.timestamp,
                         [](const QDateTime &time, const TranscriptSegment &existing) {
                             return time < existing.timestamp;
                         });
    qsizetype row = position - m_segments.cbegin();
    if (serverOrder) {
        // Server times have whole seconds, so one second can hold several sentences. A sentence
        // that reached us late (by poll, after its socket died) goes before those the server
        // lists after it, rather than behind everything of its second. The poll is the server's
        // whole list at one moment, so a streamed sentence it lacks was stored after it.
        const qsizetype mine = serverOrder->value(segmentKey(segment.text, segment.timestamp), -1);
        const auto first =
            std::lower_bound(m_segments.cbegin(), position, segment.timestamp,
                             [](const TranscriptSegment &existing, const QDateTime &time) {
                                 return existing.timestamp < time;
                             });
        for (auto it = first; mine >= 0 && it != position; ++it) {
            const qsizetype theirs = serverOrder->value(segmentKey(it->text, it->timestamp), -1);
            if (theirs < 0 || theirs > mine) {
                row = it - m_segments.cbegin();
                break;
            }
        }
    }
    if (m_observer)
        m_observer->segmentAboutToBeInserted(row);
    m_segments.insert(row, std::move(segment));
    if (m_observer)
        m_observer->segmentInserted(row);
}

int TranscriptAssembly::mergePolled(const QList<PolledSegment> &polled, const QDateTime &now)
{
    QList<std::optional<QDateTime>> times;
    times.reserve(polled.size());
    ServerOrder serverOrder;
    for (qsizetype i = 0; i < polled.size(); ++i) {
        std::optional<QDateTime> time;
        // The stream's rule for "ts": a time that the stream would refuse must not give the same
        // sentence a different key here.
        if (polled[i].ts)
            time = parseInternetDateTime(*polled[i].ts);
        times.append(time);
        if (!time)
            continue;
        const QString key = segmentKey(polled[i].text.trimmed(), *time);
        if (!serverOrder.contains(key))
            serverOrder.insert(key, i);
    }
    int added = 0;
    for (qsizetype i = 0; i < polled.size(); ++i) {
        const PolledSegment &segment = polled[i];
        if (insertFinal(segment.text, times[i].value_or(now), segment.speakerLabel, !times[i],
                        &serverOrder))
            ++added;
    }
    return added;
}

void TranscriptAssembly::replace(const QList<TranscriptSegment> &segments)
{
    if (m_observer)
        m_observer->segmentsAboutToBeReplaced();
    m_segments = segments;
    m_knownKeys.clear();
    std::stable_sort(m_segments.begin(), m_segments.end(),
                     [](const TranscriptSegment &a, const TranscriptSegment &b) {
                         return a.timestamp < b.timestamp;
                     });
    for (const TranscriptSegment &segment : std::as_const(m_segments))
        m_knownKeys.insert(segmentKey(segment.text, segment.timestamp));
    if (m_observer)
        m_observer->segmentsReplaced();
}

void TranscriptAssembly::clear()
{
    if (m_observer)
        m_observer->segmentsAboutToBeReplaced();
    m_segments.clear();
    m_knownKeys.clear();
    if (m_observer)
        m_observer->segmentsReplaced();
}

int textWordCount(const QString &text)
{
    return static_cast<int>(text.split(whiteSpaceRun(), Qt::SkipEmptyParts).size());
}

int transcriptWordCount(const QList<TranscriptSegment> &segments)
{
    int words = 0;
    for (const TranscriptSegment &segment : segments)
        words += textWordCount(segment.text);
    return words;
}

} // namespace vernalo
