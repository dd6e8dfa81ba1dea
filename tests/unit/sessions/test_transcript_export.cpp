// Local-time output is checked in UTC and in a zone with an offset and summer time; each test
// sets the zone it needs, and UTC output is checked not to move with it.
#include "sessions/summary_fallback.h"
#include "sessions/transcript_export.h"
#include "sessions/transcript_export_writer.h"
#include "support/fake_desktop_services.h"
#include "support/test_environment.h"

#include <ctime>
#include <qcoro/qcorotask.h>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

using namespace vernalo;
using vernalo::test::FakeDesktopServices;
using vernalo::test::TestEnvironment;

Q_DECLARE_METATYPE(vernalo::TranscriptExportFormat)
Q_DECLARE_METATYPE(vernalo::ExportOutcome::Result)

namespace {

using Format = TranscriptExportFormat;
using R = ExportOutcome::Result;

// "utc" or "helsinki"; read by the C library, which Qt asks for every local time.
void useZone(const QString &zone)
{
    qputenv("TZ", zone == u"utc" ? "UTC" : "Europe/Helsinki");
    tzset();
}

QDateTime utc(const QString &iso)
{
    return QDateTime::fromString(iso, Qt::ISODateWithMs);
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

// The transcripts behind the golden files in tests/data/export.
TranscriptSnapshot goldenSnapshot(const QString &name)
{
    const QJsonArray fields =
        QJsonDocument::fromJson(readFile(TestEnvironment::dataPath("export/snapshots.json")))
            .object()
            .value(name)
            .toArray();
    TranscriptSnapshot snapshot {
        fields[0].toString(), fields[1].toString(), fields[2].toString(), {}};
    for (const QJsonValue &row : fields[3].toArray()) {
        const QJsonArray s = row.toArray();
        snapshot.segments.append({QUuid::createUuid(), s[2].toString(), utc(s[0].toString()),
                                  s[1].isNull() ? std::nullopt : std::optional(s[1].toString())});
    }
    return snapshot;
}

} // namespace

class TranscriptExportTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init() { useZone(QStringLiteral("utc")); }

    void golden_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<Format>("format");
        QTest::addColumn<QString>("zone");
        for (const char *name :
             {"speakers", "no_speaker", "empty_speaker", "quotes_and_breaks", "empty", "turns"}) {
            for (auto format : kAllExportFormats) {
                for (const char *zone : {"utc", "helsinki"})
                    QTest::addRow("%s.%s.%s", name, qPrintable(rawValue(format)), zone)
                        << QString::fromLatin1(name) << format << QString::fromLatin1(zone);
            }
        }
    }
    void golden()
    {
        QFETCH(QString, name);
        QFETCH(Format, format);
        QFETCH(QString, zone);
        useZone(zone);
        const QString rendered = renderTranscript(goldenSnapshot(name), format);
        QString file = QStringLiteral("export/") + name + u'.';
        if (format == Format::Txt || format == Format::Markdown)
            file += zone + u'.';
        const QByteArray expected = readFile(TestEnvironment::dataPath(file + rawValue(format)));
        if (format == Format::Json) {
            // Member order is free; content, null versus "" and indentation are not.
            QCOMPARE(QJsonDocument::fromJson(rendered.toUtf8()), QJsonDocument::fromJson(expected));
            QVERIFY(rendered.contains(QStringLiteral("\n    \"sessionId\"")));
        } else {
            QCOMPARE(rendered.toUtf8(), expected);
        }
    }

    // Names: the dialog's proposal, then the automatic export's in UTC and in Helsinki.
    void fileNames_data()
    {
        QTest::addColumn<QString>("sessionId");
        QTest::addColumn<Format>("format");
        QTest::addColumn<QString>("now");
        QTest::addColumn<QStringList>("names");
        QTest::newRow("no session")
            << "" << Format::Txt << "2026-03-01T12:03:07Z"
            << QStringList {"transkriptio.txt", "transkriptio-20260301-120307.txt",
                            "transkriptio-20260301-140307.txt"};
        QTest::newRow("uuid across new year")
            << "3F2504E0-4F89-41D3-9A0C-0305E82C3301" << Format::Json << "2025-12-31T22:30:05Z"
            << QStringList {"3F2504E0-4F89-41D3-9A0C-0305E82C3301.json",
                            "3F2504E0-4F89-41D3-9A0C-0305E82C3301-20251231-223005.json",
                            "3F2504E0-4F89-41D3-9A0C-0305E82C3301-20260101-003005.json"};
        QTest::newRow("summer time") << "sess_7" << Format::Csv << "2026-07-15T09:00:00Z"
                                     << QStringList {"sess_7.csv", "sess_7-20260715-090000.csv",
                                                     "sess_7-20260715-120000.csv"};
        QTest::newRow("id that climbs folders")
            << "../../.bashrc" << Format::Txt << "2026-03-01T12:03:07Z"
            << QStringList {"transkriptio.txt", "transkriptio-20260301-120307.txt",
                            "transkriptio-20260301-140307.txt"};
    }
    void fileNames()
    {
        QFETCH(QString, sessionId);
        QFETCH(Format, format);
        QFETCH(QString, now);
        QFETCH(QStringList, names);
        QCOMPARE(exportFileName(sessionId, format), names[0]);
        QCOMPARE(memoFileName(sessionId), names[0].section(u'.', 0, -2) + "-muistio.docx");
        QCOMPARE(autoExportFileName(sessionId, format, utc(now)), names[1]);
        useZone(QStringLiteral("helsinki"));
        QCOMPARE(autoExportFileName(sessionId, format, utc(now)), names[2]);
    }

    void saveWithDialog_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<Format>("format");
        QTest::addColumn<bool>("recording");
        QTest::addColumn<QString>("answer"); // "cancel", "blocked" or a file name
        QTest::addColumn<R>("result");
        QTest::addColumn<QString>("proposed");
        // clang-format off
        QTest::newRow("csv without session id") << "no_speaker" << Format::Csv << false << "valittu.csv" << R::Written << "transkriptio.csv";
        QTest::newRow("json into a new folder")
            << "speakers" << Format::Json << false << "uusi/kansio/t.json" << R::Written
            << "3F2504E0-4F89-41D3-9A0C-0305E82C3301.json";
        QTest::newRow("cancelled") << "speakers" << Format::Txt << false << "cancel" << R::Cancelled << "3F2504E0-4F89-41D3-9A0C-0305E82C3301.txt";
        QTest::newRow("unwritable location") << "quotes_and_breaks" << Format::WebVtt << false << "blocked" << R::Failed << "quotes-1.vtt";
        QTest::newRow("while recording") << "speakers" << Format::Txt << true << "x.txt" << R::NothingToDo << "";
        QTest::newRow("empty transcript") << "empty" << Format::Csv << false << "x.csv" << R::NothingToDo << "";
        // clang-format on
    }
    void saveWithDialog()
    {
        QFETCH(QString, name);
        QFETCH(Format, format);
        QFETCH(bool, recording);
        QFETCH(QString, answer);
        QFETCH(R, result);
        QTemporaryDir dir;
        QFile blocker(dir.filePath(QStringLiteral("tiedosto")));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        FakeDesktopServices desktop;
        const QString target = answer == u"blocked" ? blocker.fileName() + QStringLiteral("/t.txt")
                                                    : dir.filePath(answer);
        if (answer != u"cancel")
            desktop.saveAnswers.enqueue(target);
        const TranscriptSnapshot snapshot = goldenSnapshot(name);

        const ExportOutcome outcome =
            QCoro::waitFor(saveTranscriptWithDialog(&desktop, snapshot, format, recording));

        QCOMPARE(outcome.result, result);
        QCOMPARE(outcome.changesStatus(), result != R::NothingToDo && result != R::Cancelled);
        QStringList proposed;
        for (const auto &dialog : desktop.saveDialogs)
            proposed << dialog.suggestedFileName;
        QTEST(proposed.join(u','), "proposed");
        if (result == R::Written)
            QCOMPARE(readFile(target), renderTranscript(snapshot, format).toUtf8());
        else
            QVERIFY(!QFile::exists(target));
    }

    void autoExport_data()
    {
        QTest::addColumn<bool>("enabled");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("folder"); // "existing", "missing", "blocked", "earlier", ""
        QTest::addColumn<R>("result");
        // clang-format off
        QTest::newRow("writes into the folder") << true << "speakers" << "existing" << R::Written;
        QTest::newRow("creates a missing folder") << true << "no_speaker" << "missing" << R::Written;
        QTest::newRow("replaces an earlier file of that name") << true << "quotes_and_breaks" << "earlier" << R::Written;
        QTest::newRow("downloads by default") << true << "speakers" << "" << R::Written;
        QTest::newRow("folder is a file") << true << "speakers" << "blocked" << R::Failed;
        QTest::newRow("switched off") << false << "speakers" << "existing" << R::NothingToDo;
        QTest::newRow("empty transcript") << true << "empty" << "existing" << R::NothingToDo;
        // clang-format on
    }
    void autoExport()
    {
        QFETCH(bool, enabled);
        QFETCH(QString, name);
        QFETCH(QString, folder);
        QFETCH(R, result);
        QTemporaryDir dir;
        // Never the developer's own downloads: the test home is a temporary folder.
        QString target = folder.isEmpty()
            ? QStandardPaths::writableLocation(QStandardPaths::DownloadLocation)
            : folder == u"missing" ? dir.filePath(QStringLiteral("a/b"))
                                   : dir.path();
        QVERIFY(target.startsWith(TestEnvironment::root()) || target.startsWith(dir.path()));
        const TranscriptSnapshot snapshot = goldenSnapshot(name);
        const QDateTime now = utc(QStringLiteral("2026-03-01T12:03:07Z"));
        const QString fileName = autoExportFileName(snapshot.sessionId, Format::Csv, now);
        if (folder == u"blocked")
            target = dir.filePath(QStringLiteral("tiedosto"));
        QFile earlier(folder == u"blocked" ? target : target + u'/' + fileName);
        if (folder == u"blocked" || folder == u"earlier")
            QVERIFY(earlier.open(QIODevice::WriteOnly) && earlier.write(QByteArray(9000, 'x')));
        earlier.close();

        const ExportOutcome outcome = autoExportTranscript(snapshot, Format::Csv, enabled, now,
                                                           folder.isEmpty() ? QString() : target);

        QCOMPARE(outcome.result, result);
        QCOMPARE(outcome.changesStatus(), result != R::NothingToDo);
        if (result == R::Written) {
            QCOMPARE(QFileInfo(outcome.filePath).absolutePath(), QDir(target).absolutePath());
            QCOMPARE(QDir(target).entryList(QDir::Files | QDir::Hidden), QStringList {fileName});
            QCOMPARE(readFile(outcome.filePath), formatCSV(snapshot.segments).toUtf8());
            QVERIFY(!folder.isEmpty() || QFile::remove(outcome.filePath));
        } else if (result == R::NothingToDo) {
            QVERIFY(QDir(target).isEmpty());
        }
    }
};

VERNALO_TEST_MAIN(TranscriptExportTest)
#include "test_transcript_export.moc"
