#include "sessions/session_history_store.h"
#include "support/test_environment.h"
#include "wire/json_fields.h"

#include <dirent.h>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

using namespace vernalo;
using namespace Qt::StringLiterals;
using vernalo::test::TestEnvironment;

namespace {

SavedSession makeSession(const QString &id, double endedAt, int segmentCount = 2)
{
    SavedSession session {id,
                          fromReferenceSeconds(endedAt - 600),
                          fromReferenceSeconds(endedAt),
                          QStringLiteral("fi-FI"),
                          QStringLiteral("chirp_3"),
                          {}};
    for (int i = 0; i < segmentCount; ++i) {
        const auto speaker = i % 2 ? std::nullopt : std::optional(QStringLiteral("S%1").arg(i));
        session.segments.append({QUuid::createUuid(), QStringLiteral("Rivi %1 \"lainaus\"").arg(i),
                                 fromReferenceSeconds(endedAt - 500 + i * 1.5), speaker});
    }
    return session;
}

bool writeBytes(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

QByteArray readBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Every file below root with its bytes, directories as empty markers.
QMap<QString, QByteArray> tree(const QString &root)
{
    QMap<QString, QByteArray> entries;
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        entries.insert(path, it.fileInfo().isDir() ? QByteArray("<dir>") : readBytes(path));
    }
    return entries;
}

// Sets (or with "-" removes) the value at a path like "segments/1/id" to the JSON text given.
QJsonValue edited(QJsonValue node, QStringList path, const QString &json)
{
    if (path.isEmpty()) {
        return QJsonDocument::fromJson("[" + json.toUtf8() + "]").array().at(0);
    }
    const QString step = path.takeFirst();
    if (node.isArray()) {
        QJsonArray array = node.toArray();
        array.replace(step.toInt(), edited(array.at(step.toInt()), path, json));
        return array;
    }
    QJsonObject object = node.toObject();
    if (path.isEmpty() && json == u"-")
        object.remove(step);
    else
        object.insert(step, edited(object.value(step), path, json));
    return object;
}

QStringList ids(const QList<SavedSessionListItem> &items)
{
    QStringList result;
    for (const auto &item : items)
        result.append(item.id);
    return result;
}

} // namespace

class SessionHistoryStoreTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init()
    {
        m_root = std::make_unique<QTemporaryDir>();
        m_folder = m_root->filePath(QStringLiteral("Vernalo-Mac/sessions"));
    }

    void fileMatchesTheGoldenHistoryFormat()
    {
        SavedSession session {QStringLiteral("3F2504E0-4F89-41D3-9A0C-0305E82C3301"),
                              fromReferenceSeconds(794059200),
                              fromReferenceSeconds(794063730.25),
                              QStringLiteral("fi-FI"),
                              QStringLiteral("chirp_3"),
                              {{QUuid(QStringLiteral("6f9619ff-8b86-4011-b42d-00c04fc964ff")),
                                QStringLiteral("Hyvää huomenta"), fromReferenceSeconds(794059387),
                                QStringLiteral("S1")},
                               {QUuid(QStringLiteral("a8098c1a-f86e-11da-bd1a-00112444be1e")),
                                QStringLiteral("Toinen \"rivi\"\nja rivinvaihto"),
                                fromReferenceSeconds(794059389.75), std::nullopt},
                               {QUuid(QStringLiteral("00000000-0000-4000-8000-000000000001")),
                                QString(), fromReferenceSeconds(794059390.001), QString()}}};
        const SessionHistoryStore store(m_folder);
        QVERIFY(!store.save(session));
        const QString path = store.filePath(QStringLiteral("3F2504E0-4F89-41D3-9A0C-0305E82C3301"));
        QCOMPARE(readBytes(path),
                 readBytes(TestEnvironment::dataPath("sessions/saved_session.json")));
        // And back: absent versus empty speaker labels and millisecond times survive.
        QCOMPARE(store.load(session.id), std::optional(session));
    }

    void listing_data()
    {
        // Entries are "name:kind"; kinds: valid@<endedAt>, corrupt, text, wrongShape,
        // missingField, otherId, empty, dir. Expected: the listed IDs in order.
        QTest::addColumn<QStringList>("entries");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("two sessions, a text file, a corrupt file")
            << QStringList {"A.json:valid@794059200", "B.json:valid@794062800", "muistio.txt:text",
                            "C.json:corrupt"}
            << QStringList {"B", "A"};
        QTest::newRow("extension compared exactly")
            << QStringList {"A.json:valid@1", "B.JSON:valid@2", "C.Json:valid@3"}
            << QStringList {"A"};
        QTest::newRow("hidden files")
            << QStringList {".A.json:valid@2", "B.json:valid@1", ".json:valid@3"}
            << QStringList {"B"};
        QTest::newRow("undecodable contents")
            << QStringList {"A.json:wrongShape", "B.json:empty", "C.json:valid@5", "D.json:otherId",
                            "E.json:missingField"}
            << QStringList {"C"};
        QTest::newRow("folder named like a session")
            << QStringList {"A.json:dir", "B.json:valid@1"} << QStringList {"B"};
        QTest::newRow("names that only look like sessions")
            << QStringList {"A.json.tmp:valid@1", "A.json~:valid@1", "json:valid@1",
                            "A.jsonx:valid@1"}
            << QStringList {};
        QTest::newRow("before 2001 and far ahead")
            << QStringList {"old.json:valid@-86400.5", "new.json:valid@4000000000",
                            "mid.json:valid@0"}
            << QStringList {"new", "mid", "old"};
        QTest::newRow("empty folder") << QStringList {} << QStringList {};
    }
    void listing()
    {
        QFETCH(QStringList, entries);
        QFETCH(QStringList, expected);
        const SessionHistoryStore store(m_folder);
        for (const QString &entry : entries) {
            const QString name = entry.section(u':', 0, 0);
            const QString kind = entry.section(u':', 1);
            const QString path = m_folder + u'/' + name;
            const QString stem = name.section(u'.', 0, 0);
            QByteArray bytes;
            if (kind.startsWith(u"valid@")) {
                bytes = makeSession(stem, kind.mid(6).toDouble()).encode();
            } else if (kind == u"corrupt") {
                bytes = makeSession(stem, 1).encode().chopped(40);
            } else if (kind == u"text") {
                bytes = "muistiinpano\n";
            } else if (kind == u"wrongShape") {
                // Well-formed JSON, but one segment's time is text instead of a number.
                QJsonObject object = makeSession(stem, 1).toJson();
                QJsonArray segments = object.value(u"segments").toArray();
                QJsonObject first = segments.at(0).toObject();
                first.insert(u"timestamp"_s, u"2026-03-01T12:00:00Z"_s);
                segments.replace(0, first);
                object.insert(u"segments"_s, segments);
                bytes = QJsonDocument(object).toJson();
            } else if (kind == u"missingField") {
                QJsonObject object = makeSession(stem, 1).toJson();
                object.remove(u"sttModel"_s);
                bytes = QJsonDocument(object).toJson();
            } else if (kind == u"otherId") {
                bytes = makeSession(QStringLiteral("somebody-else"), 9).encode();
            } else if (kind == u"dir") {
                QVERIFY(QDir().mkpath(path + QStringLiteral("/inner")));
                continue;
            }
            QVERIFY(writeBytes(path, bytes));
        }
        const auto before = tree(m_root->path());

        const auto items = store.list();

        QCOMPARE(ids(items), expected);
        for (const auto &item : items) {
            const auto stored = store.load(item.id);
            QVERIFY(stored);
            QCOMPARE(item, SavedSessionListItem::from(*stored));
        }
        // Nothing listed is ever repaired or removed.
        QCOMPARE(tree(m_root->path()), before);
    }

    void listRowsFollowTheFullDecodingRules_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("json");
        QTest::addColumn<bool>("decodes");
        QTest::newRow("untouched") << "language"
                                   << "\"fi-FI\"" << true;
        QTest::newRow("segment id missing") << "segments/1/id"
                                            << "-" << false;
        QTest::newRow("segment id null") << "segments/1/id"
                                         << "null" << false;
        QTest::newRow("segment id not a UUID") << "segments/1/id"
                                               << "\"S1\"" << false;
        QTest::newRow("segment id in braces")
            << "segments/1/id"
            << "\"{6F9619FF-8B86-4011-B42D-00C04FC964FF}\"" << false;
        QTest::newRow("segment id lower case")
            << "segments/1/id"
            << "\"6f9619ff-8b86-4011-b42d-00c04fc964ff\"" << true;
        QTest::newRow("text missing") << "segments/0/text"
                                      << "-" << false;
        QTest::newRow("text null") << "segments/0/text"
                                   << "null" << false;
        QTest::newRow("text a number") << "segments/0/text"
                                       << "5" << false;
        QTest::newRow("timestamp missing") << "segments/1/timestamp"
                                           << "-" << false;
        QTest::newRow("timestamp as text") << "segments/1/timestamp"
                                           << "\"794059387\"" << false;
        QTest::newRow("timestamp whole") << "segments/1/timestamp"
                                         << "794059387" << true;
        QTest::newRow("speaker null") << "segments/0/speakerLabel"
                                      << "null" << true;
        QTest::newRow("speaker a number") << "segments/0/speakerLabel"
                                          << "1" << false;
        QTest::newRow("unknown key") << "segments/0/confidence"
                                     << "0.9" << true;
        QTest::newRow("segment not an object") << "segments/1"
                                               << "\"rivi\"" << false;
        QTest::newRow("segments an object") << "segments"
                                            << "{}" << false;
        QTest::newRow("no segments") << "segments"
                                     << "[]" << true;
        QTest::newRow("endedAt as text") << "endedAt"
                                         << "\"2026-03-01T12:00:00Z\"" << false;
        QTest::newRow("createdAt missing") << "createdAt"
                                           << "-" << false;
        QTest::newRow("language null") << "language"
                                       << "null" << false;
        QTest::newRow("model a number") << "sttModel"
                                        << "3" << false;
    }
    void listRowsFollowTheFullDecodingRules()
    {
        QFETCH(QString, path);
        QFETCH(QString, json);
        QFETCH(bool, decodes);
        const QJsonValue document =
            edited(makeSession(QStringLiteral("s"), 100, 3).toJson(), path.split(u'/'), json);
        const QByteArray bytes = QJsonDocument(document.toObject()).toJson();
        const auto full = SavedSession::decode(bytes);
        const auto row = SavedSessionListItem::decode(bytes);
        QCOMPARE(full.has_value(), decodes);
        QCOMPARE(row.has_value(), decodes);
        if (decodes)
            QCOMPARE(*row, SavedSessionListItem::from(*full));
    }

    void missingFolderListsNothing()
    {
        const SessionHistoryStore store(m_folder);
        QVERIFY(QDir(m_folder).removeRecursively());
        QVERIFY(store.list().isEmpty());
        QVERIFY(!store.deleteAll());
    }

    void equalEndTimesKeepDirectoryOrder()
    {
        // Enough sessions that an unstable sort would visibly reorder the ties.
        const SessionHistoryStore store(m_folder);
        QHash<QString, int> group;
        for (int i = 0; i < 60; ++i) {
            const QString id = QStringLiteral("s%1").arg((i * 37) % 101);
            group.insert(id, i % 3);
            QVERIFY(!store.save(makeSession(id, 800000000 + 60 * group.value(id), 0)));
        }

        // The order the file system itself hands out, read without Qt.
        QStringList rawOrder;
        DIR *dir = ::opendir(QFile::encodeName(m_folder).constData());
        QVERIFY(dir);
        while (dirent *entry = ::readdir(dir)) {
            const QString name = QFile::decodeName(entry->d_name);
            if (name.endsWith(u".json"))
                rawOrder.append(name.chopped(5));
        }
        ::closedir(dir);
        QStringList expected;
        for (int g = 2; g >= 0; --g) {
            for (const QString &id : rawOrder) {
                if (group.value(id) == g)
                    expected.append(id);
            }
        }

        QCOMPARE(ids(store.list()), expected);
    }

    void savingTwiceKeepsOneFileWithTheSecondContent()
    {
        const SessionHistoryStore store(m_folder);
        const SavedSession first = makeSession(QStringLiteral("sess-1"), 1000, 3);
        SavedSession second = makeSession(QStringLiteral("sess-1"), 2000, 1);
        second.language = QStringLiteral("en-US");
        QVERIFY(!store.save(first));
        QVERIFY(!store.save(second));
        QCOMPARE(QDir(m_folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                 QStringList {"sess-1.json"});
        QCOMPARE(store.load(QStringLiteral("sess-1")), std::optional(second));
        QCOMPARE(store.list().size(), 1);
    }

    void saveRecreatesAFolderRemovedSinceConstruction()
    {
        const SessionHistoryStore store(m_folder);
        QVERIFY(QDir(m_root->filePath(QStringLiteral("Vernalo-Mac"))).removeRecursively());
        QVERIFY(!store.save(makeSession(QStringLiteral("sess-2"), 10)));
        QVERIFY(store.load(QStringLiteral("sess-2")));
        QCOMPARE(QFileInfo(m_folder).permissions() & 0x0077, QFileDevice::Permissions());
    }

    void saveFailureIsReported()
    {
        // The history folder's parent is a file, so the folder can never be made.
        QVERIFY(writeBytes(m_root->filePath(QStringLiteral("Vernalo-Mac")), "tiedosto"));
        const SessionHistoryStore store(m_folder);
        const auto error = store.save(makeSession(QStringLiteral("sess-3"), 10));
        QVERIFY(error);
        QCOMPARE(error->kind, SessionStoreError::Kind::WriteFailed);
        QCOMPARE(error->sessionId, QStringLiteral("sess-3"));
        QVERIFY(store.list().isEmpty());
    }

    void deleting_data()
    {
        QTest::addColumn<QString>("id");
        QTest::addColumn<bool>("fails");
        QTest::addColumn<QStringList>("remaining");
        QTest::newRow("existing") << "b" << false << QStringList {"a.json", "c.json", "notes.txt"};
        QTest::newRow("unknown") << "nobody" << false
                                 << QStringList {"a.json", "b.json", "c.json", "notes.txt"};
        QTest::newRow("corrupt file of that name")
            << "c" << false << QStringList {"a.json", "b.json", "notes.txt"};
        QTest::newRow("a folder in the way")
            << "blocked" << true
            << QStringList {"a.json", "b.json", "blocked.json", "c.json", "notes.txt"};
    }
    void deleting()
    {
        QFETCH(QString, id);
        QFETCH(bool, fails);
        QFETCH(QStringList, remaining);
        const SessionHistoryStore store(m_folder);
        QVERIFY(!store.save(makeSession(QStringLiteral("a"), 1)));
        QVERIFY(!store.save(makeSession(QStringLiteral("b"), 2)));
        QVERIFY(writeBytes(m_folder + QStringLiteral("/c.json"), "{"));
        QVERIFY(writeBytes(m_folder + QStringLiteral("/notes.txt"), "x"));
        if (fails)
            QVERIFY(QDir().mkpath(m_folder + u'/' + id + QStringLiteral(".json/inner")));

        const auto error = store.deleteSession(id);

        QCOMPARE(error.has_value(), fails);
        if (error)
            QCOMPARE(error->kind, SessionStoreError::Kind::RemoveFailed);
        QCOMPARE(QDir(m_folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot,
                                          QDir::Name),
                 remaining);
    }

    void deleteAllRemovesOnlySessionFiles()
    {
        const SessionHistoryStore store(m_folder);
        for (const char *id : {"a", "b", "c"})
            QVERIFY(!store.save(makeSession(QString::fromLatin1(id), 1)));
        for (const char *name : {"broken.json", "notes.txt", "UPPER.JSON", ".hidden.json"})
            QVERIFY(writeBytes(m_folder + u'/' + QLatin1String(name), "{"));
        QVERIFY(QDir().mkpath(m_folder + QStringLiteral("/folder.json")));

        QVERIFY(!store.deleteAll());

        QCOMPARE(QDir(m_folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot,
                                          QDir::Name),
                 QStringList({".hidden.json", "UPPER.JSON", "folder.json", "notes.txt"}));
        QVERIFY(store.list().isEmpty());
    }

    void acceptedIds_data()
    {
        QTest::addColumn<QString>("id");
        QTest::newRow("upper-case uuid") << "3F2504E0-4F89-41D3-9A0C-0305E82C3301";
        QTest::newRow("lower-case uuid") << "3f2504e0-4f89-41d3-9a0c-0305e82c3301";
        QTest::newRow("prefixed") << "sess_01HZX3K7QW2E";
        QTest::newRow("dotted") << "2026-03-01.v2";
        QTest::newRow("longest") << QString(128, u'a');
    }
    void acceptedIds()
    {
        QFETCH(QString, id);
        const SessionHistoryStore store(m_folder);
        const SavedSession session = makeSession(id, 5);
        QVERIFY(!store.save(session));
        QCOMPARE(QDir(m_folder).entryList(QDir::Files), QStringList {id + QStringLiteral(".json")});
        QCOMPARE(store.load(id), std::optional(session));
        QCOMPARE(ids(store.list()), QStringList {id});
        QVERIFY(!store.deleteSession(id));
        QVERIFY(QDir(m_folder).isEmpty());
    }

    void unsafeIds_data()
    {
        QTest::addColumn<QString>("id");
        QTest::newRow("parent folder") << "../outside";
        QTest::newRow("two levels up") << "../../outside";
        QTest::newRow("dot dot") << "..";
        QTest::newRow("dot") << ".";
        QTest::newRow("sub folder") << "sub/inner";
        QTest::newRow("back slash") << "..\\outside";
        QTest::newRow("absolute") << "/tmp/outside";
        QTest::newRow("leading dot") << ".hidden";
        QTest::newRow("NUL") << QStringLiteral("abc") + QChar(0) + QStringLiteral("/../x");
        QTest::newRow("line break") << "abc\ndef";
        QTest::newRow("empty") << "";
        QTest::newRow("space") << "a b";
        QTest::newRow("option-like") << "-rf";
        QTest::newRow("dots inside") << "a..b";
        QTest::newRow("non-ASCII") << "istunto-ä";
        QTest::newRow("too long") << QString(129, u'a');
    }
    void unsafeIds()
    {
        QFETCH(QString, id);
        const SessionHistoryStore store(m_folder);
        QVERIFY(!store.save(makeSession(QStringLiteral("kept"), 1)));
        // A valid session where the unsafe ID would lead, to prove it is neither read nor removed.
        const QString lure = QDir::cleanPath(m_folder + u'/' + id + QStringLiteral(".json"));
        if (!id.isEmpty() && !id.contains(QChar(0)) && lure.startsWith(m_root->path()) &&
            !lure.startsWith(m_folder + QStringLiteral("/kept"))) {
            QVERIFY(QDir().mkpath(QFileInfo(lure).absolutePath()));
            QVERIFY(writeBytes(lure, makeSession(QStringLiteral("lure"), 2).encode()));
        }
        const auto before = tree(m_root->path());

        const auto saveError = store.save(makeSession(id, 3));
        QVERIFY(saveError);
        QCOMPARE(saveError->kind, SessionStoreError::Kind::UnsafeId);
        QVERIFY(!saveError->description().isEmpty());
        QVERIFY(!store.load(id));
        const auto deleteError = store.deleteSession(id);
        QVERIFY(deleteError);
        QCOMPARE(deleteError->kind, SessionStoreError::Kind::UnsafeId);

        QCOMPARE(tree(m_root->path()), before);
        QCOMPARE(ids(store.list()), QStringList {"kept"});
    }

    void defaultFolderIsSharedByEveryStore()
    {
        const QString appData = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
        QVERIFY(appData.startsWith(TestEnvironment::root()));
        const SessionHistoryStore first;
        QVERIFY(first.directory().startsWith(appData));
        QVERIFY(QFileInfo(first.directory()).isDir());
        QVERIFY(!first.save(makeSession(QStringLiteral("shared"), 7)));
        const SessionHistoryStore second;
        QCOMPARE(ids(second.list()), QStringList {"shared"});
        QVERIFY(!second.deleteAll());
    }

private:
    std::unique_ptr<QTemporaryDir> m_root;
    QString m_folder;
};

VERNALO_TEST_MAIN(SessionHistoryStoreTest)
#include "test_session_history_store.moc"
