// Order of finals that share a server second when some of them arrive late, by poll, after the
// socket that carried them died: the server's own list decides, not the arrival.
#include "recording/transcript_assembly.h"
#include "support/test_environment.h"

#include <QtTest>

using namespace vernalo;

namespace {

const QString kSecond = QStringLiteral("2026-03-01T12:00:05Z");
const QString kNextSecond = QStringLiteral("2026-03-01T12:00:06Z");

struct Final
{
    QString text;
    std::optional<QString> ts;
};

QDateTime timeOf(const QString &ts)
{
    return QDateTime::fromString(ts, Qt::ISODate);
}

} // namespace

Q_DECLARE_METATYPE(QList<Final>)

class TranscriptOrderTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void lateFinalsTakeTheServersPlace_data()
    {
        QTest::addColumn<QList<Final>>("streamed");
        QTest::addColumn<QList<Final>>("polled");
        QTest::addColumn<QStringList>("expected");

        QTest::newRow("dead socket's finals polled after a newer one of the same second")
            << QList<Final> {{"eight", kSecond}}
            << QList<Final> {{"four", kSecond}, {"five", kSecond}, {"eight", kSecond}}
            << QStringList {"four", "five", "eight"};
        QTest::newRow("one late final between two streamed ones")
            << QList<Final> {{"one", kSecond}, {"three", kSecond}}
            << QList<Final> {{"one", kSecond}, {"two", kSecond}, {"three", kSecond}}
            << QStringList {"one", "two", "three"};
        QTest::newRow("a final the server lists last stays last")
            << QList<Final> {{"four", kSecond}}
            << QList<Final> {{"four", kSecond}, {"five", kSecond}} << QStringList {"four", "five"};
        QTest::newRow("a poll answered before a newer streamed final of the same second")
            << QList<Final> {{"ten", kSecond}}
            << QList<Final> {{"four", kSecond}, {"five", kSecond}}
            << QStringList {"four", "five", "ten"};
        QTest::newRow("time still comes first")
            << QList<Final> {{"later", kNextSecond}}
            << QList<Final> {{"later", kNextSecond}, {"earlier", kSecond}}
            << QStringList {"earlier", "later"};
        QTest::newRow("a polled final without time goes last")
            << QList<Final> {{"timed", kSecond}}
            << QList<Final> {{"untimed", std::nullopt}, {"timed", kSecond}}
            << QStringList {"timed", "untimed"};
    }

    void lateFinalsTakeTheServersPlace()
    {
        QFETCH(QList<Final>, streamed);
        QFETCH(QList<Final>, polled);
        QFETCH(QStringList, expected);

        TranscriptAssembly assembly;
        for (const Final &final : streamed)
            QVERIFY(assembly.appendStreamFinal(final.text, timeOf(*final.ts), std::nullopt));
        QList<PolledSegment> answer;
        for (const Final &final : polled)
            answer.append(PolledSegment {final.text, final.ts, std::nullopt});
        assembly.mergePolled(answer, timeOf(kNextSecond).addSecs(60));
        // A second identical poll changes nothing.
        QCOMPARE(assembly.mergePolled(answer, timeOf(kNextSecond).addSecs(61)), 0);

        QStringList texts;
        for (const TranscriptSegment &segment : assembly.segments())
            texts.append(segment.text);
        QCOMPARE(texts, expected);
    }
};

VERNALO_TEST_MAIN(TranscriptOrderTest)
#include "test_transcript_order.moc"
