#pragma once

#include "foundation/models.h"

#include <QDateTime>
#include <QList>
#include <QString>

namespace vernalo {

// The transcript as the controller holds it at the moment of an export.
struct TranscriptSnapshot
{
    QString sessionId;
    QString language;
    QString sttModel;
    QList<TranscriptSegment> segments;
};

// "[HH:mm:ss] [speaker] text" lines in the local time zone, joined by "\n" with none after the
// last; the speaker bracket appears whenever a label is present, even an empty one.
QString transcriptText(const QList<TranscriptSegment> &segments);

// "timestamp,speaker,text" header, then one line per segment: UTC time with "Z" unquoted,
// speaker (empty when absent) and text always quoted with inner quotes doubled. Line breaks
// inside a text stay as they are, inside the quotes.
QString formatCSV(const QList<TranscriptSegment> &segments);

// An indented JSON object with sessionId, language, sttModel and the segments (UTC times,
// speakerLabel null when absent).
QString formatJSON(const TranscriptSnapshot &snapshot);

QString renderTranscript(const TranscriptSnapshot &snapshot, TranscriptExportFormat format);

// The session ID, or "transkriptio" when there is none or it is not safe as a file name.
QString exportFileStem(const QString &sessionId);
// stem + "." + extension, proposed by the save dialog.
QString exportFileName(const QString &sessionId, TranscriptExportFormat format);
// stem + "-" + local "yyyyMMdd-HHmmss" + "." + extension, used by the automatic export.
QString autoExportFileName(const QString &sessionId, TranscriptExportFormat format,
                           const QDateTime &now);

} // namespace vernalo
