#include "password_hasher.h"
#include "server_database.h"
#include "session_store.h"
#include "support/fake_clock.h"
#include "support/test_environment.h"
#include "user_store.h"

#include <QDir>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QtTest>
#include <sys/stat.h>

using namespace vernalo::server;
using vernalo::test::FakeClock;

namespace {

SessionRecord record(const QString &id, const QDateTime &created,
                     const QString &status = QStringLiteral("active"))
{
    SessionRecord r;
    r.id = id;
    r.status = status;
    r.streamTokenHash = "digest";
    r.language = QStringLiteral("en-US");
    r.sttModel = QStringLiteral("script");
    r.createdAt = created;
    r.lastActivityAt = created;
    return r;
}

} // namespace

class ServerStorageTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void passwordVerification_data()
    {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QString>("attempt");
        QTest::addColumn<bool>("accepted");
        const QString good = PasswordHasher(1000).hash(QStringLiteral("sala sana ÄÖ"));
        QTest::newRow("right password") << good << "sala sana ÄÖ" << true;
        QTest::newRow("wrong password") << good << "sala sana AO" << false;
        QTest::newRow("empty attempt") << good << "" << false;
        QTest::newRow("other scheme")
            << QString(good).replace("pbkdf2-sha256", "plain") << "sala sana ÄÖ" << false;
        QTest::newRow("iterations tampered")
            << QString(good).replace("$1000$", "$999$") << "sala sana ÄÖ" << false;
        QTest::newRow("truncated key") << good.left(good.size() - 4) << "sala sana ÄÖ" << false;
        QTest::newRow("absurd iterations") << "pbkdf2-sha256$99999999999$c2FsdA==$AAAA"
                                           << "x" << false;
        QTest::newRow("not a hash") << "hunter2"
                                    << "hunter2" << false;
    }
    void passwordVerification()
    {
        QFETCH(QString, stored);
        QFETCH(QString, attempt);
        QFETCH(bool, accepted);
        QCOMPARE(PasswordHasher::verify(attempt, stored), accepted);
    }

    void tokensExpireAndFollowTheUser()
    {
        QTemporaryDir dir;
        FakeClock clock;
        ServerDatabase db;
        QString error;
        QVERIFY2(db.open(dir.path(), &error), qPrintable(error));
        UserStore users(db, clock, 1000);
        qint64 id = 0;
        QCOMPARE(users.createUser("a@x.fi", "password123", "user", &id),
                 UserStore::CreateResult::Created);
        QCOMPARE(users.createUser("a@x.fi", "other", "user"), UserStore::CreateResult::Exists);

        const QString first = users.issueToken(id, std::chrono::hours(1));
        const QString second = users.issueToken(id, std::chrono::hours(48));
        QVERIFY(first != second);
        QCOMPARE(users.userForToken(first)->email, QStringLiteral("a@x.fi"));
        QVERIFY(!users.userForToken(first + "x"));
        QVERIFY(!users.userForToken(QString()));

        clock.advance(std::chrono::hours(1));
        QVERIFY2(!users.userForToken(first), "a token is dead at its expiry");
        QVERIFY(users.userForToken(second));

        QVERIFY(users.setActive(id, false));
        QVERIFY2(!users.userForToken(second), "disabling revokes tokens");
        QVERIFY(users.findById(id)->disabledAt.has_value());
        QVERIFY(users.setActive(id, true));
        QVERIFY(!users.findById(id)->disabledAt.has_value());
        QVERIFY2(!users.userForToken(second), "re-enabling does not revive old tokens");

        const QString keep = users.issueToken(id, std::chrono::hours(1));
        const QString drop = users.issueToken(id, std::chrono::hours(1));
        users.revokeTokens(id, keep);
        QVERIFY(users.userForToken(keep));
        QVERIFY(!users.userForToken(drop));

        // Only digests are stored: the token text appears nowhere in the database.
        QSqlQuery query = db.prepare(QStringLiteral("SELECT token_hash FROM auth_tokens"));
        QVERIFY(db.exec(query));
        while (query.next())
            QVERIFY(!query.value(0).toByteArray().contains(keep.toUtf8()));
    }

    void listIsNewestFirstAndLimited()
    {
        QTemporaryDir dir;
        FakeClock clock;
        ServerDatabase db;
        QString error;
        QVERIFY(db.open(dir.path(), &error));
        SessionStore store(db);
        for (int i = 0; i < 5; ++i) {
            QVERIFY(
                store.insert(record(QStringLiteral("s%1").arg(i), clock.now(),
                                    i % 2 ? QStringLiteral("stopped") : QStringLiteral("active"))));
            // Two sessions in the same millisecond still keep their creation order.
            if (i != 2)
                clock.advance(std::chrono::milliseconds(1));
        }
        auto ids = [&](const QString &status, int limit) {
            QStringList out;
            for (const SessionRecord &r : store.list(std::nullopt, status, limit))
                out << r.id;
            return out;
        };
        QCOMPARE(ids(QString(), 3), (QStringList {"s4", "s3", "s2"}));
        QCOMPARE(ids(QStringLiteral("stopped"), 10), (QStringList {"s3", "s1"}));
    }

    // A session's finals list in the order of the audio they came from, even when a replaced
    // stream's recognizer stores its last finals after the new stream's first ones.
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
        QVERIFY(store.insert(
            record(QStringLiteral("s1"), QDateTime(QDate(2026, 3, 1), QTime(12, 0), Qt::UTC))));
        // Ten o'clock and a second before it: text order must not be fooled by the hour's width.
        const QDateTime base(QDate(2026, 3, 1), QTime(9, 59, 59), Qt::UTC);
        for (int ms : storedAtMs)
            QVERIFY(store.appendSegment(
                "s1", StoredSegment {QString::number(ms), base.addMSecs(ms), std::nullopt}));
        QStringList texts;
        for (const StoredSegment &segment : store.segments("s1"))
            texts.append(segment.text);
        QCOMPARE(texts, expected);
    }

    void folderModeIsTheOwnersChoice_data()
    {
        QTest::addColumn<bool>("exists");
        QTest::addColumn<int>("mode");
        QTest::newRow("made here: owner only") << false << 0700;
        QTest::newRow("given: left as it was") << true << 0755;
    }
    void folderModeIsTheOwnersChoice()
    {
        QFETCH(bool, exists);
        QFETCH(int, mode);
        QTemporaryDir parent;
        const QString path = parent.path() + QStringLiteral("/data");
        if (exists) {
            QVERIFY(QDir().mkdir(path));
            QCOMPARE(::chmod(qPrintable(path), 0755), 0);
        }
        ServerDatabase db;
        QString error;
        QVERIFY2(db.open(path, &error), qPrintable(error));
        struct stat info = {};
        QCOMPARE(::stat(qPrintable(path), &info), 0);
        QCOMPARE(int(info.st_mode & 0777), mode);
    }
};

VERNALO_TEST_MAIN(ServerStorageTest)
#include "test_server_storage.moc"
