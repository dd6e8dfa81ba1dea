#include "memo_builder.h"

#include "wire/json_fields.h"

#include <algorithm>
#include <cmath>
#include <QHash>
#include <QLocale>
#include <QRegularExpression>
#include <QSet>
#include <QTimeZone>

namespace vernalo::server {

namespace {

struct Labels
{
    QString title;
    QString date;
    QString keyPoints;
    QString transcript;
    QLocale locale;
};

Labels labelsFor(const QString &language)
{
    const QString code = language.left(2).toLower();
    if (code == QLatin1String("sv"))
        return {QStringLiteral("Mötesanteckningar"), QStringLiteral("Datum"),
                QStringLiteral("Viktiga punkter"), QStringLiteral("Fullständig transkription"),
                QLocale(QLocale::Swedish, QLocale::Sweden)};
    if (code == QLatin1String("en"))
        return {QStringLiteral("Meeting memo"), QStringLiteral("Date"),
                QStringLiteral("Key points"), QStringLiteral("Full transcript"),
                QLocale(QLocale::English, QLocale::UnitedStates)};
    return {QStringLiteral("Muistio"), QStringLiteral("Päivämäärä"),
            QStringLiteral("Keskeiset kohdat"), QStringLiteral("Koko litteraatti"),
            QLocale(QLocale::Finnish, QLocale::Finland)};
}

QStringList contentWords(const QString &sentence)
{
    static const QRegularExpression nonWord(QStringLiteral("[^\\p{L}\\p{N}]+"));
    QStringList words;
    for (const QString &word : sentence.toLower().split(nonWord, Qt::SkipEmptyParts)) {
        // Short words are mostly function words in every language the client offers.
        if (word.size() >= 4)
            words.append(word);
    }
    return words;
}

QString tidySentence(QString text)
{
    text = text.simplified();
    if (text.isEmpty())
        return text;
    text[0] = text[0].toUpper();
    if (!QStringLiteral(".!?").contains(text.back()))
        text.append(QLatin1Char('.'));
    return text;
}

QString normalizedKey(const QString &text, const QDateTime &time)
{
    return QString::number(time.toSecsSinceEpoch()) + QLatin1Char('|') +
        text.simplified().toLower();
}

} // namespace

QStringList MemoBuilder::splitSentences(const QString &text)
{
    static const QRegularExpression boundary(QStringLiteral("(?<=[.!?])\\s+"));
    QStringList sentences;
    for (const QString &part : text.split(boundary, Qt::SkipEmptyParts)) {
        if (!part.trimmed().isEmpty())
            sentences.append(part.trimmed());
    }
    return sentences;
}

QStringList MemoBuilder::keySentences(const QStringList &sentences, int limit)
{
    QHash<QString, int> frequency;
    QList<QStringList> wordsOf;
    for (const QString &sentence : sentences) {
        wordsOf.append(contentWords(sentence));
        for (const QString &word : std::as_const(wordsOf.back()))
            ++frequency[word];
    }
    struct Scored
    {
        qsizetype index;
        double score;
    };
    QList<Scored> scored;
    QSet<QString> seen;
    for (qsizetype i = 0; i < sentences.size(); ++i) {
        const QString key = sentences[i].simplified().toLower();
        if (wordsOf[i].isEmpty() || seen.contains(key))
            continue;
        seen.insert(key);
        double sum = 0.0;
        for (const QString &word : std::as_const(wordsOf[i]))
            sum += frequency.value(word);
        scored.append({i, sum / std::sqrt(double(wordsOf[i].size()))});
    }
    std::stable_sort(scored.begin(), scored.end(),
                     [](const Scored &a, const Scored &b) { return a.score > b.score; });
    if (scored.size() > limit)
        scored.resize(limit);
    std::sort(scored.begin(), scored.end(),
              [](const Scored &a, const Scored &b) { return a.index < b.index; });
    QStringList out;
    for (const Scored &entry : std::as_const(scored))
        out.append(tidySentence(sentences[entry.index]));
    return out;
}

Memo MemoBuilder::build(const QList<StoredSegment> &segments, const QString &language,
                        const QDateTime &sessionStart)
{
    const Labels labels = labelsFor(language);
    const QDateTime localStart = sessionStart.toLocalTime();
    Memo memo;
    memo.content.memoType = QStringLiteral("meeting");
    memo.content.title = labels.title + QStringLiteral(" ") +
        labels.locale.toString(localStart.date(), QLocale::ShortFormat);
    memo.dateLine = labels.date + QStringLiteral(": ") +
        labels.locale.toString(localStart, QLocale::ShortFormat);
    memo.keyPointsHeading = labels.keyPoints;
    memo.transcriptHeading = labels.transcript;

    QStringList sentences;
    QStringList cleanLines;
    for (const StoredSegment &segment : segments) {
        const QString text = segment.text.simplified();
        if (text.isEmpty())
            continue;
        sentences += splitSentences(text);
        const QString speaker =
            segment.speakerLabel ? *segment.speakerLabel + QStringLiteral(": ") : QString();
        cleanLines.append(speaker + tidySentence(text));
        memo.transcriptLines.append(QStringLiteral("[") +
                                    labels.locale.toString(segment.timestamp.toLocalTime().time(),
                                                           QStringLiteral("HH.mm.ss")) +
                                    QStringLiteral("] ") + speaker + text);
    }
    const int limit = std::clamp(int(sentences.size() / 3), 1, 7);
    memo.keySentences = keySentences(sentences, limit);
    memo.content.summary = memo.keySentences.join(QLatin1Char(' '));
    memo.content.cleanTranscript = cleanLines.join(QLatin1Char('\n'));

    // Confidence: the share of the transcript's recurring words that the key points carry.
    int totalWords = 0;
    for (const QString &sentence : std::as_const(sentences))
        totalWords += int(contentWords(sentence).size());
    int keyWords = 0;
    for (const QString &sentence : std::as_const(memo.keySentences))
        keyWords += int(contentWords(sentence).size());
    memo.content.confidence =
        totalWords > 0 ? std::round(1000.0 * keyWords / totalWords) / 1000.0 : 0.0;
    return memo;
}

QList<StoredSegment> mergeMemoSegments(const QList<StoredSegment> &server,
                                       const QList<SummaryGenerateRequest::Segment> &fallback,
                                       const QDateTime &fallbackTime)
{
    QList<StoredSegment> merged = server;
    QSet<QString> known;
    for (const StoredSegment &segment : server)
        known.insert(normalizedKey(segment.text, segment.timestamp));
    qint64 step = 0;
    for (const SummaryGenerateRequest::Segment &input : fallback) {
        if (input.text.trimmed().isEmpty())
            continue;
        StoredSegment segment;
        segment.text = input.text.trimmed();
        const auto dated = fromIso8601(input.ts.trimmed());
        segment.timestamp = dated ? *dated : fallbackTime.addSecs(step++);
        segment.speakerLabel = input.speakerLabel;
        const QString key = normalizedKey(segment.text, segment.timestamp);
        if (known.contains(key))
            continue;
        known.insert(key);
        merged.append(segment);
    }
    std::stable_sort(
        merged.begin(), merged.end(),
        [](const StoredSegment &a, const StoredSegment &b) { return a.timestamp < b.timestamp; });
    return merged;
}

} // namespace vernalo::server
