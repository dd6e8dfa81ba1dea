// After a whole signed-in session (sign-in, administration with the admin key, a password
// change, a recording with speech, automatic and chosen exports in every format, a connection
// test, sign-out), no file the client wrote holds a password, key or token, in any form.
#include "foundation/app_log.h"
#include "live_core.h"
#include "output_files.h"
#include "spoken_text.h"
#include "support/pulse_fixture.h"
#include "support/reference_backend.h"
#include "support/socket_wait.h"
#include "support/test_environment.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QtTest>
#include <zip.h>

using namespace vernalo;
using namespace vernalo::test;

namespace {

// Distinctive values, so a hit can only be a leak.
const QString kEmail = QStringLiteral("keeper@e2e.vernalo.local");
const QString kPassword = QStringLiteral("Salasana-Kx81-Vaahtera");
const QString kNewPassword = QStringLiteral("Uusi-Salasana-Qm27-Kuusi");
const QString kSecondUserPassword = QStringLiteral("Toinen-Salasana-Zr55-Koivu");
const QString kApiKey = QStringLiteral("api-key-e2e-7Hq2-Lumme");
const QString kAdminKey = QStringLiteral("admin-key-e2e-9Wd4-Kaisla");
const QString kWrongAdminKey = QStringLiteral("admin-key-typo-3Pz8-Ruoko");
const QString kSentence = QStringLiteral("the meeting starts at nine");

bool heard(const QString &text)
{
    return containsSentence(text, kSentence, toleranceFor(normalisedWords(kSentence).size()));
}

} // namespace

class SecretsEndToEndTest : public QObject
{
    Q_OBJECT

    PulseFixture m_sound;
    std::optional<PulseFixture::FakeMicrophone> m_microphone;
    std::unique_ptr<ServerProcess> m_server;
    QTemporaryDir m_serverData;
    QTemporaryDir m_chosenFolder;
    std::unique_ptr<LiveCore> m_core;

    // Every file this run's client wrote for the user or for support. A diagnostics package
    // made during the run is one more addFile() here.
    OutputFileSet clientOutputs() const
    {
        AppLog::flush();
        OutputFileSet files;
        files.addFile(AppLog::currentLogURL());
        files.addFolder(m_core->historyFolder());
        files.addFolder(m_core->exportFolder());
        files.addFolder(m_chosenFolder.path());
        return files;
    }

private Q_SLOTS:
    void initTestCase()
    {
        QString error;
        QVERIFY2(m_sound.start(&error), qPrintable(error));
        m_microphone =
            m_sound.addPipeMicrophone(QStringLiteral("e2e_mic"), QStringLiteral("Meeting Mic"),
                                      {QStringLiteral("device.bus=usb")}, 16000, 1);
        QVERIFY(m_microphone);
        m_server = std::make_unique<ServerProcess>(
            QStringLiteral(VERNALO_SERVER_BINARY),
            QStringList {"--data", m_serverData.path(), "--demo-user", kEmail + ':' + kPassword,
                         "--api-key", kApiKey, "--admin-key", kAdminKey, "--recognizer",
                         "pocketsphinx", "--grammar", VERNALO_E2E_DATA_DIR "/e2e.jsgf"});
        QVERIFY2(m_server->start(&error), qPrintable(error));
        m_core = std::make_unique<LiveCore>(m_server->baseUrl(), kApiKey);
    }

    void cleanupTestCase()
    {
        m_core.reset();
        m_server.reset();
        m_sound.stop();
    }

    // The search must find a secret in every form it looks for, also inside a package; a
    // search that finds nothing proves nothing otherwise.
    void plantedSecretIsFound_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<bool>("packaged");
        const QByteArray key = kApiKey.toUtf8();
        QTest::newRow("as written") << QByteArray("x-api-key: " + key + "\n") << false;
        QTest::newRow("percent-encoded")
            << QByteArray("url=http://h/?k=" + QUrl::toPercentEncoding(kAdminKey + "/")) << false;
        QTest::newRow("JSON-escaped") << QByteArray(R"({"apiKey":")" + key + R"("})") << false;
        QTest::newRow("Base64") << QByteArray("auth " + key.toBase64()) << false;
        QTest::newRow("inside a zip entry") << QByteArray("key=" + key) << true;
    }
    void plantedSecretIsFound()
    {
        QFETCH(QByteArray, content);
        QFETCH(bool, packaged);
        QTemporaryDir folder;
        QString path = folder.filePath(QStringLiteral("planted.txt"));
        if (packaged) {
            path = folder.filePath(QStringLiteral("package.zip"));
            int error = 0;
            zip_t *archive = zip_open(QFile::encodeName(path).constData(), ZIP_CREATE, &error);
            QVERIFY(archive);
            zip_source_t *source =
                zip_source_buffer(archive, content.constData(), content.size(), 0);
            QVERIFY(zip_file_add(archive, "log/desktop.log", source, ZIP_FL_ENC_UTF_8) >= 0);
            QCOMPARE(zip_close(archive), 0);
        } else {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(content);
        }
        OutputFileSet files;
        QVERIFY(files.addFile(path));
        const QStringList hits = files.findSecrets({{QStringLiteral("API key"), kApiKey},
                                                    {QStringLiteral("admin key"), kAdminKey},
                                                    {QStringLiteral("password"), kPassword}});
        QCOMPARE(hits.size(), 1);
    }

    void noSecretInAnyOutputAfterAFullSession()
    {
        QString why;
        QVERIFY2(m_core->signIn(kEmail, kPassword, &why), qPrintable(why));
        AuthManager *auth = m_core->auth();
        const QString sessionToken = auth->currentBackendSessionToken().value_or(QString());
        QVERIFY(sessionToken.size() >= 16);

        // Administration with a mistyped key first, then the right one.
        QVERIFY(!QCoro::waitFor(auth->adminListUsers(kWrongAdminKey)).ok());
        auth->saveAdminKey(kAdminKey);
        QVERIFY(QCoro::waitFor(auth->adminListUsers(auth->loadStoredAdminKey())).ok());
        QVERIFY(QCoro::waitFor(auth->adminCreateUser(QStringLiteral("second@e2e.vernalo.local"),
                                                     kSecondUserPassword, QStringLiteral("user"),
                                                     kAdminKey))
                    .ok());
        // A wrong current password, then the right one.
        QVERIFY(!QCoro::waitFor(auth->changePassword(kWrongAdminKey, kNewPassword)).ok());
        QVERIFY(QCoro::waitFor(auth->changePassword(kPassword, kNewPassword)).ok());

        TranscriptionViewModel *vm = m_core->controller();
        vm->testBackendConnection();
        QVERIFY(m_core->selectMicrophone(QStringLiteral("Meeting Mic")));
        vm->settings()->setExportFormatName(QStringLiteral("json"));
        vm->settings()->setAutoExportEnabled(true);
        QVERIFY2(m_core->startRecording(QStringLiteral("microphone"), &why), qPrintable(why));
        const QString sessionId = vm->sessionId();
        const QByteArray samples = wavSamples(QStringLiteral(VERNALO_E2E_CLIPS_DIR "/mic_two.wav"));
        QVERIFY2(!samples.isEmpty(), "the spoken clips were not generated");
        QVERIFY(m_sound.writeSamples(*m_microphone, samples));
        QVERIFY2(waitUntil([&] { return heard(vm->transcriptText()); }, 45000),
                 qPrintable(vm->transcriptText()));
        QVERIFY2(m_core->stopRecording(&why), qPrintable(why));

        // The user saves the transcript in every format.
        for (const QString &format :
             {QStringLiteral("txt"), QStringLiteral("json"), QStringLiteral("csv")}) {
            vm->settings()->setExportFormatName(format);
            const QString target = m_chosenFolder.filePath(QStringLiteral("chosen.") + format);
            m_core->desktop.saveAnswers.enqueue(target);
            vm->saveTranscript();
            QVERIFY2(waitUntil([&] { return QFile::exists(target); }), qPrintable(format));
        }
        // The package a user sends to support, made while still signed in.
        const QString package = m_chosenFolder.filePath(QStringLiteral("diagnostics.zip"));
        m_core->desktop.saveAnswers.enqueue(package);
        vm->exportDiagnosticsPackage();
        QVERIFY(waitUntil(
            [&] { return !vm->support()->isExportingDiagnostics() && QFile::exists(package); },
            30000));
        auth->logout();

        const OutputFileSet files = clientOutputs();
        // The search saw what it should: the log with this session, the stored session, the
        // automatic export and the three chosen files, each holding what was said, and the six
        // entries of the diagnostics package.
        QCOMPARE(files.items().size(), 12);
        for (const OutputFileSet::Item &item : files.items()) {
            if (item.name.contains(QLatin1String(".zip!")))
                continue;
            if (item.name == AppLog::currentLogURL()) {
                QVERIFY(item.content.contains("session created id=" + sessionId.toUtf8()));
                QVERIFY(item.content.contains("ws connect url=ws://127.0.0.1:"));
            } else
                QVERIFY2(heard(QString::fromUtf8(item.content)), qPrintable(item.name));
        }

        const QStringList hits = files.findSecrets({
            {QStringLiteral("password"), kPassword},
            {QStringLiteral("new password"), kNewPassword},
            {QStringLiteral("second user's password"), kSecondUserPassword},
            {QStringLiteral("API key"), kApiKey},
            {QStringLiteral("admin key"), kAdminKey},
            {QStringLiteral("mistyped admin key"), kWrongAdminKey},
            {QStringLiteral("session token"), sessionToken},
        });
        QVERIFY2(hits.isEmpty(), qPrintable(hits.join(QLatin1Char('\n'))));
        // The stream address carries its own token in the query; it is never written out whole.
        static const QRegularExpression queryToken(QStringLiteral("[?&]token="));
        for (const OutputFileSet::Item &item : files.items())
            QVERIFY2(!queryToken.match(QString::fromUtf8(item.content)).hasMatch(),
                     qPrintable(item.name));
    }
};

VERNALO_TEST_MAIN(SecretsEndToEndTest)
#include "test_secrets_e2e.moc"
