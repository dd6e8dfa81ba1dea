#include "recording/transcript_assembly.h"
#include "support/test_environment.h"
#include "wire/json_fields.h"

#include <QtTest>

using namespace vernalo;

namespace {
QDateTime at(const char *iso)
{
    return *fromIso8601(QString::fromLatin1(iso));
}

QStringList texts(const TranscriptAssembly &assembly)
{
    QStringList out;
    for (const auto &segment : assembly.segments())
        out << segment.text;
    return out;
}
} // namespace

class TranscriptAssemblyTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void keys_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("iso");
        QTest::addColumn<QString>("expected");
        QTest::newRow("plain") << "Hei"
                               << "2026-03-01T12:00:00Z"
                               << "1772366400|hei";
        QTest::newRow("spaces and case folded") << "  Hyvää\t\tHUOMENTA \n kaikki "
                                                << "2026-03-01T12:00:00Z"
                                                << "1772366400|hyvää huomenta kaikki";
        QTest::newRow("half second rounds up") << "a"
                                               << "2026-03-01T12:00:00.500Z"
                                               << "1772366401|a";
        QTest::newRow("just below half rounds down") << "a"
                                                     << "2026-03-01T12:00:00.499Z"
                                                     << "1772366400|a";
    }
    void keys()
    {
        QFETCH(QString, text);
        QFETCH(QString, iso);
        QFETCH(QString, expected);
        QCOMPARE(segmentKey(text, *fromIso8601(iso)), expected);
    }

    void sameFinalFromStreamAndPollListedOnce()
    {
        TranscriptAssembly assembly;
        QVERIFY(assembly.appendStreamFinal(QStringLiteral("Päätetään budjetista."),
                                           at("2026-03-01T12:00:03.200Z"), QStringLiteral("S1")));
        // The poll reports the same sentence with the server's whole-second time.
        const int added = assembly.mergePolled(
            {PolledSegment {QStringLiteral("päätetään  budjetista."),
                            QStringLiteral("2026-03-01T12:00:03Z"), QStringLiteral("S1")}},
            at("2026-03-01T12:00:10Z"));
        QCOMPARE(added, 0);
        QCOMPARE(assembly.segments().size(), 1);
    }

    void polledWithoutTimeMatchesTextAndSpeaker_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("speaker"); // "<none>" for absent
        QTest::addColumn<bool>("added");
        QTest::newRow("case and spacing differ, same speaker") << "  HEI   kaikki"
                                                               << "S1" << false;
        QTest::newRow("speaker differs") << "hei kaikki"
                                         << "S2" << true;
        QTest::newRow("speaker absent vs present") << "hei kaikki"
                                                   << "<none>" << true;
        QTest::newRow("speaker with spaces") << "hei kaikki"
                                             << " S1 " << false;
        QTest::newRow("different text") << "hei taas"
                                        << "S1" << true;
    }
    void polledWithoutTimeMatchesTextAndSpeaker()
    {
        QFETCH(QString, text);
        QFETCH(QString, speaker);
        QFETCH(bool, added);
        TranscriptAssembly assembly;
        assembly.appendStreamFinal(QStringLiteral("Hei kaikki"), at("2026-03-01T12:00:00Z"),
                                   QStringLiteral("S1"));
        const std::optional<QString> label =
            speaker == "<none>" ? std::nullopt : std::optional<QString>(speaker);
        // A missing or unparsable time both mean "match by text"; so does a time with fractions,
        // which the stream refuses too.
        for (const std::optional<QString> &ts :
             {std::optional<QString>(), std::optional<QString>("yesterday"),
              std::optional<QString>("2026-03-01T12:00:00.250Z")}) {
            TranscriptAssembly copy = assembly;
            QCOMPARE(
                copy.mergePolled({PolledSegment {text, ts, label}}, at("2026-03-01T12:05:00Z")),
                added ? 1 : 0);
        }
    }

    void polledWithoutTimeTakesNow()
    {
        TranscriptAssembly assembly;
        assembly.mergePolled({PolledSegment {QStringLiteral("a"), std::nullopt, std::nullopt}},
                             at("2026-03-01T12:05:00Z"));
        QCOMPARE(assembly.segments().first().timestamp, at("2026-03-01T12:05:00Z"));
    }

    void blankFinalsAreDropped_data()
    {
        QTest::addColumn<QString>("text");
        QTest::newRow("empty") << "";
        QTest::newRow("spaces") << "   ";
        QTest::newRow("line breaks") << "\n\t\r\n";
    }
    void blankFinalsAreDropped()
    {
        QFETCH(QString, text);
        TranscriptAssembly assembly;
        QVERIFY(!assembly.appendStreamFinal(text, at("2026-03-01T12:00:00Z"), std::nullopt));
        QVERIFY(assembly.isEmpty());
    }

    void textIsStoredTrimmedAndSpeakerAsReceived()
    {
        TranscriptAssembly assembly;
        assembly.appendStreamFinal(QStringLiteral("  Hei \n"), at("2026-03-01T12:00:00Z"),
                                   QString());
        QCOMPARE(assembly.segments().first().text, QStringLiteral("Hei"));
        QCOMPARE(assembly.segments().first().speakerLabel, std::optional<QString>(QString()));
    }

    void outOfOrderArrivalsAreSortedStably()
    {
        TranscriptAssembly assembly;
        assembly.appendStreamFinal(QStringLiteral("third"), at("2026-03-01T12:00:30Z"),
                                   std::nullopt);
        assembly.appendStreamFinal(QStringLiteral("first"), at("2026-03-01T12:00:10Z"),
                                   std::nullopt);
        assembly.appendStreamFinal(QStringLiteral("second-a"), at("2026-03-01T12:00:20Z"),
                                   std::nullopt);
        assembly.appendStreamFinal(QStringLiteral("second-b"), at("2026-03-01T12:00:20Z"),
                                   std::nullopt);
        assembly.appendStreamFinal(QStringLiteral("second-c"), at("2026-03-01T12:00:20Z"),
                                   std::nullopt);
        assembly.appendStreamFinal(QStringLiteral("fourth"), at("2026-03-01T12:00:40Z"),
                                   std::nullopt);
        QCOMPARE(texts(assembly),
                 (QStringList {"first", "second-a", "second-b", "second-c", "third", "fourth"}));
    }

    void sameTextAtDifferentSecondsIsKept()
    {
        // People repeat themselves: "Kyllä." twice, seconds apart, is two segments.
        TranscriptAssembly assembly;
        QVERIFY(assembly.appendStreamFinal(QStringLiteral("Kyllä."), at("2026-03-01T12:00:01Z"),
                                           std::nullopt));
        QVERIFY(assembly.appendStreamFinal(QStringLiteral("Kyllä."), at("2026-03-01T12:00:05Z"),
                                           std::nullopt));
        QCOMPARE(assembly.segments().size(), 2);
    }

    void replaceRebuildsKeys()
    {
        TranscriptAssembly assembly;
        const TranscriptSegment stored {QUuid::createUuid(), QStringLiteral("Tallennettu"),
                                        at("2026-03-01T12:00:00Z"), std::nullopt};
        assembly.replace({stored});
        QVERIFY(!assembly.appendStreamFinal(QStringLiteral("tallennettu"),
                                            at("2026-03-01T12:00:00Z"), std::nullopt));
        assembly.clear();
        QVERIFY(assembly.appendStreamFinal(QStringLiteral("tallennettu"),
                                           at("2026-03-01T12:00:00Z"), std::nullopt));
    }

    void wordCount_data()
    {
        QTest::addColumn<QStringList>("texts");
        QTest::addColumn<int>("words");
        QTest::newRow("none") << QStringList {} << 0;
        QTest::newRow("two segments")
            << QStringList {"Hyvää huomenta", "aloitetaan  kokous\nnyt"} << 5;
        QTest::newRow("punctuation alone") << QStringList {"- ok -"} << 3;
    }
    void wordCount()
    {
        QFETCH(QStringList, texts);
        QFETCH(int, words);
        QList<TranscriptSegment> segments;
        for (const QString &text : texts)
            segments.append(
                TranscriptSegment {QUuid::createUuid(), text, QDateTime::currentDateTimeUtc(), {}});
        QCOMPARE(transcriptWordCount(segments), words);
    }
};

VERNALO_TEST_MAIN(TranscriptAssemblyTest)
#include "test_transcript_assembly.moc"
