#include "sessions/transcript_export.h"

#include "sessions/session_id.h"
#include "sessions/timed_text_export.h"
#include "wire/json_fields.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>

namespace vernalo {

namespace {
const QLocale &finnish()
{
    static const QLocale locale(QStringLiteral("fi_FI"));
    return locale;
}

QString quotedField(const QString &value)
{
    QString field = value;
    field.replace(u'"', QStringLiteral("\"\""));
    return u'"' + field + u'"';
}
} // namespace

QString transcriptText(const QList<TranscriptSegment> &segments)
{
    QStringList lines;
    lines.reserve(segments.size());
    for (const auto &segment : segments) {
        QString line = u'[' +
            finnish().toString(segment.timestamp.toLocalTime(), QStringLiteral("HH:mm:ss")) + u']';
        if (segment.speakerLabel)
            line += QStringLiteral(" [") + *segment.speakerLabel + u']';
        line += u' ' + segment.text;
        lines.append(line);
    }
    return lines.join(u'\n');
}

QString formatCSV(const QList<TranscriptSegment> &segments)
{
    QStringList lines;
    lines.reserve(segments.size() + 1);
    lines.append(QStringLiteral("timestamp,speaker,text"));
    for (const auto &segment : segments) {
        lines.append(toIso8601(segment.timestamp) + u',' +
                     quotedField(segment.speakerLabel.value_or(QString())) + u',' +
                     quotedField(segment.text));
    }
    return lines.join(u'\n');
}

QString formatJSON(const TranscriptSnapshot &snapshot)
{
    QJsonArray segments;
    for (const auto &segment : snapshot.segments) {
        const QJsonValue speaker =
            segment.speakerLabel ? QJsonValue(*segment.speakerLabel) : QJsonValue(QJsonValue::Null);
        segments.append(QJsonObject {{QStringLiteral("timestamp"), toIso8601(segment.timestamp)},
                                     {QStringLiteral("speakerLabel"), speaker},
                                     {QStringLiteral("text"), segment.text}});
    }
    const QJsonObject object {{QStringLiteral("sessionId"), snapshot.sessionId},
                              {QStringLiteral("language"), snapshot.language},
                              {QStringLiteral("sttModel"), snapshot.sttModel},
                              {QStringLiteral("segments"), segments}};
    // Strings, nulls and arrays only: this serialisation cannot fail.
    return QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Indented));
}

QString renderTranscript(const TranscriptSnapshot &snapshot, TranscriptExportFormat format)
{
    switch (format) {
    case TranscriptExportFormat::Txt:
        return transcriptText(snapshot.segments);
    case TranscriptExportFormat::Json:
        return formatJSON(snapshot);
    case TranscriptExportFormat::Csv:
        return formatCSV(snapshot.segments);
    case TranscriptExportFormat::Srt:
        return formatSRT(snapshot.segments);
    case TranscriptExportFormat::WebVtt:
        return formatWebVTT(snapshot.segments);
    case TranscriptExportFormat::Markdown:
        return formatMarkdown(snapshot.segments);
    }
    return {};
}

QString exportFileStem(const QString &sessionId)
{
    // An ID that could name another folder must not steer where the file lands.
    if (!isSafeSessionId(sessionId))
        return QStringLiteral("transkriptio");
    return sessionId;
}

QString exportFileName(const QString &sessionId, TranscriptExportFormat format)
{
    return exportFileStem(sessionId) + u'.' + rawValue(format);
}

QString autoExportFileName(const QString &sessionId, TranscriptExportFormat format,
                           const QDateTime &now)
{
    return exportFileStem(sessionId) + u'-' +
        finnish().toString(now.toLocalTime(), QStringLiteral("yyyyMMdd-HHmmss")) + u'.' +
        rawValue(format);
}

} // namespace vernalo
