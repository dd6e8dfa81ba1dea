#pragma once

#include "foundation/models.h"
#include "wire/summary_records.h"

#include <QList>
#include <QString>

namespace vernalo {

// The transcript on screen as the memo request carries it: one entry per segment, in order,
// nothing dropped, merged or trimmed; times in UTC to the second with "Z"; no speaker key when
// the segment has no speaker.
QList<SummaryGenerateRequest::Segment>
summaryFallbackSegments(const QList<TranscriptSegment> &segments);

// The name the save dialog proposes for a session's memo.
QString memoFileName(const QString &sessionId);

} // namespace vernalo
