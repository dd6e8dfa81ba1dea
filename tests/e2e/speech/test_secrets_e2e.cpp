// After a whole signed-in session (sign-in, administration with the admin key, a password
// change, a recording with speech, automatic and chosen exports in every format, a connection
// test, sign-out), no file the client wrote holds a password, key or token, in any form.
#include "foundation/app_log.h"
#include "live_core.h"
#include "output_files.h"
#include "spoken_text.h"
#include "support/socket_wait.h"
#include "support/test_environment.h"

#include <QFile>
#include <QRegularExpression>
#include <QtTest>
#include <QUrl>

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

} // namespace

class SecretsEndToEndTest : public QObject
{
    Q_OBJECT

    SpeechRig m_rig;
    QTemporaryDir m_chosenFolder;

    // Every file this run's client wrote for the user or for support. A diagnostics package
    // made during the run is one more addFile() here.
    OutputFileSet clientOutputs() const
    {
        AppLog::flush();
        OutputFileSet files;
        files.addFile(AppLog::currentLogURL());
        files.addFolder(m_rig.core->historyFolder());
        files.addFolder(m_rig.core->exportFolder());
        files.addFolder(m_chosenFolder.path());
        return files;
    }

private Q_SLOTS:
    void initTestCase()
    {
        QString error;
        QVERIFY2(m_rig.start(kApiKey,
                             {"--demo-user", kEmail + ':' + kPassword, "--admin-key", kAdminKey},
                             &error),
                 qPrintable(error));
    }

    // The search finds a secret in each form it looks for: a search that finds nothing proves
    // nothing otherwise (the full session counts the package entries it read).
    void plantedSecretIsFound()
    {
        const QString secret = QStringLiteral("key/with \"quotes\"");
        const QByteArray raw = secret.toUtf8();
        OutputFileSet files;
        files.addContent(QStringLiteral("as written"), "x-api-key: " + raw);
        files.addContent(QStringLiteral("percent-encoded"), "k=" + QUrl::toPercentEncoding(secret));
        files.addContent(QStringLiteral("JSON-escaped"),
                         "{\"apiKey\":\"key/with \\\"quotes\\\"\"}");
        files.addContent(QStringLiteral("Base64"), "auth " + raw.toBase64());
        files.addContent(QStringLiteral("clean"), "x-api-key: key/with quotes");
        QCOMPARE(files.findSecrets({{QStringLiteral("key"), secret}}).size(), 4);
    }

    void noSecretInAnyOutputAfterAFullSession()
    {
        QString why;
        QVERIFY2(m_rig.core->signIn(kEmail, kPassword, &why), qPrintable(why));
        AuthManager *auth = m_rig.core->auth();
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

        TranscriptionViewModel *vm = m_rig.core->controller();
        vm->testBackendConnection();
        QVERIFY(m_rig.core->selectMicrophone(QStringLiteral("Meeting Mic")));
        vm->settings()->setExportFormatName(QStringLiteral("json"));
        vm->settings()->setAutoExportEnabled(true);
        QVERIFY2(m_rig.core->startRecording(QStringLiteral("microphone"), &why), qPrintable(why));
        const QString sessionId = vm->sessionId();
        const QByteArray samples = clipSamples(QStringLiteral("mic_two"));
        QVERIFY2(!samples.isEmpty(), "the spoken clips were not generated");
        QVERIFY(m_rig.sound.writeSamples(*m_rig.microphone, samples));
        QVERIFY2(waitUntil([&] { return heard(vm->transcriptText(), kSentence); }, 45000),
                 qPrintable(vm->transcriptText()));
        QVERIFY2(m_rig.core->stopRecording(&why), qPrintable(why));

        // The user saves the transcript in every format.
        for (const QString &format :
             {QStringLiteral("txt"), QStringLiteral("json"), QStringLiteral("csv")}) {
            vm->settings()->setExportFormatName(format);
            const QString target = m_chosenFolder.filePath(QStringLiteral("chosen.") + format);
            m_rig.core->desktop.saveAnswers.enqueue(target);
            vm->saveTranscript();
            QVERIFY2(waitUntil([&] { return QFile::exists(target); }), qPrintable(format));
        }
        // The package a user sends to support, made while still signed in.
        const QString package = m_chosenFolder.filePath(QStringLiteral("diagnostics.zip"));
        m_rig.core->desktop.saveAnswers.enqueue(package);
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
                QVERIFY2(heard(QString::fromUtf8(item.content), kSentence), qPrintable(item.name));
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
