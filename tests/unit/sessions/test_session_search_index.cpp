#include "sessions/search_rank.h"
#include "sessions/session_history_store.h"
#include "sessions/session_search_index.h"
#include "sessions/session_search_model.h"
#include "support/fake_clock.h"
#include "support/test_environment.h"
#include "wire/json_fields.h"

#include <memory>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlDriver>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QtTest>

using namespace vernalo;
using vernalo::test::TestEnvironment;

namespace {

SavedSession session(const QString &id, double endedAt, const QStringList &texts)
{
    SavedSession s {id, fromReferenceSeconds(endedAt - 600), fromReferenceSeconds(endedAt), {}, {},
                    {}};
    for (qsizetype i = 0; i < texts.size(); ++i)
        s.segments.append({QUuid::createUuid(), texts.at(i),
                           fromReferenceSeconds(endedAt - 500 + 7.5 * double(i)), std::nullopt});
    return s;
}

QStringList hitIds(const QList<SessionSearchHit> &hits)
{
    QStringList ids;
    for (const auto &hit : hits)
        ids.append(hit.sessionId + u'#' + QString::number(hit.segmentIndex));
    return ids;
}

bool writeBytes(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// A history folder with its index beside it, reopened as the next start of the app would.
struct History
{
    QTemporaryDir root;
    SessionHistoryStore store {root.filePath(QStringLiteral("Vernalo-Mac/sessions"))};
    std::unique_ptr<SessionSearchIndex> index;
    SearchIndexSyncReport report;

    void start()
    {
        index.reset(); // the old connection closes first, as in a process that ended
        index =
            std::make_unique<SessionSearchIndex>(SessionSearchIndex::pathBeside(store.directory()));
        store.attachSearchIndex(index.get());
        report = index->synchronize(store);
    }
};

} // namespace

class SessionSearchIndexTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    // What the files say is what the index finds, whatever happened to the files or the index.
    void indexFollowsTheFiles_data()
    {
        QTest::addColumn<QString>("eventAndQuery");
        QTest::addColumn<QStringList>("expected");
        QTest::addColumn<bool>("rebuilt");
        // clang-format off
        QTest::newRow("saved") << ":paatos" << QStringList {"a#1"} << false;
        QTest::newRow("saved again") << "resave:paatos" << QStringList {"a#0"} << false;
        QTest::newRow("deleted") << "delete:paatos" << QStringList {} << false;
        QTest::newRow("all deleted") << "deleteAll:tyo" << QStringList {} << false;
        QTest::newRow("edited by hand") << "edit:lounas" << QStringList {"a#0"} << false;
        QTest::newRow("edit removes old words") << "edit:paatos" << QStringList {} << false;
        QTest::newRow("removed by hand") << "remove:paatos" << QStringList {} << false;
        QTest::newRow("added by hand") << "add:lounas" << QStringList {"c#0"} << false;
        QTest::newRow("made undecodable") << "garble:paatos" << QStringList {} << false;
        QTest::newRow("update missed") << "missed:lounas" << QStringList {"a#0"} << false;
        QTest::newRow("missed update's old words") << "missed:paatos" << QStringList {} << false;
        QTest::newRow("index corrupt") << "corrupt:paatos" << QStringList {"a#1"} << true;
        QTest::newRow("index removed") << "unlink:tyo" << QStringList {"b#0"} << true;
        QTest::newRow("index of another version") << "version:paatos" << QStringList {"a#1"} << true;
        // clang-format on
    }
    void indexFollowsTheFiles()
    {
        QFETCH(QString, eventAndQuery);
        const QString event = eventAndQuery.section(u':', 0, 0);
        const QString query = eventAndQuery.section(u':', 1);
        QFETCH(bool, rebuilt);
        History h;
        h.start();
        QVERIFY(h.index->isUsable());
        QVERIFY(!h.store.save(session("a", 800000000, {"Alku", "Päätös tehtiin."})));
        QVERIFY(!h.store.save(session("b", 800003600, {"Työryhmä kokoontuu"})));
        const QString pathA = h.store.filePath(QStringLiteral("a"));
        const QByteArray lunch = session("a", 800000000, {"Lounas"}).encode();

        if (event == u"resave")
            QVERIFY(!h.store.save(session("a", 800000000, {"Päätös lykättiin"})));
        if (event == u"delete")
            QVERIFY(!h.store.deleteSession(QStringLiteral("a")));
        if (event == u"deleteAll")
            QVERIFY(!h.store.deleteAll());
        if (event == u"missed") { // the app died between writing the file and the index
            h.store.attachSearchIndex(nullptr);
            QVERIFY(!h.store.save(session("a", 800000000, {"Lounas"})));
        }
        h.index.reset();
        if (event == u"edit")
            QVERIFY(writeBytes(pathA, lunch));
        if (event == u"remove")
            QVERIFY(QFile::remove(pathA));
        if (event == u"add")
            QVERIFY(writeBytes(h.store.filePath(QStringLiteral("c")),
                               session("c", 1, {"Lounas"}).encode()));
        if (event == u"garble")
            QVERIFY(writeBytes(pathA, "{\"id\": \"a\", \"segments\": ["));
        const QString indexPath = SessionSearchIndex::pathBeside(h.store.directory());
        if (event == u"corrupt") {
            QFile file(indexPath);
            QVERIFY(file.open(QIODevice::ReadWrite) && file.seek(0));
            file.write(QByteArray(4096, '\x5a'));
        }
        if (event == u"unlink")
            QVERIFY(QFile::remove(indexPath));
        if (event == u"version") { // the schema number sits at byte 60 of the database header
            QFile file(indexPath);
            QVERIFY(file.open(QIODevice::ReadWrite) && file.seek(60));
            QCOMPARE(file.write(QByteArray::fromHex("00000063")), 4);
        }

        h.start();
        QCOMPARE(h.report.rebuilt, rebuilt);
        QTEST(hitIds(h.index->search(query)), "expected");
    }

    void finnishMatchingRankingAndSnippets_data()
    {
        QTest::addColumn<QString>("query");
        QTest::addColumn<QStringList>("expected");
        QTest::addColumn<QString>("firstSnippet");
        // clang-format off
        QTest::newRow("without diacritics") << "paatos" << QStringList {"a#1", "b#0"} << "[Päätös] tehtiin, [päätös] pitää.";
        QTest::newRow("capitals and prefix") << "TYÖ" << QStringList {"c#0"} << "[Työpäivä] alkaa";
        QTest::newRow("every word must match") << "pää tehtiin" << QStringList {"a#1", "b#0"} << "[Päätös] [tehtiin], [päätös] pitää.";
        QTest::newRow("query syntax is only text") << "(päätös) -pitää*" << QStringList {"a#1"} << "[Päätös] tehtiin, [päätös] [pitää].";
        QTest::newRow("stray quote") << "päätös\"" << QStringList {"a#1", "b#0"} << "[Päätös] tehtiin, [päätös] pitää.";
        QTest::newRow("nothing to look for") << " -- " << QStringList {} << "";
        // clang-format on
    }
    void finnishMatchingRankingAndSnippets()
    {
        QFETCH(QString, query);
        History h;
        h.start();
        QVERIFY(!h.store.save(session("a", 800000000, {"Muuta", "Päätös tehtiin, päätös pitää."})));
        QVERIFY(!h.store.save(session(
            "b", 800003600,
            {"Tehtiin myös yksi päätös, ja sen jälkeen puhuttiin pitkään aivan muista asioista"})));
        QVERIFY(!h.store.save(session("c", 800007200, {"Työpäivä alkaa", "Ei mitään"})));
        const auto hits = h.index->search(query);
        QTEST(hitIds(hits), "expected");
        if (hits.isEmpty())
            return;
        QTEST(hits.first().markedSnippet(QStringLiteral("["), QStringLiteral("]"), false),
              "firstSnippet");
        const SavedSession stored = *h.store.load(hits.first().sessionId);
        QCOMPARE(hits.first().segmentTime, stored.segments.at(hits.first().segmentIndex).timestamp);
        QCOMPARE(hits.first().endedAt, stored.endedAt);
    }

    // The own rank scores a small history exactly as FTS5's bm25 does (its cap is not reached).
    void rankAgreesWithBm25()
    {
        History h;
        h.start();
        QVERIFY(!h.store.save(session("a", 800000000, {"Päätös tehtiin, päätös pitää.", "Ja ja"})));
        QVERIFY(!h.store.save(
            session("b", 800003600,
                    {"Tehtiin päätös, ja sitten puhuttiin pitkään muista asioista ja ajasta"})));
        QVERIFY(!h.store.save(session("c", 800007200, {"Päätöksiä ei tehty", "ja niin"})));
        QSqlDatabase db =
            QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("peek"));
        db.setDatabaseName(h.index->path());
        QVERIFY(db.open());
        QVERIFY(
            registerSearchRank(*static_cast<sqlite3 *const *>(db.driver()->handle().constData())));
        int rows = 0;
        for (const char *match :
             {"\"paatos\"*", "\"ja\" \"tehtiin\"", "\"ja\"*", "\"paa\"* \"ja\""}) {
            QSqlQuery query(db);
            QVERIFY(
                query.prepare(QStringLiteral("SELECT vernalo_rank(segments), bm25(segments) FROM "
                                             "segments WHERE segments MATCH ?")));
            query.addBindValue(QString::fromUtf8(match));
            QVERIFY(query.exec());
            for (; query.next(); ++rows)
                QVERIFY2(qAbs(query.value(0).toDouble() - query.value(1).toDouble()) < 1e-9, match);
        }
        QCOMPARE(rows, 7);
        db.close();
        db = {};
        QSqlDatabase::removeDatabase(QStringLiteral("peek"));
    }

    // Typing searches once the typing pauses; Enter searches at once; "Ei osumia." only after a
    // search for words found nothing.
    void modelSearchesWhenTypingPauses()
    {
        using namespace std::chrono_literals;
        History h;
        h.start();
        QVERIFY(!h.store.save(session("a", 800000000, {"Alku", "Päätös <tehtiin>."})));
        test::FakeClock clock;
        SessionSearchModel model(h.index.get(), &clock);
        const auto wait = SessionSearchModel::kDebounce - 1ms;
        model.setQuery(QStringLiteral("pää"));
        clock.advance(wait);
        model.setQuery(QStringLiteral("pääto"));
        clock.advance(wait);
        QCOMPARE(model.count(), 0);
        clock.advance(1ms);
        QCOMPARE(model.count(), 1);
        const QModelIndex row = model.index(0);
        QCOMPARE(model.data(row, SessionSearchModel::SnippetHtmlRole).toString(),
                 QStringLiteral("<b>Päätös</b> &lt;tehtiin&gt;."));
        QCOMPARE(model.data(row, SessionSearchModel::SegmentIndexRole).toInt(), 1);
        QVERIFY(!model.noResults());
        model.setQuery(QStringLiteral("lounas"));
        model.searchNow();
        QVERIFY(model.noResults());
        model.setQuery(QStringLiteral(" - "));
        model.searchNow();
        QCOMPARE(model.count(), 0);
        QVERIFY(!model.noResults());
    }
};

VERNALO_TEST_MAIN(SessionSearchIndexTest)
#include "test_session_search_index.moc"
