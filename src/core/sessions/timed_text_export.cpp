#include "sessions/timed_text_export.h"

#include <cmath>
#include <QLocale>

namespace vernalo {

namespace {
const QLocale &finnish()
{
    static const QLocale locale(QStringLiteral("fi_FI"));
    return locale;
}

// A label that names someone; an empty one says nothing worth a prefix or a voice tag.
std::optional<QString> speakerOf(const TranscriptSegment &segment)
{
    if (!segment.speakerLabel || segment.speakerLabel->trimmed().isEmpty())
        return std::nullopt;
    return segment.speakerLabel->simplified();
}

qint64 speakingMs(const QString &text)
{
    const auto words = text.split(u' ', Qt::SkipEmptyParts).size();
    const auto ms = std::llround(1000.0 * static_cast<double>(words) / kSpeakingRateWordsPerSecond);
    return std::max<qint64>(kMinimumCueMs, ms);
}

struct Cue
{
    qint64 startMs = 0;
    qint64 endMs = 0;
};

QList<Cue> cueTimes(const QList<TranscriptSegment> &segments)
{
    QList<Cue> cues;
    if (segments.isEmpty())
        return cues;
    const QDateTime origin = segments.first().timestamp;
    for (qsizetype i = 0; i < segments.size(); ++i) {
        const qint64 start = std::max<qint64>(0, origin.msecsTo(segments.at(i).timestamp));
        qint64 end = start + speakingMs(segments.at(i).text.simplified());
        if (i + 1 < segments.size()) {
            const qint64 next = origin.msecsTo(segments.at(i + 1).timestamp);
            if (next > start)
                end = next;
        }
        cues.append({start, end});
    }
    return cues;
}

QString cueTime(qint64 ms, QChar fractionSeparator)
{
    return QStringLiteral("%1:%2:%3%4%5")
        .arg(ms / 3600000, 2, 10, QLatin1Char('0'))
        .arg(ms / 60000 % 60, 2, 10, QLatin1Char('0'))
        .arg(ms / 1000 % 60, 2, 10, QLatin1Char('0'))
        .arg(fractionSeparator)
        .arg(ms % 1000, 3, 10, QLatin1Char('0'));
}

// The text's lines without the empty ones, which end a cue in both subtitle formats.
QString cueText(const QString &text)
{
    QStringList lines;
    for (const QString &line : text.split(u'\n')) {
        const QString kept = line.trimmed();
        if (!kept.isEmpty())
            lines.append(kept);
    }
    return lines.join(u'\n');
}

QString escapeVtt(QString text)
{
    text.replace(u'&', QStringLiteral("&amp;"));
    text.replace(u'<', QStringLiteral("&lt;"));
    text.replace(u'>', QStringLiteral("&gt;"));
    return text;
}

QString escapeMarkdown(const QString &text)
{
    static const QString special = QStringLiteral("\\`*_[]<>#|~!&");
    QString escaped;
    escaped.reserve(text.size());
    for (const QChar c : text.simplified()) {
        if (special.contains(c))
            escaped += u'\\';
        escaped += c;
    }
    return escaped;
}
} // namespace

QString formatSRT(const QList<TranscriptSegment> &segments)
{
    const QList<Cue> cues = cueTimes(segments);
    QStringList blocks;
    for (qsizetype i = 0; i < segments.size(); ++i) {
        const auto speaker = speakerOf(segments.at(i));
        blocks.append(QString::number(i + 1) + u'\n' + cueTime(cues.at(i).startMs, u',') +
                      QStringLiteral(" --> ") + cueTime(cues.at(i).endMs, u',') + u'\n' +
                      (speaker ? *speaker + QStringLiteral(": ") : QString()) +
                      cueText(segments.at(i).text) + u'\n');
    }
    return blocks.join(u'\n');
}

QString formatWebVTT(const QList<TranscriptSegment> &segments)
{
    const QList<Cue> cues = cueTimes(segments);
    QString out = QStringLiteral("WEBVTT\n");
    for (qsizetype i = 0; i < segments.size(); ++i) {
        const auto speaker = speakerOf(segments.at(i));
        out += u'\n' + cueTime(cues.at(i).startMs, u'.') + QStringLiteral(" --> ") +
            cueTime(cues.at(i).endMs, u'.') + u'\n' +
            (speaker ? QStringLiteral("<v ") + escapeVtt(*speaker) + u'>' : QString()) +
            escapeVtt(cueText(segments.at(i).text)) + u'\n';
    }
    return out;
}

QString formatMarkdown(const QList<TranscriptSegment> &segments)
{
    QString out = QStringLiteral("# Transkriptio");
    if (!segments.isEmpty())
        out += u' ' +
            finnish().toString(segments.first().timestamp.toLocalTime().date(),
                               QStringLiteral("d.M.yyyy"));
    out += u'\n';
    for (qsizetype i = 0; i < segments.size();) {
        const auto speaker = speakerOf(segments.at(i));
        QStringList turn;
        qsizetype next = i;
        do {
            const QString text = escapeMarkdown(segments.at(next).text);
            if (!text.isEmpty())
                turn.append(text);
            ++next;
        } while (speaker && next < segments.size() && speakerOf(segments.at(next)) == speaker);
        const QString time =
            finnish().toString(segments.at(i).timestamp.toLocalTime(), QStringLiteral("HH:mm:ss"));
        out += QStringLiteral("\n**") + time +
            (speaker ? u' ' + escapeMarkdown(*speaker) + u':' : QString()) + QStringLiteral("** ") +
            turn.join(u' ') + u'\n';
        i = next;
    }
    return out;
}

} // namespace vernalo
