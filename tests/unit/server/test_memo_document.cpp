#include "docx_writer.h"
#include "memo_builder.h"
#include "support/test_environment.h"

#include <QtTest>
#include <QXmlStreamReader>
#include <zip.h>

using namespace vernalo::server;

namespace {

// Every entry of a zip held in memory, by name.
QMap<QString, QByteArray> unzip(const QByteArray &data)
{
    QMap<QString, QByteArray> files;
    zip_error_t error;
    zip_error_init(&error);
    zip_source_t *source = zip_source_buffer_create(data.constData(), data.size(), 0, &error);
    zip_t *archive =
        source ? zip_open_from_source(source, ZIP_RDONLY | ZIP_CHECKCONS, &error) : nullptr;
    if (!archive) {
        zip_source_free(source);
        return files;
    }
    for (zip_int64_t i = 0; i < zip_get_num_entries(archive, 0); ++i) {
        zip_stat_t stat;
        zip_stat_index(archive, i, 0, &stat);
        QByteArray content(static_cast<qsizetype>(stat.size), Qt::Uninitialized);
        zip_file_t *file = zip_fopen_index(archive, i, 0);
        zip_fread(file, content.data(), stat.size);
        zip_fclose(file);
        files.insert(QString::fromUtf8(stat.name), content);
    }
    zip_close(archive);
    return files;
}

// The text of every w:t element of a document part, one paragraph per line; empty with a
// failure when the XML is not well formed.
QStringList paragraphs(const QByteArray &xml)
{
    QStringList out;
    QXmlStreamReader reader(xml);
    QString current;
    while (!reader.atEnd()) {
        reader.readNext();
        if (reader.isStartElement() && reader.name() == QLatin1String("t"))
            current += reader.readElementText();
        else if (reader.isEndElement() && reader.name() == QLatin1String("p")) {
            out << current;
            current.clear();
        }
    }
    if (reader.hasError())
        return {QStringLiteral("XML ERROR: ") + reader.errorString()};
    return out;
}

StoredSegment segment(const QString &text, int second,
                      std::optional<QString> speaker = std::nullopt)
{
    return StoredSegment {text, QDateTime(QDate(2026, 3, 2), QTime(14, 0, second), Qt::UTC),
                          speaker};
}

} // namespace

class MemoDocumentTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void keySentences_data()
    {
        QTest::addColumn<QStringList>("sentences");
        QTest::addColumn<int>("limit");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("recurring words win, spoken order kept")
            << QStringList {"we talked about lunch", "the budget review is on friday",
                            "nice weather today", "budget review needs the final numbers",
                            "the final budget review goes to the board"}
            << 2
            << QStringList {"Budget review needs the final numbers.",
                            "The final budget review goes to the board."};
        QTest::newRow("repeated sentence counted once")
            << QStringList {"Approve the budget!", "approve the budget!", "ok"} << 3
            << QStringList {"Approve the budget!"};
        QTest::newRow("only short words: nothing to rank")
            << QStringList {"ok so", "yes we do"} << 2 << QStringList {};
    }
    void keySentences()
    {
        QFETCH(QStringList, sentences);
        QFETCH(int, limit);
        QFETCH(QStringList, expected);
        QCOMPARE(MemoBuilder::keySentences(sentences, limit), expected);
    }

    void mergeFillsGapsWithoutDuplicates()
    {
        const QList<StoredSegment> server {segment("first point", 5), segment("third point", 30)};
        const QList<vernalo::SummaryGenerateRequest::Segment> fallback {
            {"First  Point", "2026-03-02T14:00:05Z", std::nullopt}, // same text, same second
            {"second point", "2026-03-02T14:00:10Z", QString("Anna")},
            {"undated", "", std::nullopt},
            {"   ", "2026-03-02T14:00:11Z", std::nullopt}};
        const QDateTime fallbackTime(QDate(2026, 3, 2), QTime(14, 0, 20), Qt::UTC);
        const QList<StoredSegment> merged = mergeMemoSegments(server, fallback, fallbackTime);
        QStringList order;
        for (const StoredSegment &s : merged)
            order << s.text + QLatin1Char('@') + s.timestamp.toString(QStringLiteral("ss")) +
                    (s.speakerLabel ? QLatin1Char('/') + *s.speakerLabel : QString());
        QCOMPARE(order,
                 (QStringList {"first point@05", "second point@10/Anna", "undated@20",
                               "third point@30"}));
    }

    // A document an office program opens: every part well-formed XML, the title, the key points
    // as bullets and the whole transcript with times and speakers.
    void documentCarriesTitleKeyPointsAndWholeTranscript()
    {
        const QList<StoredSegment> segments {
            segment("Budjetti hyväksyttiin yksimielisesti.", 1, QString("Anna")),
            segment("budjetti & <aikataulu> käydään läpi maanantaina", 9)};
        const Memo memo = MemoBuilder::build(segments, QStringLiteral("fi-FI"),
                                             QDateTime(QDate(2026, 3, 2), QTime(14, 0), Qt::UTC));
        const auto files = unzip(DocxWriter::write(
            {memo.content.title, memo.dateLine, memo.keyPointsHeading, memo.keySentences,
             memo.transcriptHeading, memo.transcriptLines,
             QDateTime(QDate(2026, 3, 2), QTime(15, 0), Qt::UTC)}));
        for (const char *part : {"[Content_Types].xml", "_rels/.rels", "word/document.xml",
                                 "word/_rels/document.xml.rels", "word/styles.xml",
                                 "docProps/core.xml"}) {
            QXmlStreamReader reader(files.value(QString::fromLatin1(part)));
            while (!reader.atEnd())
                reader.readNext();
            QVERIFY2(files.contains(QString::fromLatin1(part)) && !reader.hasError(), part);
        }
        const QStringList text = paragraphs(files.value("word/document.xml"));
        QCOMPARE(text.value(0), QStringLiteral("Muistio 2.3.2026"));
        QCOMPARE(text.value(2), QStringLiteral("Keskeiset kohdat"));
        const qsizetype transcriptAt = text.indexOf(QStringLiteral("Koko litteraatti"));
        QVERIFY(transcriptAt > 3);
        for (qsizetype i = 3; i < transcriptAt; ++i)
            QVERIFY2(text[i].startsWith(QStringLiteral("• ")), qPrintable(text[i]));
        QCOMPARE(text.mid(transcriptAt + 1),
                 (QStringList {"[14.00.01] Anna: Budjetti hyväksyttiin yksimielisesti.",
                               "[14.00.09] budjetti & <aikataulu> käydään läpi maanantaina"}));
    }

    void controlCharactersCannotBreakTheDocument()
    {
        const QString hostile = QStringLiteral("alku") + QChar(0x0001) + QStringLiteral("loppu") +
            QChar(0xD800) + QStringLiteral(" 😀 ]]>");
        const QByteArray docx = DocxWriter::write({hostile,
                                                   QString(),
                                                   QString(),
                                                   {hostile},
                                                   QString(),
                                                   {hostile},
                                                   QDateTime::currentDateTimeUtc()});
        const QStringList text = paragraphs(unzip(docx).value("word/document.xml"));
        QCOMPARE(text.value(0), QStringLiteral("alkuloppu 😀 ]]>"));
        QCOMPARE(text.count(QStringLiteral("alkuloppu 😀 ]]>")), 2);
    }
};

VERNALO_TEST_MAIN(MemoDocumentTest)
#include "test_memo_document.moc"
