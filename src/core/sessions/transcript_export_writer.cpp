#include "sessions/transcript_export_writer.h"

#include "foundation/app_log.h"
#include "ports/desktop_services.h"
#include "sessions/atomic_file.h"
#include "sessions/session_status_texts.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace vernalo {

namespace {
std::optional<QString> writeExport(const QString &path, const QString &text)
{
    const QString folder = QFileInfo(path).absolutePath();
    if (!QDir().mkpath(folder))
        return QStringLiteral("cannot create folder %1").arg(folder);
    return writeFileAtomically(path, text.toUtf8());
}
} // namespace

QCoro::Task<ExportOutcome> saveTranscriptWithDialog(DesktopServices *desktop,
                                                    TranscriptSnapshot snapshot,
                                                    TranscriptExportFormat format, bool isRecording)
{
    if (isRecording || snapshot.segments.isEmpty())
        co_return ExportOutcome {};
    // Rendered before the dialog opens: the file holds what was on screen when the user asked.
    const QString text = renderTranscript(snapshot, format);
    SaveDialogRequest request;
    request.title = QStringLiteral("Tallenna transkriptio");
    request.suggestedFileName = exportFileName(snapshot.sessionId, format);
    request.nameFilters = {QStringLiteral("%1 (*.%2)").arg(label(format), rawValue(format))};
    const std::optional<QString> chosen = co_await desktop->chooseSaveFile(request);
    if (!chosen || chosen->isEmpty())
        co_return ExportOutcome {ExportOutcome::Result::Cancelled, {}, {}, {}};

    const QString path = *chosen;
    if (const auto failure = writeExport(path, text)) {
        AppLog::write(
            QStringLiteral("transcript save failed path=%1 error=%2").arg(path, *failure));
        co_return ExportOutcome {ExportOutcome::Result::Failed, SessionStatusText::saveFailed(),
                                 path, *failure};
    }
    co_return ExportOutcome {ExportOutcome::Result::Written,
                             SessionStatusText::saved(QFileInfo(path).fileName()),
                             path,
                             {}};
}

QString defaultAutoExportDirectory()
{
    const QString downloads = QStandardPaths::writableLocation(QStandardPaths::DownloadLocation);
    return downloads.isEmpty() ? QDir::tempPath() : downloads;
}

ExportOutcome autoExportTranscript(const TranscriptSnapshot &snapshot,
                                   TranscriptExportFormat format, bool enabled,
                                   const QDateTime &now, const QString &directory)
{
    if (!enabled || snapshot.segments.isEmpty())
        return {};
    const QString folder = directory.isEmpty() ? defaultAutoExportDirectory() : directory;
    const QString fileName = autoExportFileName(snapshot.sessionId, format, now);
    const QString path = folder + QLatin1Char('/') + fileName;
    if (const auto failure = writeExport(path, renderTranscript(snapshot, format))) {
        AppLog::write(QStringLiteral("auto export failed path=%1 error=%2").arg(path, *failure));
        return {ExportOutcome::Result::Failed, SessionStatusText::autoExportFailed(), path,
                *failure};
    }
    return {ExportOutcome::Result::Written, SessionStatusText::autoExported(fileName), path, {}};
}

ExportOutcome copyTranscriptToClipboard(DesktopServices &desktop,
                                        const QList<TranscriptSegment> &segments)
{
    const QString text = transcriptText(segments);
    if (text.isEmpty())
        return {};
    desktop.setClipboardText(text);
    return {ExportOutcome::Result::Written, SessionStatusText::transcriptCopied(), {}, {}};
}

ExportOutcome copySessionIdToClipboard(DesktopServices &desktop, const QString &sessionId)
{
    if (sessionId.isEmpty())
        return {};
    desktop.setClipboardText(sessionId);
    return {ExportOutcome::Result::Written, SessionStatusText::sessionIdCopied(), {}, {}};
}

} // namespace vernalo
