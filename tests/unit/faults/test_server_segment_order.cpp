// The reference server lists a session's finals in the order of the audio they came from, even
// when a replaced stream's recognizer stores its last finals after the new stream's first ones.
#include "server_database.h"
#include "session_store.h"
#include "support/test_environment.h"

#include <QtTest>

using namespace vernalo::server;

class ServerSegmentOrderTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void finalsListInAudioOrder_data()
    {
        QTest::addColumn<QList<int>>("storedAtMs"); // offsets from a base, in storing order
        QTest::addColumn<QStringList>("expected");

        QTest::newRow("old stream's finals stored after the new stream's first")
            << QList<int> {0, 5000, 1200, 2400} << QStringList {"0", "1200", "2400", "5000"};
        QTest::newRow("same moment keeps storing order")
            << QList<int> {300, 300, 100} << QStringList {"100", "300", "300"};
        QTest::newRow("already in order")
            << QList<int> {0, 999, 1000, 10000} << QStringList {"0", "999", "1000", "10000"};
    }

    void finalsListInAudioOrder()
    {
        QFETCH(QList<int>, storedAtMs);
        QFETCH(QStringList, expected);
        QTemporaryDir dir;
        ServerDatabase db;
        QString error;
        QVERIFY2(db.open(dir.path(), &error), qPrintable(error));
        SessionStore store(db);
        SessionRecord session;
        session.id = QStringLiteral("s1");
        session.status = QStringLiteral("active");
        session.streamTokenHash = QByteArrayLiteral("digest");
        session.language = QStringLiteral("en-US");
        session.sttModel = QStringLiteral("script");
        session.createdAt = QDateTime(QDate(2026, 3, 1), QTime(12, 0), Qt::UTC);
        session.lastActivityAt = session.createdAt;
        QVERIFY(store.insert(session));
        // Ten o'clock and a second before it: text order must not be fooled by the hour's width.
        const QDateTime base(QDate(2026, 3, 1), QTime(9, 59, 59), Qt::UTC);
        for (int ms : storedAtMs)
            QVERIFY(store.appendSegment(
                session.id, StoredSegment {QString::number(ms), base.addMSecs(ms), std::nullopt}));

        QStringList texts;
        for (const StoredSegment &segment : store.segments(session.id))
            texts.append(segment.text);
        QCOMPARE(texts, expected);
    }
};

VERNALO_TEST_MAIN(ServerSegmentOrderTest)
#include "test_server_segment_order.moc"
