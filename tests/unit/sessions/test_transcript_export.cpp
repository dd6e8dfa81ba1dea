// Runs twice: once in UTC and once with TZ=Europe/Helsinki, so local-time output is checked
// in a zone with an offset and summer time, and UTC output is checked not to move with it.
#include "sessions/summary_fallback.h"
#include "sessions/transcript_export.h"
#include "sessions/transcript_export_writer.h"
#include "support/fake_desktop_services.h"
#include "support/test_environment.h"

#include <qcoro/qcorotask.h>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

using namespace vernalo;
using namespace Qt::StringLiterals;
using vernalo::test::FakeDesktopServices;
using vernalo::test::TestEnvironment;

Q_DECLARE_METATYPE(vernalo::TranscriptExportFormat)
Q_DECLARE_METATYPE(vernalo::ExportOutcome::Result)

namespace {

QDateTime utc(const char *iso)
{
    return QDateTime::fromString(QLatin1String(iso), Qt::ISODateWithMs);
}

TranscriptSegment segment(const char *iso, std::optional<QString> speaker, const QString &text)
{
    return {QUuid::createUuid(), text, utc(iso), std::move(speaker)};
}

// The transcripts behind the golden files in tests/data/export.
TranscriptSnapshot goldenSnapshot(const QString &name)
{
    using S = std::optional<QString>;
    if (name == u"speakers")
        return {QStringLiteral("3F2504E0-4F89-41D3-9A0C-0305E82C3301"),
                QStringLiteral("fi-FI"),
                QStringLiteral("chirp_3"),
                {segment("2026-03-01T12:03:07Z", S(u"S1"_s), u"Hyvää huomenta"_s),
                 segment("2026-03-01T12:03:09.750Z", S(u"S2"_s),
                         u"Aloitetaan, kun kaikki ovat paikalla."_s),
                 segment("2026-07-15T21:59:59Z", S(u"S1"_s), u"Kesäaika alkaa."_s)}};
    if (name == u"no_speaker")
        return {QString(),
                QStringLiteral("en-US"),
                QStringLiteral("latest_long"),
                {segment("2026-03-01T12:03:07Z", std::nullopt, u"Hyvää huomenta"_s),
                 segment("2026-03-01T12:04:00Z", std::nullopt, u"Toinen rivi"_s)}};
    if (name == u"empty_speaker")
        return {QStringLiteral("sess_01HZX3"),
                QStringLiteral("fi-FI"),
                QStringLiteral("chirp_3"),
                {segment("2026-03-01T12:03:07Z", S(QString()), u"Kuka puhuu?"_s),
                 segment("2026-03-01T12:03:08Z", std::nullopt, u"Ei tiedetä."_s),
                 segment("2026-03-01T12:03:09Z", S(u"S3"_s), u"Minä."_s)}};
    if (name == u"quotes_and_breaks")
        return {QStringLiteral("quotes-1"),
                QStringLiteral("fi-FI"),
                QStringLiteral("chirp_3"),
                {segment("2026-03-01T12:03:07Z", S(u"Sanna \"S\" K."_s),
                         u"Hän sanoi \"heippa\" ja lähti"_s),
                 segment("2026-03-01T12:03:10Z", std::nullopt,
                         u"Ensimmäinen rivi\nToinen rivi, pilkulla"_s),
                 segment("2026-03-01T12:03:12Z", S(u"S2"_s), u"\"Alussa\", keskellä ja \"\""_s)}};
    if (name == u"turns") // a turn of two segments, markup in text, two cues at one moment
        return {
            QStringLiteral("turns-1"),
            QStringLiteral("fi-FI"),
            QStringLiteral("chirp_3"),
            {segment("2026-03-01T12:00:00Z", S(u"S1"_s), u"Aloitetaan."_s),
             segment("2026-03-01T12:00:02.500Z", S(u"S1"_s), u"Asialista on *valmis*."_s),
             segment("2026-03-01T12:00:06Z", S(u"S2"_s), u"Onko <b>kaikki</b> & # täällä?"_s),
             segment("2026-03-01T12:00:06Z", std::nullopt, u"Samaan aikaan."_s),
             segment("2026-03-01T12:00:09Z", S(u"S1"_s), u"Hyvä, sitten mennään eteenpäin."_s)}};
    return {QString(), QStringLiteral("fi-FI"), QStringLiteral("chirp_3"), {}};
}

// "utc" or "helsinki": which local-time golden files apply to this run.
QString zoneSuffix()
{
    const QByteArray zone = qgetenv("TZ");
    if (zone == "UTC")
        return QStringLiteral("utc");
    if (zone == "Europe/Helsinki")
        return QStringLiteral("helsinki");
    return {};
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

// A strict reader of the CSV this program writes: quoted fields may hold anything.
QList<QStringList> parseCsv(const QString &text)
{
    QList<QStringList> rows {{}};
    QString field;
    bool quoted = false, wasQuoted = false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (quoted) {
            if (c == u'"' && i + 1 < text.size() && text.at(i + 1) == u'"') {
                field += u'"';
                ++i;
            } else if (c == u'"') {
                quoted = false;
            } else {
                field += c;
            }
        } else if (c == u'"') {
            quoted = wasQuoted = true;
        } else if (c == u',' || c == u'\n') {
            rows.last().append(wasQuoted ? field : field + QStringLiteral("<bare>"));
            field.clear();
            wasQuoted = false;
            if (c == u'\n')
                rows.append(QStringList());
        } else {
            field += c;
        }
    }
    rows.last().append(wasQuoted ? field : field + QStringLiteral("<bare>"));
    return rows;
}

} // namespace

class TranscriptExportTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase()
    {
        if (zoneSuffix().isEmpty())
            QSKIP("golden local times exist for TZ=UTC and TZ=Europe/Helsinki only");
    }

    void golden_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<TranscriptExportFormat>("format");
        for (const char *name :
             {"speakers", "no_speaker", "empty_speaker", "quotes_and_breaks", "empty", "turns"}) {
            for (auto format : kAllExportFormats)
                QTest::addRow("%s.%s", name, qPrintable(rawValue(format)))
                    << QString::fromLatin1(name) << format;
        }
    }
    void golden()
    {
        QFETCH(QString, name);
        QFETCH(TranscriptExportFormat, format);
        const QString rendered = renderTranscript(goldenSnapshot(name), format);
        QString file = QStringLiteral("export/") + name + u'.';
        if (format == TranscriptExportFormat::Txt || format == TranscriptExportFormat::Markdown)
            file += zoneSuffix() + u'.';
        const QByteArray expected = readFile(TestEnvironment::dataPath(file + rawValue(format)));
        if (format == TranscriptExportFormat::Json) {
            // Member order is free; content, null versus "" and indentation are not.
            QJsonParseError error;
            const auto document = QJsonDocument::fromJson(rendered.toUtf8(), &error);
            QCOMPARE(error.error, QJsonParseError::NoError);
            QCOMPARE(document, QJsonDocument::fromJson(expected));
            QVERIFY(rendered.contains(QStringLiteral("\n    \"sessionId\"")));
        } else {
            QCOMPARE(rendered.toUtf8(), expected);
        }
    }

    void csvFieldsSurviveARoundTrip_data()
    {
        QTest::addColumn<QString>("speaker");
        QTest::addColumn<QString>("text");
        QTest::newRow("word in quotes") << "S1"
                                        << "sanoi \"heippa\" eilen";
        QTest::newRow("only quotes") << "\""
                                     << "\"\"\"";
        QTest::newRow("comma and line breaks") << "a,b"
                                               << "yksi,\nkaksi\r\nkolme\n";
        QTest::newRow("empty text") << ""
                                    << "";
        QTest::newRow("looks like a header") << "speaker"
                                             << "timestamp,speaker,text";
    }
    void csvFieldsSurviveARoundTrip()
    {
        QFETCH(QString, speaker);
        QFETCH(QString, text);
        const QList<TranscriptSegment> segments {
            segment("2026-03-01T12:03:07Z", speaker, text),
            segment("2026-03-01T23:59:59.999Z", std::nullopt, QStringLiteral("perässä"))};
        const auto rows = parseCsv(formatCSV(segments));
        QCOMPARE(rows.size(), 3);
        QCOMPARE(rows.at(0), QStringList({"timestamp<bare>", "speaker<bare>", "text<bare>"}));
        QCOMPARE(rows.at(1), QStringList({"2026-03-01T12:03:07Z<bare>", speaker, text}));
        QCOMPARE(rows.at(2), QStringList({"2026-03-01T23:59:59Z<bare>", "", "perässä"}));
    }

    void fileNames_data()
    {
        QTest::addColumn<QString>("sessionId");
        QTest::addColumn<TranscriptExportFormat>("format");
        QTest::addColumn<QString>("now");
        QTest::addColumn<QString>("dialogName");
        QTest::addColumn<QString>("autoNameUtc");
        QTest::addColumn<QString>("autoNameHelsinki");
        QTest::newRow("no session, txt")
            << "" << TranscriptExportFormat::Txt << "2026-03-01T12:03:07Z"
            << "transkriptio.txt"
            << "transkriptio-20260301-120307.txt"
            << "transkriptio-20260301-140307.txt";
        QTest::newRow("no session, csv")
            << "" << TranscriptExportFormat::Csv << "2026-03-01T12:03:07Z"
            << "transkriptio.csv"
            << "transkriptio-20260301-120307.csv"
            << "transkriptio-20260301-140307.csv";
        QTest::newRow("uuid across new year")
            << "3F2504E0-4F89-41D3-9A0C-0305E82C3301" << TranscriptExportFormat::Json
            << "2025-12-31T22:30:05Z"
            << "3F2504E0-4F89-41D3-9A0C-0305E82C3301.json"
            << "3F2504E0-4F89-41D3-9A0C-0305E82C3301-20251231-223005.json"
            << "3F2504E0-4F89-41D3-9A0C-0305E82C3301-20260101-003005.json";
        QTest::newRow("summer time")
            << "sess_7" << TranscriptExportFormat::Txt << "2026-07-15T09:00:00Z"
            << "sess_7.txt"
            << "sess_7-20260715-090000.txt"
            << "sess_7-20260715-120000.txt";
        QTest::newRow("id that climbs folders")
            << "../../.bashrc" << TranscriptExportFormat::Txt << "2026-03-01T12:03:07Z"
            << "transkriptio.txt"
            << "transkriptio-20260301-120307.txt"
            << "transkriptio-20260301-140307.txt";
    }
    void fileNames()
    {
        QFETCH(QString, sessionId);
        QFETCH(TranscriptExportFormat, format);
        QFETCH(QString, now);
        QFETCH(QString, dialogName);
        QFETCH(QString, autoNameUtc);
        QFETCH(QString, autoNameHelsinki);
        QCOMPARE(exportFileName(sessionId, format), dialogName);
        QCOMPARE(memoFileName(sessionId), dialogName.section(u'.', 0, -2) + "-muistio.docx");
        QCOMPARE(autoExportFileName(sessionId, format, utc(now.toLatin1())),
                 zoneSuffix() == u"utc" ? autoNameUtc : autoNameHelsinki);
    }

    void saveWithDialog_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<TranscriptExportFormat>("format");
        QTest::addColumn<bool>("recording");
        QTest::addColumn<QString>("answer"); // "cancel", "blocked" or a file name
        QTest::addColumn<ExportOutcome::Result>("result");
        QTest::addColumn<QString>("proposed");
        QTest::addColumn<QString>("status");
        using R = ExportOutcome::Result;
        QTest::newRow("csv without session id")
            << "no_speaker" << TranscriptExportFormat::Csv << false << "valittu.csv" << R::Written
            << "transkriptio.csv"
            << "Tallennettu: valittu.csv";
        QTest::newRow("json into a new folder")
            << "speakers" << TranscriptExportFormat::Json << false << "uusi/kansio/t.json"
            << R::Written << "3F2504E0-4F89-41D3-9A0C-0305E82C3301.json"
            << "Tallennettu: t.json";
        QTest::newRow("webvtt") << "turns" << TranscriptExportFormat::WebVtt << false << "t.vtt"
                                << R::Written << "turns-1.vtt"
                                << "Tallennettu: t.vtt";
        QTest::newRow("cancelled") << "speakers" << TranscriptExportFormat::Txt << false << "cancel"
                                   << R::Cancelled << "3F2504E0-4F89-41D3-9A0C-0305E82C3301.txt"
                                   << "";
        QTest::newRow("unwritable location") << "quotes_and_breaks" << TranscriptExportFormat::Txt
                                             << false << "blocked" << R::Failed << "quotes-1.txt"
                                             << "Tallennus epäonnistui";
        QTest::newRow("while recording")
            << "speakers" << TranscriptExportFormat::Txt << true << "x.txt" << R::NothingToDo << ""
            << "";
        QTest::newRow("empty transcript")
            << "empty" << TranscriptExportFormat::Csv << false << "x.csv" << R::NothingToDo << ""
            << "";
    }
    void saveWithDialog()
    {
        QFETCH(QString, name);
        QFETCH(TranscriptExportFormat, format);
        QFETCH(bool, recording);
        QFETCH(QString, answer);
        QFETCH(ExportOutcome::Result, result);
        QFETCH(QString, proposed);
        QFETCH(QString, status);

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
        QCOMPARE(outcome.statusText, status);
        QCOMPARE(desktop.saveDialogs.size(), proposed.isEmpty() ? 0 : 1);
        if (!proposed.isEmpty())
            QCOMPARE(desktop.saveDialogs.first().suggestedFileName, proposed);
        if (result == ExportOutcome::Result::Written)
            QCOMPARE(readFile(target), renderTranscript(snapshot, format).toUtf8());
        else
            QVERIFY(!QFile::exists(target));
    }

    void autoExport_data()
    {
        QTest::addColumn<bool>("enabled");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("folder"); // "existing", "missing" or "blocked"
        QTest::addColumn<ExportOutcome::Result>("result");
        using R = ExportOutcome::Result;
        QTest::newRow("writes into the folder") << true << "speakers"
                                                << "existing" << R::Written;
        QTest::newRow("creates a missing folder") << true << "no_speaker"
                                                  << "missing" << R::Written;
        QTest::newRow("folder is a file") << true << "speakers"
                                          << "blocked" << R::Failed;
        QTest::newRow("switched off") << false << "speakers"
                                      << "existing" << R::NothingToDo;
        QTest::newRow("empty transcript") << true << "empty"
                                          << "existing" << R::NothingToDo;
    }
    void autoExport()
    {
        QFETCH(bool, enabled);
        QFETCH(QString, name);
        QFETCH(QString, folder);
        QFETCH(ExportOutcome::Result, result);

        QTemporaryDir dir;
        QString target = dir.path();
        if (folder == u"missing")
            target = dir.filePath(QStringLiteral("a/b"));
        if (folder == u"blocked") {
            target = dir.filePath(QStringLiteral("tiedosto"));
            QFile file(target);
            QVERIFY(file.open(QIODevice::WriteOnly));
        }
        const TranscriptSnapshot snapshot = goldenSnapshot(name);
        const QDateTime now = utc("2026-03-01T12:03:07Z");
        const auto format = TranscriptExportFormat::Csv;
        const QString fileName = autoExportFileName(snapshot.sessionId, format, now);

        const ExportOutcome outcome = autoExportTranscript(snapshot, format, enabled, now, target);

        QCOMPARE(outcome.result, result);
        switch (result) {
        case ExportOutcome::Result::Written:
            QCOMPARE(outcome.statusText, QStringLiteral("Auto-export: ") + fileName);
            QCOMPARE(QDir(target).entryList(QDir::Files | QDir::Hidden), QStringList {fileName});
            QCOMPARE(readFile(target + u'/' + fileName), formatCSV(snapshot.segments).toUtf8());
            break;
        case ExportOutcome::Result::Failed:
            QCOMPARE(outcome.statusText, QStringLiteral("Auto-export epäonnistui"));
            break;
        default:
            QVERIFY(!outcome.changesStatus());
            QVERIFY(QDir(target).isEmpty());
        }
    }

    void autoExportReplacesAnEarlierFileOfTheSameName()
    {
        QTemporaryDir dir;
        const QDateTime now = utc("2026-03-01T12:03:07Z");
        const auto first = goldenSnapshot(QStringLiteral("quotes_and_breaks"));
        auto second = first;
        second.segments.removeLast();
        const auto earlier =
            autoExportTranscript(first, TranscriptExportFormat::Txt, true, now, dir.path());
        QCOMPARE(earlier.result, ExportOutcome::Result::Written);
        const auto outcome =
            autoExportTranscript(second, TranscriptExportFormat::Txt, true, now, dir.path());
        QCOMPARE(outcome.result, ExportOutcome::Result::Written);
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 1);
        QCOMPARE(readFile(outcome.filePath), transcriptText(second.segments).toUtf8());
    }

    void autoExportDefaultsToTheDownloadsFolder()
    {
        // Never the developer's own downloads: the test home is a temporary folder.
        const QString downloads =
            QStandardPaths::writableLocation(QStandardPaths::DownloadLocation);
        QVERIFY(downloads.startsWith(TestEnvironment::root()));
        const auto outcome =
            autoExportTranscript(goldenSnapshot(QStringLiteral("speakers")),
                                 TranscriptExportFormat::Json, true, utc("2026-03-01T12:03:07Z"));
        QCOMPARE(outcome.result, ExportOutcome::Result::Written);
        QCOMPARE(QFileInfo(outcome.filePath).absolutePath(), QDir(downloads).absolutePath());
        QVERIFY(QFile::remove(outcome.filePath));
    }

    void clipboard_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("expectedClipboard");
        QTest::addColumn<QString>("status");
        QTest::newRow("transcript") << "empty_speaker"
                                    << "TXT"
                                    << "Kopioitu leikepöydälle";
        QTest::newRow("empty transcript") << "empty"
                                          << "vanha"
                                          << "";
    }
    void clipboard()
    {
        QFETCH(QString, name);
        QFETCH(QString, expectedClipboard);
        QFETCH(QString, status);
        FakeDesktopServices desktop;
        desktop.clipboard = QStringLiteral("vanha");
        const auto snapshot = goldenSnapshot(name);
        const auto outcome = copyTranscriptToClipboard(desktop, snapshot.segments);
        QCOMPARE(outcome.statusText, status);
        const QString expected =
            expectedClipboard == u"TXT" ? transcriptText(snapshot.segments) : expectedClipboard;
        QCOMPARE(desktop.clipboard.value_or(QString()), expected);
    }

    void sessionIdToClipboard_data()
    {
        QTest::addColumn<QString>("sessionId");
        QTest::addColumn<QString>("expectedClipboard");
        QTest::addColumn<QString>("status");
        QTest::newRow("id") << "sess_01HZX3"
                            << "sess_01HZX3"
                            << "Sessio-ID kopioitu";
        QTest::newRow("no id") << ""
                               << "vanha"
                               << "";
    }
    void sessionIdToClipboard()
    {
        QFETCH(QString, sessionId);
        QFETCH(QString, expectedClipboard);
        QFETCH(QString, status);
        FakeDesktopServices desktop;
        desktop.clipboard = QStringLiteral("vanha");
        QCOMPARE(copySessionIdToClipboard(desktop, sessionId).statusText, status);
        QCOMPARE(desktop.clipboard.value_or(QString()), expectedClipboard);
    }
};

VERNALO_TEST_MAIN(TranscriptExportTest)
#include "test_transcript_export.moc"
