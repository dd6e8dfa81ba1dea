// The transcript's one list: keys, de-duplication of finals that arrive by stream and by poll,
// order by time (and by the server's own list within a second), and the list model over it.
#include "recording/transcript_assembly.h"
#include "recording/transcript_segment_model.h"
#include "support/test_environment.h"
#include "wire/json_fields.h"

#include <QAbstractItemModelTester>
#include <QSignalSpy>
#include <QtTest>

using namespace vernalo;

namespace {

// "text|time|speaker": time "HH:mm:ss[.zzz]" of 2026-03-01 UTC, "-" or "" for none; a polled
// time that is not one ("yesterday") is handed over as it is.
QString isoOf(const QString &time)
{
    return time.isEmpty() || time == u"-" || time.contains(u'y') ? time
                                                                 : "2026-03-01T" + time + "Z";
}

QStringList texts(const QList<TranscriptSegment> &segments)
{
    QStringList out;
    for (const auto &segment : segments)
        out << segment.text;
    return out;
}

std::optional<QString> speakerOf(const QStringList &parts)
{
    return parts.size() > 2 ? std::optional<QString>(parts[2]) : std::nullopt;
}

} // namespace

class TranscriptAssemblyTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void keys_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("time");
        QTest::addColumn<QString>("expected");
        QTest::newRow("spaces and case folded") << "  Hyvää\t\tHUOMENTA \n kaikki "
                                                << "12:00:00"
                                                << "1772366400|hyvää huomenta kaikki";
        QTest::newRow("half second rounds up") << "a"
                                               << "12:00:00.500"
                                               << "1772366401|a";
        QTest::newRow("just below half rounds down") << "a"
                                                     << "12:00:00.499"
                                                     << "1772366400|a";
    }
    void keys()
    {
        QFETCH(QString, text);
        QFETCH(QString, time);
        QFETCH(QString, expected);
        QCOMPARE(segmentKey(text, *fromIso8601(isoOf(time))), expected);
    }

    // Finals streamed one by one, then one poll answer (twice: the second adds nothing).
    void streamedAndPolled_data()
    {
        QTest::addColumn<QStringList>("streamed");
        QTest::addColumn<QStringList>("polled");
        QTest::addColumn<QStringList>("expected");
        using L = QStringList;
        QTest::newRow("poll repeats a streamed final in whole seconds")
            << L {"Päätetään budjetista.|12:00:03.600|S1"}
            << L {"päätetään  budjetista.|12:00:04|S1"} << L {"Päätetään budjetista."};
        QTest::newRow("untimed poll, same text and speaker")
            << L {"Hei kaikki|12:00:00|S1"} << L {"  HEI   kaikki|-|S1"} << L {"Hei kaikki"};
        QTest::newRow("unparsable time, speaker with spaces")
            << L {"Hei kaikki|12:00:00|S1"} << L {"hei kaikki|yesterday| S1 "} << L {"Hei kaikki"};
        QTest::newRow("untimed poll, other speaker")
            << L {"Hei kaikki|12:00:00|S1"} << L {"hei kaikki|-|S2"}
            << L {"Hei kaikki", "hei kaikki"};
        QTest::newRow("same text seconds apart is said twice")
            << L {"Kyllä.|12:00:01", "Kyllä.|12:00:05"} << L {} << L {"Kyllä.", "Kyllä."};
        QTest::newRow("blank finals dropped, text trimmed")
            << L {"|12:00:01", "   |12:00:02", "\n\t\r\n|12:00:03", "  Hei \n|12:00:04"} << L {}
            << L {"Hei"};
        QTest::newRow("out of order, equal times stay in arrival order")
            << L {"third|12:00:30",    "first|12:00:10",    "second-a|12:00:20",
                  "second-b|12:00:20", "second-c|12:00:20", "fourth|12:00:40"}
            << L {} << L {"first", "second-a", "second-b", "second-c", "third", "fourth"};
        // A socket died with finals of the same second; the server's list decides their order.
        QTest::newRow("late finals polled after a newer one of the same second")
            << L {"eight|12:00:05"} << L {"four|12:00:05", "five|12:00:05", "eight|12:00:05"}
            << L {"four", "five", "eight"};
        QTest::newRow("one late final between two streamed ones")
            << L {"one|12:00:05", "three|12:00:05"}
            << L {"one|12:00:05", "two|12:00:05", "three|12:00:05"} << L {"one", "two", "three"};
        QTest::newRow("poll before a newer streamed final of the same second")
            << L {"ten|12:00:05"} << L {"four|12:00:05", "five|12:00:05"}
            << L {"four", "five", "ten"};
        QTest::newRow("time still comes first")
            << L {"later|12:00:06"} << L {"later|12:00:06", "earlier|12:00:05"}
            << L {"earlier", "later"};
        QTest::newRow("an untimed polled final takes the poll's time")
            << L {"timed|12:00:05"} << L {"untimed|-", "timed|12:00:05"} << L {"timed", "untimed"};
    }
    void streamedAndPolled()
    {
        QFETCH(QStringList, streamed);
        QFETCH(QStringList, polled);
        QFETCH(QStringList, expected);
        TranscriptAssembly assembly;
        for (const QString &final : streamed) {
            const QStringList parts = final.split(u'|');
            assembly.appendStreamFinal(parts[0], *fromIso8601(isoOf(parts[1])), speakerOf(parts));
        }
        QList<PolledSegment> answer;
        for (const QString &final : polled) {
            const QStringList parts = final.split(u'|');
            const QString ts = isoOf(parts[1]);
            answer.append({parts[0], ts == u"-" ? std::nullopt : std::optional<QString>(ts),
                           speakerOf(parts)});
        }
        const QDateTime pollTime(QDate(2026, 3, 1), QTime(12, 5), Qt::UTC);
        const int before = int(assembly.segments().size());
        QCOMPARE(assembly.mergePolled(answer, pollTime), int(expected.size()) - before);
        QCOMPARE(assembly.mergePolled(answer, pollTime.addSecs(1)), 0);
        QCOMPARE(texts(assembly.segments()), expected);
        for (const auto &segment : assembly.segments()) {
            if (segment.text == u"untimed")
                QCOMPARE(segment.timestamp, pollTime);
        }
    }

    void replaceRebuildsKeys()
    {
        TranscriptAssembly assembly;
        const QDateTime at(QDate(2026, 3, 1), QTime(12, 0), Qt::UTC);
        assembly.replace({{QUuid::createUuid(), QStringLiteral("Tallennettu"), at, std::nullopt}});
        QVERIFY(!assembly.appendStreamFinal(QStringLiteral("tallennettu"), at, std::nullopt));
        assembly.clear();
        QVERIFY(assembly.appendStreamFinal(QStringLiteral("tallennettu"), at, std::nullopt));
    }

    // The list model announces each insert at the row its time puts it, the way item views
    // require, and its counts follow every change.
    void modelAnnouncesEveryChange()
    {
        const auto at = [](int second) {
            return QDateTime(QDate(2026, 3, 1), QTime(12, 0, second), Qt::UTC);
        };
        TranscriptSegmentModel model;
        QAbstractItemModelTester tester(&model,
                                        QAbstractItemModelTester::FailureReportingMode::QtTest);
        QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);
        QSignalSpy counts(&model, &TranscriptSegmentModel::countsChanged);
        const QList<int> seconds {10, 30, 20, 20, 5};
        for (int i = 0; i < seconds.size(); ++i)
            QVERIFY(model.appendStreamFinal(QStringLiteral("lause %1").arg(i), at(seconds[i]),
                                            i == 0 ? std::optional<QString>("S1") : std::nullopt));
        QList<int> rows;
        for (const QList<QVariant> &signal : inserted)
            rows << signal.at(1).toInt();
        QCOMPARE(rows, (QList<int> {0, 1, 1, 2, 0}));
        QCOMPARE(model.wordCount(), 10);
        QCOMPARE(model.data(model.index(0), TranscriptSegmentModel::TextRole).toString(),
                 QStringLiteral("lause 4"));
        QCOMPARE(model.mergePolled(
                     {{QStringLiteral("LAUSE 0"), std::nullopt, QStringLiteral("S1")},
                      {QStringLiteral("uusi"), QStringLiteral("2026-03-01T12:00:00Z"), {}}},
                     at(50)),
                 1);

        model.replace({{QUuid::createUuid(), QStringLiteral("tallennettu lause"), at(5), {}}});
        QCOMPARE(model.count(), 1);
        QCOMPARE(model.wordCount(), 2);
        model.clear();
        QCOMPARE(model.wordCount(), 0);
        QCOMPARE(counts.size(), 8);
    }
};

VERNALO_TEST_MAIN(TranscriptAssemblyTest)
#include "test_transcript_assembly.moc"
