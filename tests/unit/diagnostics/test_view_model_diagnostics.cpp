// Diagnostics through the controller against a loopback backend and scripted desktop: the
// package as libzip reads it, no secret in it, the automatic file once per recording, and
// finding, opening and naming the newest file.
#include "auth/auth_manager.h"
#include "diagnostics/diagnostic_export_payload.h"
#include "foundation/app_log.h"
#include "support/controller_harness.h"
#include "support/test_environment.h"
#include "support/zip_contents.h"
#include "wire/json_fields.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QTemporaryDir>
#include <QtTest>

using namespace vernalo;
using namespace vernalo::test;

namespace {

const QByteArray kMeta = R"({"id":"s1","status":"active","audioFrameCount":12})";
const QByteArray kTranscript = R"({"sessionId":"s1","segments":[{"text":"Palvelimen rivi"}]})";

QStringList packageEntries(bool server)
{
    QStringList names {"diagnostiikka.json", "transkriptio-local.txt", "app-log.txt"};
    if (server)
        names << "transkriptio-server.json"
              << "sessio-meta.json";
    return names << "README.txt";
}

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

void writeFileAged(const QString &path, qint64 ageSeconds)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("{}");
    // Written out first, or closing the file would stamp it with the present time.
    QVERIFY(file.flush());
    QVERIFY(file.setFileTime(QDateTime::currentDateTimeUtc().addSecs(-ageSeconds),
                             QFileDevice::FileModificationTime));
}

} // namespace

class ViewModelDiagnosticsTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<ControllerHarness> h;
    std::unique_ptr<QTemporaryDir> temp; // the process's temporary folder during one test
    std::unique_ptr<QTemporaryDir> chosen; // where the save dialog points, new for each test

    TranscriptionViewModel *buildWithSession()
    {
        SavedSession session =
            ControllerHarness::sessionOf("s1", {"Hyvää huomenta|S1", "Toinen rivi"});
        session.language = QStringLiteral("sv-SE");
        session.sttModel = QStringLiteral("long");
        if (!h->storeSession(session))
            return nullptr;
        TranscriptionViewModel *vm = h->build();
        vm->loadSession(QStringLiteral("s1"));
        return vm;
    }

    bool exportAndWait(TranscriptionViewModel *vm)
    {
        vm->exportDiagnosticsPackage();
        return h->waitFor([&] { return !vm->support()->isExportingDiagnostics(); });
    }

    QStringList tempLeftovers() const
    {
        return QDir(temp->path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
    }

private Q_SLOTS:
    void init()
    {
        temp = std::make_unique<QTemporaryDir>();
        chosen = std::make_unique<QTemporaryDir>();
        h = std::make_unique<ControllerHarness>();
        QVERIFY(h->start());
        qputenv("TMPDIR", QFile::encodeName(temp->path()));
    }
    void cleanup()
    {
        h.reset();
        qunsetenv("TMPDIR");
        temp.reset();
    }

    // Server parts go in only when they could be fetched; with no session nothing is asked.
    void packageContents_data()
    {
        QTest::addColumn<bool>("withSession");
        QTest::addColumn<int>("metaStatus");
        QTest::addColumn<int>("transcriptStatus");
        QTest::addColumn<QStringList>("names");
        QTest::newRow("no session") << false << 200 << 200 << packageEntries(false);
        QTest::newRow("both fetched") << true << 200 << 200 << packageEntries(true);
        QTest::newRow("metadata fails")
            << true << 500 << 200
            << QStringList {"diagnostiikka.json", "transkriptio-local.txt", "app-log.txt",
                            "transkriptio-server.json", "README.txt"};
        QTest::newRow("both fail") << true << 503 << 404 << packageEntries(false);
    }
    void packageContents()
    {
        QFETCH(bool, withSession);
        QFETCH(int, metaStatus);
        QFETCH(int, transcriptStatus);
        QFETCH(QStringList, names);
        h->backend.on("GET", "/v1/sessions/s1",
                      ScriptedResponse::json(metaStatus, metaStatus == 200 ? kMeta : "{}"));
        h->backend.on(
            "GET", "/v1/sessions/s1/transcript",
            ScriptedResponse::json(transcriptStatus, transcriptStatus == 200 ? kTranscript : "{}"));
        TranscriptionViewModel *vm = withSession ? buildWithSession() : h->build();
        QVERIFY(vm);
        AppLog::write(QStringLiteral("diagnostics test marker line"));
        const QString target = chosen->filePath("paketti.zip");
        h->desktop.saveAnswers.enqueue(target);
        QSignalSpy busy(vm->support(), &SupportState::isExportingDiagnosticsChanged);

        vm->exportDiagnosticsPackage();
        vm->exportDiagnosticsPackage(); // a second press while the first is on its way
        QVERIFY(h->waitFor([&] { return !vm->support()->isExportingDiagnostics(); }));
        QCOMPARE(busy.size(), 2);
        QCOMPARE(vm->support()->lastDiagnosticsPath(), target);
        QCOMPARE(h->desktop.saveDialogs.size(), 1);
        QCOMPARE(h->desktop.saveDialogs.first().suggestedFileName,
                 "vernalo-diagnoosi-" + diagnosticFileTimestamp(h->clock.now()) + ".zip");
        QCOMPARE(h->requests("GET", "/v1/sessions/s1").size(), withSession ? 1 : 0);
        QCOMPARE(h->requests("GET", "/v1/sessions/s1/transcript").size(), withSession ? 1 : 0);
        // The work folder and the temporary zip are gone.
        QCOMPARE(tempLeftovers(), QStringList {});

        const std::optional<ZipContents> zip = ZipContents::read(target);
        QVERIFY(zip);
        QCOMPARE(zip->names, names);
        QCOMPARE(QString::fromUtf8(*zip->entry("transkriptio-local.txt")), vm->transcriptText());
        QVERIFY(zip->entry("app-log.txt")->contains("diagnostics test marker line"));
        const QJsonObject record =
            QJsonDocument::fromJson(*zip->entry("diagnostiikka.json")).object();
        QCOMPARE(record.value("sessionId").toString(), withSession ? "s1" : "");
        QCOMPARE(record.value("config").toObject().value("apiKeyMasked").toString(),
                 apiKeyMasked("test-api-key"));
        QCOMPARE(record.value("runtime").toObject().value("language").toString(),
                 withSession ? "sv-SE" : vm->settings()->language());
        QCOMPARE(record.contains("sessionMeta"), names.contains("sessio-meta.json"));
        QCOMPARE(record.contains("transcript"), names.contains("transkriptio-server.json"));
        const auto entryIs = [&](const char *name, const QByteArray &json) {
            return !names.contains(name) ||
                QJsonDocument::fromJson(*zip->entry(name)) == QJsonDocument::fromJson(json);
        };
        QVERIFY(entryIs("sessio-meta.json", kMeta));
        QVERIFY(entryIs("transkriptio-server.json", kTranscript));
    }

    // Cancelled: nothing written. An existing file is replaced whole. A destination that cannot
    // be written keeps the old name and says so. Temporary files go in every case.
    void saveOutcomes_data()
    {
        QTest::addColumn<QString>("destination"); // "" cancels
        QTest::addColumn<bool>("existing");
        QTest::addColumn<QString>("status");
        // clang-format off
        QTest::newRow("cancelled") << "" << false << "Diagnostiikka peruttu";
        QTest::newRow("replaces existing file") << "vanha.zip" << true << "Diagnostiikka tallennettu: vanha.zip";
        QTest::newRow("folder missing") << "ei-ole/paketti.zip" << false << "Diagnostiikan tallennus epäonnistui";
        // clang-format on
    }
    void saveOutcomes()
    {
        QFETCH(QString, destination);
        QFETCH(bool, existing);
        QFETCH(QString, status);
        TranscriptionViewModel *vm = h->build();
        const QString target = destination.isEmpty() ? QString() : chosen->filePath(destination);
        if (existing) {
            QFile old(target);
            QVERIFY(old.open(QIODevice::WriteOnly));
            old.write(QByteArray(100000, 'x'));
        }
        h->desktop.saveAnswers.enqueue(destination.isEmpty() ? std::nullopt
                                                             : std::optional<QString>(target));
        QVERIFY(exportAndWait(vm));
        QCOMPARE(vm->statusText(), status);
        QCOMPARE(tempLeftovers(), QStringList {});
        const bool written = status.startsWith("Diagnostiikka tallennettu");
        QCOMPARE(vm->support()->lastDiagnosticsFileName(), written ? destination : QString());
        if (written)
            QCOMPARE(ZipContents::read(target)->names, packageEntries(false));
        else if (!target.isEmpty())
            QVERIFY(!QFile::exists(target));
    }

    // Token, admin key, API key and a password: in the settings, the log, the server's data and
    // the transcript. Neither the zip's bytes, nor any entry, nor the automatic file holds one.
    void secretsNeverLeave()
    {
        const QString apiKey = QStringLiteral("AK-zebra-5531-key");
        const QString token = QStringLiteral("TOK-quasar-9911");
        const QString adminKey = QStringLiteral("ADM-walrus-7702");
        const QString password = QStringLiteral("PW-heron-4480");
        const QString unlisted = QStringLiteral("unlisted-pw-5150");
        STTConfiguration config = h->storedConfiguration();
        config.apiKey = apiKey;
        h->storeConfiguration(config);
        h->settings->setValue(QLatin1String(AuthManager::kSessionTokenKey), token);
        h->settings->setValue(QLatin1String(AuthManager::kAdminKeyStorageKey), adminKey);
        const auto answer = [](const QString &json) {
            return ScriptedResponse::json(200, json.toUtf8());
        };
        h->backend.on("GET", "/v1/sessions/s1",
                      answer(QStringLiteral(R"({"id":"s1","lastSttError":{"message":"%1"}})")
                                 .arg("rejected admin key " + adminKey)));
        h->backend.on("GET", "/v1/sessions/s1/transcript",
                      answer(QStringLiteral(R"({"sessionId":"s1","segments":[{"text":"%1 %2"}]})")
                                 .arg(apiKey, password)));
        TranscriptionViewModel *vm = buildWithSession();
        QVERIFY(vm);
        vm->updateAuthContext(QVariantMap {{"email", "a@example.com"}}, token);
        vm->setDiagnosticSecretsProvider([password] { return QStringList {password}; });
        AppLog::write(QStringLiteral("debug api=%1 token %2 admin %3 typed %4")
                          .arg(apiKey, token, adminKey, password));
        AppLog::write(QStringLiteral("login attempt password=") + unlisted);

        const QString target = chosen->filePath("salainen.zip");
        h->desktop.saveAnswers.enqueue(target);
        QVERIFY(exportAndWait(vm));

        vm->autoExportFallbackDiagnostics(QStringLiteral("secret check"), std::nullopt);
        QVERIFY(
            h->waitFor([&] { return vm->support()->lastDiagnosticsFileName().endsWith(".json"); }));

        QList<QPair<QString, QByteArray>> pieces {
            {"zip bytes", readAll(target)},
            {"automatic file", readAll(vm->support()->lastDiagnosticsPath())}};
        const std::optional<ZipContents> zip = ZipContents::read(target);
        QVERIFY(zip);
        QCOMPARE(zip->names, packageEntries(true));
        for (qsizetype i = 0; i < zip->names.size(); ++i)
            pieces.append({zip->names.at(i), zip->contents.at(i)});
        for (const auto &[where, bytes] : pieces) {
            for (const QString &secret : {apiKey, token, adminKey, password, unlisted})
                QVERIFY2(!bytes.contains(secret.toUtf8()), qPrintable(where + " holds " + secret));
        }
        // What was around the secrets is still there for support to read.
        QVERIFY(zip->entry("app-log.txt")->contains("login attempt password=[redacted]"));
        QVERIFY(zip->entry("sessio-meta.json")->contains("rejected admin key [redacted]"));
        const QJsonObject record =
            QJsonDocument::fromJson(*zip->entry("diagnostiikka.json")).object();
        QCOMPARE(record.value("config").toObject().value("apiKeyMasked").toString(),
                 apiKeyMasked(apiKey));
    }

    // One file per recording, named after the reason, with the metadata handed in and the
    // transcript fetched; clearing the transcript allows the next one. A failed write still
    // counts as the one export.
    void automaticExportOncePerRecording()
    {
        h->backend.on("GET", "/v1/sessions/s1/transcript",
                      ScriptedResponse::json(200, kTranscript));
        TranscriptionViewModel *vm = buildWithSession();
        QVERIFY(vm);
        SessionMetaResponse meta;
        meta.id = QStringLiteral("s1");
        meta.audioFrameCount = 99;
        const QString first = "vernalo-diagnoosi-auto-no-pcm-system-raw-" +
            diagnosticFileTimestamp(h->clock.now()) + ".json";

        vm->autoExportFallbackDiagnostics(QStringLiteral("No PCM: system/raw"), meta);
        vm->autoExportFallbackDiagnostics(QStringLiteral("again"), meta);
        QVERIFY(h->waitFor([&] { return vm->support()->lastDiagnosticsFileName() == first; }));
        QVERIFY(h->waitFor([&] { return !vm->support()->isExportingDiagnostics(); }));
        QCOMPARE(QDir(h->exportFolder()).entryList(QDir::Files), QStringList {first});
        QCOMPARE(vm->diagnosticHint(), "Automaattinen diagnostiikka tallennettu: " + first);
        QCOMPARE(h->requests("GET", "/v1/sessions/s1/transcript").size(), 1);
        QCOMPARE(h->requests("GET", "/v1/sessions/s1").size(), 0);
        const QJsonObject record =
            QJsonDocument::fromJson(readAll(h->exportFolder() + '/' + first)).object();
        QCOMPARE(record.value("sessionMeta").toObject(), meta.toJson());
        QCOMPARE(record.value("transcript").toObject(),
                 QJsonDocument::fromJson(kTranscript).object());
    }

    // The newest by modification time among "vernalo-diagnoosi*" .zip and .json files, in any
    // letter case; others, hidden files and a missing folder give nothing.
    void newestPackage_data()
    {
        QTest::addColumn<QStringList>("files"); // "name:age in seconds"
        QTest::addColumn<QString>("expected");
        // clang-format off
        QTest::newRow("newer automatic file beats older zip")
            << QStringList {"vernalo-diagnoosi-20260301-100000.zip:600",
                            "vernalo-diagnoosi-auto-x-20260301-101000.json:60"}
            << "vernalo-diagnoosi-auto-x-20260301-101000.json";
        QTest::newRow("other names ignored, case ignored")
            << QStringList {"VERNALO-DIAGNOOSI-A.ZIP:300", "vernalo-diagnoosi-b.txt:10",
                            "muu-diagnoosi.zip:5", ".vernalo-diagnoosi-piilo.zip:1"}
            << "VERNALO-DIAGNOOSI-A.ZIP";
        QTest::newRow("same second: the later name")
            << QStringList {"vernalo-diagnoosi-20260301-100001.zip:100",
                            "vernalo-diagnoosi-20260301-100002.zip:100"}
            << "vernalo-diagnoosi-20260301-100002.zip";
        QTest::newRow("no folder") << QStringList {} << "";
        // clang-format on
    }
    void newestPackage()
    {
        QFETCH(QStringList, files);
        QFETCH(QString, expected);
        if (!files.isEmpty())
            QVERIFY(QDir().mkpath(h->exportFolder()));
        for (const QString &file : files) {
            const QStringList parts = file.split(':');
            writeFileAged(h->exportFolder() + '/' + parts.at(0), parts.at(1).toLongLong());
        }
        TranscriptionViewModel *vm = h->build();
        const std::optional<QString> latest = vm->latestDiagnosticsFromDownloads();
        QCOMPARE(latest.value_or(QString()),
                 expected.isEmpty() ? QString() : h->exportFolder() + '/' + expected);
        QCOMPARE(vm->resolveLatestDiagnosticsPath(), latest);
    }

    // Nothing exported: nothing to open. The last file written wins while it exists, even
    // outside downloads and older than what is there; once it is gone, the newest in downloads
    // is opened and revealed.
    void lastWrittenFileWinsWhileItExists()
    {
        TranscriptionViewModel *vm = h->build();
        vm->openLatestDiagnostics();
        vm->revealLatestDiagnosticsInFileManager();
        QVERIFY(h->desktop.openedUrls.isEmpty() && h->desktop.revealedPaths.isEmpty());
        const QString target = chosen->filePath("oma.zip");
        h->desktop.saveAnswers.enqueue(target);
        QVERIFY(exportAndWait(vm));
        QVERIFY(QDir().mkpath(h->exportFolder()));
        const QString newer = h->exportFolder() + "/vernalo-diagnoosi-uusi.zip";
        writeFileAged(newer, -60);
        QCOMPARE(vm->resolveLatestDiagnosticsPath(), std::optional<QString>(target));
        QVERIFY(QFile::remove(target));
        vm->openLatestDiagnostics();
        vm->revealLatestDiagnosticsInFileManager();
        QCOMPARE(h->desktop.openedUrls, QList<QUrl> {QUrl::fromLocalFile(newer)});
        QCOMPARE(h->desktop.revealedPaths, QStringList {newer});
        QCOMPARE(vm->support()->lastDiagnosticsPath(), newer);
    }
};

VERNALO_TEST_MAIN(ViewModelDiagnosticsTest)
#include "test_view_model_diagnostics.moc"
