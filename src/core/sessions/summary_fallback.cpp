#include "sessions/summary_fallback.h"

#include "sessions/transcript_export.h"
#include "wire/json_fields.h"

namespace vernalo {

QList<SummaryGenerateRequest::Segment>
summaryFallbackSegments(const QList<TranscriptSegment> &segments)
{
    QList<SummaryGenerateRequest::Segment> fallback;
    fallback.reserve(segments.size());
    for (const TranscriptSegment &segment : segments)
        fallback.append({segment.text, toIso8601(segment.timestamp), segment.speakerLabel});
    return fallback;
}

QString memoFileName(const QString &sessionId)
{
    return exportFileStem(sessionId) + QStringLiteral("-muistio.docx");
}

} // namespace vernalo
