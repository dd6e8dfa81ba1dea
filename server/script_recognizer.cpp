#include "script_recognizer.h"

#include "wire/stream_audio_format.h"

#include <algorithm>
#include <QRegularExpression>

namespace vernalo::server {

std::optional<QList<ScriptEntry>> parseRecognitionScript(const QString &text, QString *error)
{
    static const QRegularExpression line(
        QStringLiteral(R"(^\s*(\d+(?:\.\d+)?)\s+(?:\[([^\]]+)\]\s*)?(.*?)\s*$)"));
    QList<ScriptEntry> entries;
    const QStringList lines = text.split(QLatin1Char('\n'));
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QString trimmed = lines[i].trimmed();
        if (trimmed.isEmpty() || trimmed.startsWith(QLatin1Char('#')))
            continue;
        const auto match = line.match(trimmed);
        auto fail = [&](const QString &why) -> std::optional<QList<ScriptEntry>> {
            if (error)
                *error = QStringLiteral("line %1: %2").arg(i + 1).arg(why);
            return std::nullopt;
        };
        if (!match.hasMatch())
            return fail(QStringLiteral("expected '<seconds> [speaker] text'"));
        ScriptEntry entry;
        entry.atMs = qRound64(match.captured(1).toDouble() * 1000.0);
        QString body = match.captured(3);
        if (!match.captured(2).trimmed().isEmpty())
            entry.speakerLabel = match.captured(2).trimmed();
        if (body.startsWith(QLatin1String("!error"))) {
            entry.kind = ScriptEntry::Kind::Error;
            body = body.mid(6).trimmed();
        } else if (body.startsWith(QLatin1String("!status"))) {
            entry.kind = ScriptEntry::Kind::Status;
            body = body.mid(7).trimmed();
        }
        if (body.isEmpty())
            return fail(QStringLiteral("empty text"));
        entry.text = body;
        entries.append(entry);
    }
    std::stable_sort(entries.begin(), entries.end(),
                     [](const ScriptEntry &a, const ScriptEntry &b) { return a.atMs < b.atMs; });
    return entries;
}

ScriptRecognizer::ScriptRecognizer(QList<ScriptEntry> entries, bool interim, qint64 startOffsetMs)
    : m_entries(std::move(entries))
    , m_interim(interim)
    , m_samples(startOffsetMs * pcm::kSampleRate / 1000)
{
    while (m_next < m_entries.size() && m_entries[m_next].atMs <= startOffsetMs)
        ++m_next;
}

QList<RecognitionEvent> ScriptRecognizer::process(const QByteArray &pcm)
{
    QList<RecognitionEvent> out;
    QByteArray bytes = m_pendingByte + pcm;
    m_pendingByte.clear();
    if (bytes.size() % 2 != 0) {
        m_pendingByte = bytes.right(1);
        bytes.chop(1);
    }
    constexpr qsizetype windowBytes =
        pcm::kSampleRate * pcm::kBytesPerSample * kLevelWindowMs / 1000;
    qsizetype offset = 0;
    while (offset < bytes.size()) {
        const qsizetype take = std::min(windowBytes - m_window.size(), bytes.size() - offset);
        m_window.append(bytes.constData() + offset, take);
        offset += take;
        m_samples += take / pcm::kBytesPerSample;
        advanceTo(m_samples * 1000 / pcm::kSampleRate, out);
        if (m_window.size() == windowBytes)
            levelWindowDone(out);
    }
    return out;
}

QList<RecognitionEvent> ScriptRecognizer::finish()
{
    // Entries beyond the end of the audio were never heard.
    return {};
}

void ScriptRecognizer::advanceTo(qint64 offsetMs, QList<RecognitionEvent> &out)
{
    while (m_next < m_entries.size()) {
        const ScriptEntry &entry = m_entries[m_next];
        const qint64 previousMs = m_next > 0 ? m_entries[m_next - 1].atMs : 0;
        if (offsetMs < entry.atMs) {
            const QStringList words = entry.text.split(QLatin1Char(' '), Qt::SkipEmptyParts);
            const qint64 halfwayMs = previousMs + (entry.atMs - previousMs) / 2;
            if (entry.kind == ScriptEntry::Kind::Final && m_interim && !m_partialSent &&
                words.size() >= 2 && offsetMs >= halfwayMs) {
                RecognitionEvent partial;
                partial.kind = RecognitionEvent::Kind::Partial;
                partial.text = words.mid(0, (words.size() + 1) / 2).join(QLatin1Char(' '));
                partial.startMs = previousMs;
                out.append(partial);
                m_partialSent = true;
            }
            return;
        }
        RecognitionEvent event;
        event.startMs = previousMs;
        event.endMs = entry.atMs;
        switch (entry.kind) {
        case ScriptEntry::Kind::Final:
            event.kind = RecognitionEvent::Kind::Final;
            event.text = entry.text;
            event.speakerLabel = entry.speakerLabel;
            break;
        case ScriptEntry::Kind::Error:
            event.kind = RecognitionEvent::Kind::Error;
            event.text = entry.text;
            break;
        case ScriptEntry::Kind::Status:
            event.kind = RecognitionEvent::Kind::Status;
            event.state = entry.text;
            break;
        }
        out.append(event);
        ++m_next;
        m_partialSent = false;
    }
}

void ScriptRecognizer::levelWindowDone(QList<RecognitionEvent> &out)
{
    const double level = estimatePCM16Level(m_window);
    m_window.clear();
    RecognitionEvent status;
    status.kind = RecognitionEvent::Kind::Status;
    status.startMs = m_samples * 1000 / pcm::kSampleRate;
    if (level < kSpeechLevel) {
        if (++m_quietWindows >= kQuietWindowsForWaiting && !m_waiting) {
            m_waiting = true;
            status.state = QStringLiteral("waiting-for-audio");
            out.append(status);
        }
        return;
    }
    m_quietWindows = 0;
    if (m_waiting) {
        m_waiting = false;
        status.state = QStringLiteral("listening");
        out.append(status);
    }
}

ScriptRecognizerFactory::ScriptRecognizerFactory(QList<ScriptEntry> entries)
    : m_entries(std::move(entries))
{ }

std::unique_ptr<Recognizer> ScriptRecognizerFactory::create(const QString &, bool interim,
                                                            qint64 startOffsetMs)
{
    return std::make_unique<ScriptRecognizer>(m_entries, interim, startOffsetMs);
}

} // namespace vernalo::server
