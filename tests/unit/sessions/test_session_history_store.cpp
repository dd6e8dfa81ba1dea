#include "sessions/session_history_store.h"
#include "support/test_environment.h"
#include "wire/json_fields.h"

#include <linux/capability.h>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

using namespace vernalo;
using vernalo::test::TestEnvironment;

// Every folder flushed to disk by this process, with the files it held at that moment. The
// C library's fsync is wrapped here; the core is linked statically, so its calls land here.
static QStringList g_folderSyncs;
extern "C" int fsync(int fd)
{
    struct stat info;
    if (::fstat(fd, &info) == 0 && S_ISDIR(info.st_mode)) {
        const QString folder = QFile::symLinkTarget(QStringLiteral("/proc/self/fd/%1").arg(fd));
        g_folderSyncs << folder + u':' +
                QDir(folder).entryList(QDir::Files | QDir::Hidden).join(u',');
    }
    return static_cast<int>(::syscall(SYS_fsync, fd));
}

namespace {

SavedSession makeSession(const QString &id, double endedAt, int segmentCount = 2)
{
    SavedSession session {id,
                          fromReferenceSeconds(endedAt - 600),
                          fromReferenceSeconds(endedAt),
                          QStringLiteral("fi-FI"),
                          {},
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

QStringList entries(const QString &folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot,
                                  QDir::Name);
}

QString iso(const QDateTime &time)
{
    return time.toUTC().toString(Qt::ISODateWithMs);
}

QStringList ids(const QList<SavedSessionListItem> &items)
{
    QStringList result;
    for (const auto &item : items)
        result.append(item.id);
    return result;
}

// Root passes every permission check; while this lives the thread gives that power up, so a
// read-only folder refuses the test as it would refuse a user.
struct WithoutPermissionOverride
{
    __user_cap_header_struct header {_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct saved[2] {};
    WithoutPermissionOverride()
    {
        ::syscall(SYS_capget, &header, saved);
        __user_cap_data_struct reduced[2] = {saved[0], saved[1]};
        reduced[0].effective &= ~((1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH));
        ::syscall(SYS_capset, &header, reduced);
    }
    ~WithoutPermissionOverride() { ::syscall(SYS_capset, &header, saved); }
};

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

    // A file written by hand loads with the dates and texts the user sees, and is written back
    // byte for byte: absent versus empty speaker labels and millisecond times survive.
    void goldenFileLoadsAndIsWrittenBack()
    {
        const QString id = QStringLiteral("3F2504E0-4F89-41D3-9A0C-0305E82C3301");
        const QByteArray golden =
            readBytes(TestEnvironment::dataPath("sessions/saved_session.json"));
        const SessionHistoryStore store(m_folder);
        QVERIFY(writeBytes(store.filePath(id), golden));
        const auto session = store.load(id);
        QVERIFY(session);
        QStringList seen {session->id + u' ' + session->language + u' ' + session->sttModel,
                          iso(session->createdAt) + u' ' + iso(session->endedAt)};
        for (const TranscriptSegment &s : session->segments)
            seen << s.id.toString(QUuid::WithoutBraces) + u' ' + iso(s.timestamp) + u' ' +
                    s.speakerLabel.value_or(QStringLiteral("<none>")) + u'|' + s.text;
        QCOMPARE(
            seen,
            QStringList(
                {id + " fi-FI chirp_3", "2026-03-01T12:00:00.000Z 2026-03-01T13:15:30.250Z",
                 "6f9619ff-8b86-4011-b42d-00c04fc964ff 2026-03-01T12:03:07.000Z S1|Hyvää huomenta",
                 "a8098c1a-f86e-11da-bd1a-00112444be1e 2026-03-01T12:03:09.750Z <none>|Toinen "
                 "\"rivi\"\nja rivinvaihto",
                 "00000000-0000-4000-8000-000000000001 2026-03-01T12:03:10.001Z |"}));
        QVERIFY(QFile::remove(store.filePath(id)));
        QVERIFY(!store.save(*session));
        QCOMPARE(readBytes(store.filePath(id)), golden);
    }

    // Files written by hand (one end time in finer steps than a millisecond, as another writer
    // may store it): the dates the picker shows, newest end first, however the
    // meetings' starts are ordered.
    void handWrittenHistoryLists()
    {
        QVERIFY(QDir().mkpath(m_folder));
        const QString golden = TestEnvironment::dataPath(QStringLiteral("sessions/history"));
        for (const QString &name : QDir(golden).entryList(QDir::Files))
            QVERIFY(QFile::copy(golden + u'/' + name, m_folder + u'/' + name));
        const SessionHistoryStore store(m_folder);
        QStringList rows;
        for (const SavedSessionListItem &item : store.list())
            rows << item.id + u' ' + iso(item.endedAt) + u' ' + QString::number(item.segmentCount);
        QCOMPARE(
            rows,
            QStringList({"pitka 2026-03-01T15:00:00.000Z 2", "lyhyt 2026-03-01T14:00:00.250Z 1",
                         "vanha 2000-12-30T23:59:59.500Z 0"}));
        for (const auto &item : store.list())
            QCOMPARE(item, SavedSessionListItem::from(*store.load(item.id)));
    }

    void listing_data()
    {
        // Entries are "name:kind"; kinds: valid@<endedAt>, corrupt, text, otherId, empty, dir.
        QTest::addColumn<QStringList>("entries");
        QTest::addColumn<QStringList>("expected");
        // clang-format off
        QTest::newRow("two sessions, a text file, a corrupt file")
            << QStringList {"A.json:valid@794059200", "B.json:valid@794062800", "muistio.txt:text",
                            "C.json:corrupt"}
            << QStringList {"B", "A"};
        QTest::newRow("extension compared exactly") << QStringList {"A.json:valid@1", "B.JSON:valid@2", "C.Json:valid@3"} << QStringList {"A"};
        QTest::newRow("hidden files") << QStringList {".A.json:valid@2", "B.json:valid@1", ".json:valid@3"} << QStringList {"B"};
        QTest::newRow("undecodable contents") << QStringList {"B.json:empty", "C.json:valid@5", "D.json:otherId"} << QStringList {"C"};
        QTest::newRow("folder named like a session") << QStringList {"A.json:dir", "B.json:valid@1"} << QStringList {"B"};
        QTest::newRow("names that only look like sessions")
            << QStringList {"A.json.tmp:valid@1", "A.json~:valid@1", "json:valid@1",
                            "A.jsonx:valid@1"}
            << QStringList {};
        QTest::newRow("before 2001 and far ahead")
            << QStringList {"old.json:valid@-86400.5", "new.json:valid@4000000000",
                            "mid.json:valid@0"}
            << QStringList {"new", "mid", "old"};
        // clang-format on
    }
    void listing()
    {
        QFETCH(QStringList, entries);
        const SessionHistoryStore store(m_folder);
        for (const QString &entry : entries) {
            const QString name = entry.section(u':', 0, 0), kind = entry.section(u':', 1);
            const QString path = m_folder + u'/' + name, stem = name.section(u'.', 0, 0);
            QByteArray bytes;
            if (kind.startsWith(u"valid@"))
                bytes = makeSession(stem, kind.mid(6).toDouble()).encode();
            else if (kind == u"corrupt")
                bytes = makeSession(stem, 1).encode().chopped(40);
            else if (kind == u"text")
                bytes = "muistiinpano\n";
            else if (kind == u"otherId")
                bytes = makeSession(QStringLiteral("somebody-else"), 9).encode();
            else if (kind == u"dir")
                QVERIFY(QDir().mkpath(path + QStringLiteral("/inner")));
            if (kind != u"dir")
                QVERIFY(writeBytes(path, bytes));
        }
        const auto before = tree(m_root->path());

        const auto items = store.list();

        QTEST(ids(items), "expected");
        for (const auto &item : items)
            QCOMPARE(item, SavedSessionListItem::from(*store.load(item.id)));
        // Nothing listed is ever repaired or removed.
        QCOMPARE(tree(m_root->path()), before);
    }

    // Each save leaves one file, and the folder is flushed after the rename, when only that
    // file is in it.
    void savingTwiceKeepsOneFileWithTheSecondContent()
    {
        const SessionHistoryStore store(m_folder);
        SavedSession second = makeSession(QStringLiteral("sess-1"), 2000, 1);
        second.language = QStringLiteral("en-US");
        const QString synced = QFileInfo(m_folder).canonicalFilePath() + ":sess-1.json";
        g_folderSyncs.clear();
        QVERIFY(!store.save(makeSession(QStringLiteral("sess-1"), 1000, 3)));
        QCOMPARE(g_folderSyncs, QStringList {synced});
        QVERIFY(!store.save(second));
        QCOMPARE(g_folderSyncs, QStringList({synced, synced}));
        QCOMPARE(entries(m_folder), QStringList {"sess-1.json"});
        QCOMPARE(store.load(QStringLiteral("sess-1")), std::optional(second));
    }

    // A folder that takes no new file, or one that can never be made: the save fails, and an
    // old file stays whole, never overwritten in place where a crash would leave half of it.
    void saveFailures_data()
    {
        QTest::addColumn<bool>("readOnlyFolder"); // else the folder's parent is a file
        // clang-format off
        QTest::newRow("read-only folder") << true;
        QTest::newRow("folder cannot be made") << false;
        // clang-format on
    }
    void saveFailures()
    {
        QFETCH(bool, readOnlyFolder);
        const SessionHistoryStore store(m_folder);
        const QString path = store.filePath(QStringLiteral("kept"));
        const auto writable = QFileDevice::ReadOwner | QFileDevice::WriteOwner;
        if (readOnlyFolder) {
            QVERIFY(!store.save(makeSession(QStringLiteral("kept"), 1)));
            QVERIFY(
                QFile::setPermissions(m_folder, QFileDevice::ReadOwner | QFileDevice::ExeOwner));
        } else {
            QVERIFY(QDir(m_root->filePath(QStringLiteral("Vernalo-Mac"))).removeRecursively());
            QVERIFY(writeBytes(m_root->filePath(QStringLiteral("Vernalo-Mac")), "tiedosto"));
        }
        const QByteArray before = readBytes(path);
        std::optional<SessionStoreError> error;
        {
            const WithoutPermissionOverride guard;
            error = store.save(makeSession(QStringLiteral("kept"), 2));
        }
        QVERIFY(!readOnlyFolder ||
                QFile::setPermissions(m_folder, writable | QFileDevice::ExeOwner));
        QVERIFY(error);
        QCOMPARE(error->kind, SessionStoreError::Kind::WriteFailed);
        QCOMPARE(error->sessionId, QStringLiteral("kept"));
        QCOMPARE(readBytes(path), before);
    }

    // A folder removed since construction lists nothing, and the next save makes it again,
    // private to the user.
    void saveRecreatesAFolderRemovedSinceConstruction()
    {
        const SessionHistoryStore store(m_folder);
        QVERIFY(QDir(m_root->filePath(QStringLiteral("Vernalo-Mac"))).removeRecursively());
        QVERIFY(store.list().isEmpty());
        QVERIFY(!store.deleteAll());
        QVERIFY(!QFileInfo::exists(m_folder));
        QVERIFY(!store.save(makeSession(QStringLiteral("sess-2"), 10)));
        QVERIFY(store.load(QStringLiteral("sess-2")));
        QCOMPARE(QFileInfo(m_folder).permissions() & 0x0077, QFileDevice::Permissions());
    }

    void deleting_data()
    {
        QTest::addColumn<QString>("id");
        QTest::addColumn<bool>("fails");
        QTest::addColumn<QStringList>("remaining");
        // clang-format off
        QTest::newRow("existing") << "b" << false << QStringList {"a.json", "c.json", "notes.txt"};
        QTest::newRow("unknown") << "nobody" << false << QStringList {"a.json", "b.json", "c.json", "notes.txt"};
        QTest::newRow("corrupt file of that name") << "c" << false << QStringList {"a.json", "b.json", "notes.txt"};
        QTest::newRow("a folder in the way") << "blocked" << true << QStringList {"a.json", "b.json", "blocked.json", "c.json", "notes.txt"};
        // clang-format on
    }
    void deleting()
    {
        QFETCH(QString, id);
        QFETCH(bool, fails);
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
        QTEST(entries(m_folder), "remaining");
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
        QCOMPARE(entries(m_folder),
                 QStringList({".hidden.json", "UPPER.JSON", "folder.json", "notes.txt"}));
    }

    void acceptedIds_data()
    {
        QTest::addColumn<QString>("id");
        // clang-format off
        QTest::newRow("upper-case uuid") << "3F2504E0-4F89-41D3-9A0C-0305E82C3301";
        QTest::newRow("lower-case uuid") << "3f2504e0-4f89-41d3-9a0c-0305e82c3301";
        QTest::newRow("prefixed") << "sess_01HZX3K7QW2E";
        QTest::newRow("dotted") << "2026-03-01.v2";
        QTest::newRow("longest") << QString(128, u'a');
        // clang-format on
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
        for (const char *id :
             {"../outside", "../../outside", "..", ".", "sub/inner", "..\\outside", "/tmp/outside",
              ".hidden", "abc\ndef", "", "a b", "-rf", "a..b", "istunto-ä"})
            QTest::newRow(*id ? id : "empty") << QString::fromUtf8(id);
        // clang-format off
        QTest::newRow("NUL") << QStringLiteral("abc") + QChar(0) + QStringLiteral("/../x");
        QTest::newRow("too long") << QString(129, u'a');
        // clang-format on
    }
    void unsafeIds()
    {
        QFETCH(QString, id);
        const SessionHistoryStore store(m_folder);
        QVERIFY(!store.save(makeSession(QStringLiteral("kept"), 1)));
        const auto before = tree(m_root->path());

        const auto refused = [](const std::optional<SessionStoreError> &error) {
            return error && error->kind == SessionStoreError::Kind::UnsafeId;
        };
        QVERIFY(refused(store.save(makeSession(id, 3))));
        QVERIFY(!store.load(id));
        QVERIFY(refused(store.deleteSession(id)));
        QCOMPARE(tree(m_root->path()), before);
        QCOMPARE(ids(store.list()), QStringList {"kept"});
    }

private:
    std::unique_ptr<QTemporaryDir> m_root;
    QString m_folder;
};

VERNALO_TEST_MAIN(SessionHistoryStoreTest)
#include "test_session_history_store.moc"
