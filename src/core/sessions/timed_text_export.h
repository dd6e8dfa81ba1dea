#pragma once

#include "foundation/models.h"

#include <QList>
#include <QString>

namespace vernalo {

// Cue times run from the first segment (00:00:00). A cue ends where the next segment starts;
// the last one, and one whose successor does not start later, lasts as long as its words take
// at kSpeakingRateWordsPerSecond, at least kMinimumCueMs.
inline constexpr double kSpeakingRateWordsPerSecond = 2.0;
inline constexpr qint64 kMinimumCueMs = 1000;

// Numbered SubRip cues, "HH:MM:SS,mmm" times, the speaker as a "S1: " prefix; cues are
// separated by an empty line. Empty lines inside a text are dropped, since they would end the
// cue early.
QString formatSRT(const QList<TranscriptSegment> &segments);

// "WEBVTT", then one cue per segment with "HH:MM:SS.mmm" times and the speaker as a
// "<v S1>" voice tag; "&", "<" and ">" are escaped so text can never be read as markup.
QString formatWebVTT(const QList<TranscriptSegment> &segments);

// "# Transkriptio" with the local date of the first segment, then one paragraph per speaker
// turn (consecutive segments of one label) opened by its local start time and the speaker in
// bold. Unlabelled segments are a paragraph each. Markdown punctuation in the text is escaped.
QString formatMarkdown(const QList<TranscriptSegment> &segments);

} // namespace vernalo
