// The transcript list model: every change is announced to views the way item views require,
// and the counts follow every change.
#include "recording/transcript_segment_model.h"
#include "support/test_environment.h"
#include "wire/json_fields.h"

#include <QAbstractItemModelTester>
#include <QSignalSpy>
#include <QtTest>

using namespace vernalo;

namespace {
QDateTime at(int second)
{
    return QDateTime(QDate(2026, 3, 1), QTime(12, 0, second), Qt::UTC);
}
} // namespace

class TranscriptSegmentModelTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void insertsLandWhereTheirTimePutsThem_data()
    {
        QTest::addColumn<QList<int>>("seconds");
        QTest::addColumn<QList<int>>("rows");
        QTest::newRow("in order") << QList<int> {1, 2, 3} << QList<int> {0, 1, 2};
        QTest::newRow("reversed") << QList<int> {3, 2, 1} << QList<int> {0, 0, 0};
        QTest::newRow("middle and equal times")
            << QList<int> {10, 30, 20, 20, 5} << QList<int> {0, 1, 1, 2, 0};
    }
    void insertsLandWhereTheirTimePutsThem()
    {
        QFETCH(QList<int>, seconds);
        QFETCH(QList<int>, rows);
        TranscriptSegmentModel model;
        QAbstractItemModelTester tester(&model,
                                        QAbstractItemModelTester::FailureReportingMode::QtTest);
        QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);
        for (int i = 0; i < seconds.size(); ++i)
            QVERIFY(model.appendStreamFinal(QStringLiteral("lause %1").arg(i), at(seconds[i]),
                                            std::nullopt));
        QCOMPARE(inserted.size(), rows.size());
        for (int i = 0; i < rows.size(); ++i)
            QCOMPARE(inserted[i].at(1).toInt(), rows[i]);
        for (int row = 1; row < model.rowCount(); ++row)
            QVERIFY(
                model.data(model.index(row - 1), TranscriptSegmentModel::TimestampRole)
                    .toDateTime() <=
                model.data(model.index(row), TranscriptSegmentModel::TimestampRole).toDateTime());
        QCOMPARE(model.wordCount(), 2 * int(seconds.size()));
    }

    void replaceAndClearResetTheCounts()
    {
        TranscriptSegmentModel model;
        QAbstractItemModelTester tester(&model,
                                        QAbstractItemModelTester::FailureReportingMode::QtTest);
        QSignalSpy counts(&model, &TranscriptSegmentModel::countsChanged);
        model.appendStreamFinal(QStringLiteral("yksi kaksi kolme"), at(1), QStringLiteral("S1"));
        const int merged = model.mergePolled(
            {PolledSegment {QStringLiteral("neljä"), QStringLiteral("2026-03-01T12:00:00Z"), {}},
             PolledSegment {QStringLiteral("YKSI  kaksi kolme"), std::nullopt,
                            QStringLiteral("S1")}},
            at(9));
        QCOMPARE(merged, 1);
        QCOMPARE(model.wordCount(), 4);
        QCOMPARE(model.data(model.index(0), TranscriptSegmentModel::TextRole).toString(),
                 QStringLiteral("neljä"));
        QCOMPARE(model.data(model.index(1), TranscriptSegmentModel::SpeakerLabelRole).toString(),
                 QStringLiteral("S1"));
        QCOMPARE(model.data(model.index(0), TranscriptSegmentModel::HasSpeakerLabelRole).toBool(),
                 false);

        const QList<TranscriptSegment> stored {
            {QUuid::createUuid(), QStringLiteral("tallennettu lause"), at(5), std::nullopt}};
        model.replace(stored);
        QCOMPARE(model.count(), 1);
        QCOMPARE(model.wordCount(), 2);
        // What was loaded is known: the same sentence at the same time is not added again.
        QVERIFY(!model.appendStreamFinal(QStringLiteral("Tallennettu lause"), at(5), std::nullopt));
        model.clear();
        QCOMPARE(model.count(), 0);
        QCOMPARE(model.wordCount(), 0);
        QCOMPARE(counts.size(), 4);
    }
};

VERNALO_TEST_MAIN(TranscriptSegmentModelTest)
#include "test_transcript_segment_model.moc"
