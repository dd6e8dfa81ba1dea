// Hostile input on disk: history files and the stored configuration. Each is refused by its
// decoder, and nothing the user stored is lost because of it: the good sessions beside a bad
// file still list and load, the bad file itself is left exactly as it was, and a bad
// configuration gives the defaults without stopping the next save.

#include "foundation/secure_settings.h"
#include "foundation/stt_configuration.h"
#include "hostile_corpus.h"
#include "sessions/session_history_store.h"
#include "support/test_environment.h"
#include "wire/json_fields.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QRandomGenerator>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimeZone>
#include <QtTest>

using namespace vernalo;
using namespace vernalo::test;

namespace {

const QDateTime kEnded(QDate(2026, 3, 1), QTime(10, 30), QTimeZone::utc());

SavedSession meeting(const QString &id, const QDateTime &endedAt, int segments = 3)
{
    SavedSession session {
        id, endedAt.addSecs(-1800), endedAt, QStringLiteral("fi-FI"), QStringLiteral("chirp_3"),
        {}};
    for (int i = 0; i < segments; ++i)
        session.segments.append({QUuid::createUuid(), QStringLiteral("Puheenvuoro %1").arg(i),
                                 endedAt.addSecs(-1700 + i * 7).addMSecs(250),
                                 i % 2 ? std::optional(QStringLiteral("S2")) : std::nullopt});
    return session;
}

QByteArray readBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeBytes(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

} // namespace

class HostileStorageTest : public QObject
{
    Q_OBJECT
private:
    QTemporaryDir m_dir;
    int m_counter = 0;

    QString freshPath(const QString &name)
    {
        return m_dir.filePath(QStringLiteral("%1-%2").arg(++m_counter).arg(name));
    }

private Q_SLOTS:
    void initTestCase() { QVERIFY(m_dir.isValid()); }

    // A bad file is refused by the decoders, and sits in the history folder among good ones
    // through a whole working day: listing, loading, saving and deleting the others never lose
    // them and never touch it.
    void historyKeepsEverythingBesideABadFile_data()
    {
        QTest::addColumn<QString>("stem");
        QTest::addColumn<QByteArray>("bytes");
        for (const auto &input : hostileFiles(QStringLiteral("history-files")))
            QTest::newRow(qPrintable(input.name))
                << QFileInfo(input.name).completeBaseName() << input.bytes;

        // clang-format off
        QTest::newRow("generated: text that never ends") << "unterminated" << unterminatedString("{\"id\":\"unterminated\",\"segments\":[{\"text\":", 8 << 20);
        QTest::newRow("generated: segments nested 200 000 deep") << "deep" << QByteArray("{\"id\":\"deep\",\"segments\":" + deepNesting(200000) + "}");
        // clang-format on
    }
    void historyKeepsEverythingBesideABadFile()
    {
        QFETCH(QString, stem);
        QFETCH(QByteArray, bytes);
        QString error;
        QVERIFY(!SavedSession::decode(bytes, &error));
        QVERIFY(!error.isEmpty());
        QVERIFY(!SavedSessionListItem::decode(bytes));

        const QString folder = freshPath(QStringLiteral("sessions"));
        SessionHistoryStore store(folder);
        const SavedSession first = meeting(QStringLiteral("aamupalaveri"), kEnded);
        QVERIFY(!store.save(first));
        const QString badPath = store.filePath(stem);
        QVERIFY(writeBytes(badPath, bytes));

        QCOMPARE(store.list(), QList {SavedSessionListItem::from(first)});
        QCOMPARE(store.load(first.id), std::optional(first));
        QVERIFY(!store.load(stem));

        const SavedSession second = meeting(QStringLiteral("iltapalaveri"), kEnded.addSecs(3600));
        QVERIFY(!store.save(second));
        QCOMPARE(store.list(),
                 (QList {SavedSessionListItem::from(second), SavedSessionListItem::from(first)}));
        QVERIFY(!store.deleteSession(first.id));
        QCOMPARE(store.list(), QList {SavedSessionListItem::from(second)});
        QCOMPARE(store.load(second.id), std::optional(second));

        QCOMPARE(readBytes(badPath), bytes);
    }

    // Times written at the very edge of the calendar: the last representable millisecond
    // loads, one step further is refused instead of overflowing.
    void historyTimesAtTheCalendarEdge_data()
    {
        QTest::addColumn<double>("seconds");
        QTest::addColumn<bool>("loads");
        const double first =
            toReferenceSeconds(QDateTime(QDate(1, 1, 1), QTime(0, 0), QTimeZone::utc()));
        const double last = toReferenceSeconds(
            QDateTime(QDate(9999, 12, 31), QTime(23, 59, 59, 999), QTimeZone::utc()));
        // clang-format off
        QTest::newRow("first millisecond of year 1") << first << true;
        QTest::newRow("just before year 1") << first - 0.001 << false;
        QTest::newRow("last millisecond of year 9999") << last << true;
        QTest::newRow("just after year 9999") << last + 0.001 << false;
        QTest::newRow("largest double") << 1.7976931348623157e308 << false;
        // clang-format on
    }
    void historyTimesAtTheCalendarEdge()
    {
        QFETCH(double, seconds);
        QFETCH(bool, loads);
        // Both session times and the segment's at once: a field refused alone is the corpus's.
        QJsonObject object = meeting(QStringLiteral("reuna"), kEnded, 1).toJson();
        QJsonObject segment = object.value(QStringLiteral("segments")).toArray().first().toObject();
        segment.insert(QStringLiteral("timestamp"), seconds);
        object.insert(QStringLiteral("segments"), QJsonArray {segment});
        object.insert(QStringLiteral("createdAt"), seconds);
        object.insert(QStringLiteral("endedAt"), seconds);
        const QByteArray bytes = QJsonDocument(object).toJson();
        const auto decoded = SavedSession::decode(bytes);
        QCOMPARE(decoded.has_value(), loads);
        QCOMPARE(SavedSessionListItem::decode(bytes).has_value(), loads);
        if (decoded) // and it is written back to the same millisecond
            QCOMPARE(SavedSession::decode(decoded->encode()), decoded);
    }

    // A bad stored value, or a whole settings file damaged: the defaults come up, and the next
    // save leaves a file the program reads back.
    void storedConfigurationGivesDefaults_data()
    {
        QTest::addColumn<QByteArray>("blob");
        QTest::addColumn<bool>("wholeFile"); // the bytes are the file, not the stored value
        for (const auto &input : hostileFiles(QStringLiteral("configurations")))
            QTest::newRow(qPrintable(input.name)) << input.bytes << false;
        QByteArray noise(64 << 10, '\0');
        QRandomGenerator generator(1403);
        for (char &byte : noise)
            byte = char(generator.bounded(256));
        // clang-format off
        QTest::newRow("generated: API key that never ends") << unterminatedString("{\"baseURL\":\"http://127.0.0.1:1\",\"apiKey\":", 4 << 20) << false;
        QTest::newRow("generated: 200 000 levels of nesting") << QByteArray("{\"apiKey\":\"k1\",\"extra\":" + deepNesting(200000) + "}") << false;
        QTest::newRow("generated: 1 MB of good settings, then a mistyped gain") << QByteArray("{\"apiKey\":\"" + QByteArray(1 << 20, 'k') + "\",\"mixedMicGain\":[1]}") << false;
        QTest::newRow("file of random bytes") << noise << true;
        QTest::newRow("file of zeros") << QByteArray(8192, '\0') << true;
        QTest::newRow("file cut inside the value") << QByteArray("[General]\nvernalo.mac.config=\"{\\\"apiKey\\\":\\\"k1") << true;
        QTest::newRow("file with a value without a key") << QByteArray("[General]\n=\"{}\"\n\xff\xfe\n") << true;
        // clang-format on
    }
    void storedConfigurationGivesDefaults()
    {
        QFETCH(QByteArray, blob);
        QFETCH(bool, wholeFile);
        QVERIFY(wholeFile || !STTConfiguration::decode(blob));

        STTConfiguration changed = STTConfiguration::defaults();
        changed.apiKey = QStringLiteral("k-uusi");
        changed.preferredInputDeviceID = 4294967295u;
        changed.setMixSettings(*mixSettings(MixPreset::Interview));
        // A value is kept as raw bytes, and as text when it is text.
        QList<QVariant> forms {QVariant(blob)};
        if (!wholeFile && isValidUtf8(blob))
            forms.append(QVariant(QString::fromUtf8(blob)));
        for (const QVariant &form : forms) {
            const QString path = freshPath(QStringLiteral("settings.conf"));
            if (wholeFile)
                QVERIFY(writeBytes(path, blob));
            else
                QSettings(path, QSettings::IniFormat)
                    .setValue(QLatin1String(STTConfigurationStore::kKey), form);
            {
                SecureSettings settings(path);
                STTConfigurationStore store(&settings);
                QCOMPARE(store.load(), STTConfiguration::defaults());
                store.save(changed);
            }
            SecureSettings reopened(path);
            QCOMPARE(STTConfigurationStore(&reopened).load(), changed);
        }
    }
};

VERNALO_TEST_MAIN(HostileStorageTest)
#include "test_hostile_storage.moc"
