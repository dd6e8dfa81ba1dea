#pragma once

#include "sessions/transcript_export.h"

#include <qcoro/qcorotask.h>
#include <QString>

namespace vernalo {

class DesktopServices;

// What an export did, with the status line the controller shows for it.
struct ExportOutcome
{
    enum class Result {
        NothingToDo, // preconditions not met; nothing written, status left alone
        Cancelled, // the user closed the dialog; nothing written, status left alone
        Written,
        Failed,
    };

    Result result = Result::NothingToDo;
    QString statusText; // empty: keep the current status text
    QString filePath; // where the file was (or was to be) written
    QString detail; // English failure reason for the log; never shown to the user

    bool changesStatus() const { return !statusText.isEmpty(); }
};

// Asks for a location with the proposed name and writes the rendering there. Does nothing
// while recording or when there are no segments (the save button is disabled then).
QCoro::Task<ExportOutcome> saveTranscriptWithDialog(DesktopServices *desktop,
                                                    TranscriptSnapshot snapshot,
                                                    TranscriptExportFormat format,
                                                    bool isRecording);

// The downloads folder, or the temporary folder when the desktop has none.
QString defaultAutoExportDirectory();

// After a recording stops: when enabled and there are segments, writes the rendering into
// `directory` (created when missing; default: defaultAutoExportDirectory()) under the name of
// autoExportFileName(), replacing a file of the same name.
ExportOutcome autoExportTranscript(const TranscriptSnapshot &snapshot,
                                   TranscriptExportFormat format, bool enabled,
                                   const QDateTime &now, const QString &directory = {});

// Puts the TXT rendering on the clipboard; nothing when it is empty.
ExportOutcome copyTranscriptToClipboard(DesktopServices &desktop,
                                        const QList<TranscriptSegment> &segments);
// Puts the session ID on the clipboard; nothing when there is none.
ExportOutcome copySessionIdToClipboard(DesktopServices &desktop, const QString &sessionId);

} // namespace vernalo
