// Spoken sentences through the whole client: a private sound server with a fake microphone and
// a null sink, the client's core as the application wires it, and the reference server as a
// separate process recognising speech. What was said must come back in the live transcript,
// the stored session file and the automatic TXT export; speech into a muted microphone must
// come back nowhere. After a whole signed-in session (administration with the admin key, a
// password change, a recording, automatic and chosen exports in every format, a connection
// test, a diagnostics package, sign-out), no file the client wrote holds a password, key or
// token, in any form. ctest runs the speech rows as test_speech_e2e, the secrets as
// test_secrets_e2e.
#include "foundation/app_log.h"
#include "live_core.h"
#include "sessions/saved_session.h"
#include "support/socket_wait.h"
#include "support/test_environment.h"

#include <algorithm>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QtTest>
#include <QUrl>
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
constexpr int kHearDeadlineMs = 45000;

struct Output
{
    QString name; // the path, or "archive.zip!entry" for a packaged file
    QByteArray content;
};

// A file the client wrote, or each entry of a zip archive, so that a secret inside a package is
// found like one in a plain file. An entry that cannot be read is left out: the test counts the
// outputs it expects.
QList<Output> readOutput(const QString &path)
{
    QFile file(path);
    if (!path.endsWith(QLatin1String(".zip")))
        return file.open(QIODevice::ReadOnly) ? QList<Output> {{path, file.readAll()}}
                                              : QList<Output> {};
    QList<Output> entries;
    int error = 0;
    zip_t *archive = zip_open(QFile::encodeName(path).constData(), ZIP_RDONLY, &error);
    for (zip_int64_t i = 0; archive && i < zip_get_num_entries(archive, 0); ++i) {
        const auto index = static_cast<zip_uint64_t>(i);
        zip_stat_t stat;
        zip_file_t *entry = zip_stat_index(archive, index, 0, &stat) == 0
            ? zip_fopen_index(archive, index, 0)
            : nullptr;
        if (!entry)
            continue;
        QByteArray content(static_cast<qsizetype>(stat.size), Qt::Uninitialized);
        if (zip_fread(entry, content.data(), stat.size) == static_cast<zip_int64_t>(stat.size))
            entries.append({path + QLatin1Char('!') + QString::fromUtf8(stat.name), content});
        zip_fclose(entry);
    }
    if (archive)
        zip_close(archive);
    return entries;
}

// "<output>: <label>" for every output holding a secret, as written or in a form it could be
// written in (percent-encoded, Base64, JSON-escaped). Secrets are given as label → value.
QStringList secretsIn(const QList<Output> &outputs, const QList<QPair<QString, QString>> &secrets)
{
    QStringList hits;
    for (const auto &[label, value] : secrets) {
        const QByteArray raw = value.toUtf8();
        const QByteArray json = QJsonDocument(QJsonArray {value}).toJson(QJsonDocument::Compact);
        const QList<QByteArray> forms {raw, QUrl::toPercentEncoding(value),
                                       raw.toBase64(QByteArray::OmitTrailingEquals),
                                       json.mid(2).chopped(2)};
        for (const Output &output : outputs) {
            if (std::any_of(forms.cbegin(), forms.cend(),
                            [&](const QByteArray &form) { return output.content.contains(form); }))
                hits << output.name + QStringLiteral(": ") + label;
        }
    }
    return hits;
}

} // namespace

class SpeechEndToEndTest : public QObject
{
    Q_OBJECT

    SpeechRig m_rig;
    QTemporaryDir m_chosenFolder;

private Q_SLOTS:
    void initTestCase()
    {
        QString error;
        QVERIFY2(m_rig.start(kApiKey,
                             {"--demo-user", kEmail + ':' + kPassword, "--admin-key", kAdminKey},
                             &error),
                 qPrintable(error));
        QVERIFY2(m_rig.core->signIn(kEmail, kPassword, &error), qPrintable(error));
        m_rig.core->controller()->settings()->setExportFormatName(QStringLiteral("txt"));
        m_rig.core->controller()->settings()->setAutoExportEnabled(true);
    }

    void cleanup() { m_rig.sound.stopPlayers(); }

    void spokenSentencesReachTranscriptHistoryAndExport_data()
    {
        QTest::addColumn<QString>("mode");
        QTest::addColumn<bool>("studio"); // the 48 kHz stereo microphone, else the 16 kHz one
        QTest::addColumn<bool>("muted"); // the sound server mutes the microphone
        QTest::addColumn<QString>("microphoneClip");
        QTest::addColumn<QString>("systemClip");
        // The system clip starts once the microphone's first sentence was heard; otherwise both
        // start together.
        QTest::addColumn<bool>("systemAfterMicrophone");
        // None expected: nothing may be written down, stored or exported.
        QTest::addColumn<QStringList>("expected");
        QTest::addColumn<QStringList>("absent");

        // clang-format off
        QTest::newRow("microphone at 48 kHz stereo")
            << "microphone" << true << false << "studio_48k_stereo.raw" << "" << false
            << QStringList {"the customer called this morning"} << QStringList {};
        QTest::newRow("system audio")
            << "systemAudio" << false << false << "" << "system_two" << false
            << QStringList {"we will review the budget next week",
                            "the customer called this morning"}
            << QStringList {};
        QTest::newRow("both mixed")
            << "microphoneAndSystem" << false << false << "mixed_mic" << "mixed_system" << true
            << QStringList {"hello everyone welcome to the call",
                            "the project is ready for testing"}
            << QStringList {};
        QTest::newRow("microphone only while system audio plays")
            << "microphone" << false << false << "control_mic" << "control_system" << false
            << QStringList {"thank you for joining today"}
            << QStringList {"the printer on the second floor is broken"};
        QTest::newRow("muted microphone")
            << "microphone" << false << true << "mic_two" << "" << false << QStringList {}
            << QStringList {"the meeting starts at nine", "please send the report before friday"};
        // clang-format on
    }
    void spokenSentencesReachTranscriptHistoryAndExport()
    {
        QFETCH(QString, mode);
        QFETCH(bool, studio);
        QFETCH(bool, muted);
        QFETCH(QString, microphoneClip);
        QFETCH(QString, systemClip);
        QFETCH(bool, systemAfterMicrophone);
        QFETCH(QStringList, expected);
        QFETCH(QStringList, absent);
        TranscriptionViewModel *vm = m_rig.core->controller();
        const PulseFixture::FakeMicrophone microphone =
            studio ? *m_rig.studioMicrophone : *m_rig.microphone;
        const auto setMuted = [&](bool on) {
            return m_rig.sound.pactl({QStringLiteral("set-source-mute"), microphone.sourceName,
                                      on ? QStringLiteral("1") : QStringLiteral("0")});
        };
        QVERIFY(setMuted(muted));
        const auto unmute = qScopeGuard([&] { setMuted(false); });

        QVERIFY(m_rig.core->selectMicrophone(studio ? QStringLiteral("Studio Mic")
                                                    : QStringLiteral("Meeting Mic")));
        AppLog::flush();
        const qsizetype logStart = AppLog::snapshot(1 << 20).size();
        QString why;
        QVERIFY2(m_rig.core->startRecording(mode, &why), qPrintable(why));
        const QString sessionId = vm->sessionId();
        QVERIFY(!sessionId.isEmpty());

        QProcess *player = nullptr;
        auto playSystem = [&] {
            player = m_rig.sound.playFile(QStringLiteral("e2e-player"), clipPath(systemClip));
        };
        const QByteArray samples = clipSamples(microphoneClip);
        if (!microphoneClip.isEmpty()) {
            QVERIFY2(!samples.isEmpty(), "the spoken clips were not generated");
            QVERIFY(m_rig.sound.writeSamples(microphone, samples));
        }
        if (!systemClip.isEmpty() && !systemAfterMicrophone)
            playSystem();
        if (!systemClip.isEmpty() && systemAfterMicrophone) {
            waitUntil([&] { return heard(vm->transcriptText(), expected.first()); },
                      kHearDeadlineMs);
            playSystem();
        }
        // Real speech takes real time: wait for the sentences (or the deadline), and for the
        // player to finish so that nothing it says is cut off by the stop. A muted clip has
        // played when every chunk of it, and a second more, has gone out.
        if (muted) {
            const int chunks = static_cast<int>(samples.size() / 3200) + 10;
            QVERIFY(waitUntil([&] { return vm->audioFramesSent() >= chunks; }, kHearDeadlineMs));
            // PipeWire hands over a muted source as dither-level noise, PulseAudio as zeros:
            // either way nothing reaches one step of the 16-bit signal.
            QVERIFY2(vm->outgoingAudioPeak() < 1.0 / 32768,
                     qPrintable(QString::number(vm->outgoingAudioPeak())));
        } else {
            waitUntil([&] { return containsInOrder(vm->transcriptText(), expected); },
                      kHearDeadlineMs);
        }
        if (player)
            waitUntil([&] { return player->state() == QProcess::NotRunning; }, kHearDeadlineMs);
        QVERIFY2(m_rig.core->stopRecording(&why), qPrintable(why));

        // What the user sees; when speech went missing, the client's own account of the row
        // tells where.
        const QString live = vm->transcriptText();
        const QString account = QStringLiteral("%1\nstatus: %2\nhint: %3\nlog:\n%4")
                                    .arg(live, vm->statusText(), vm->diagnosticHint(),
                                         AppLog::snapshot(1 << 20).mid(logStart));
        QVERIFY2(containsInOrder(live, expected), qPrintable(account));
        for (const QString &sentence : absent)
            QVERIFY2(!heard(live, sentence), qPrintable(live));

        // What was stored, and exported on its own after the stop.
        const QString sessionFile =
            QDir(m_rig.core->historyFolder()).filePath(sessionId + QStringLiteral(".json"));
        const QDir exportFolder(m_rig.core->exportFolder());
        const QStringList exports =
            exportFolder.entryList({sessionId + QStringLiteral("-*")}, QDir::Files);
        if (expected.isEmpty()) {
            QCOMPARE(live, QString());
            QVERIFY(!QFile::exists(sessionFile));
            QVERIFY(exports.isEmpty());
            return;
        }
        QFile file(sessionFile);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const auto saved = SavedSession::decode(file.readAll());
        QVERIFY(saved && saved->id == sessionId);
        QStringList texts;
        for (const auto &segment : saved->segments)
            texts << segment.text;
        const QString stored = texts.join(QLatin1Char('\n'));
        QVERIFY2(containsInOrder(stored, expected), qPrintable(stored));
        for (const QString &sentence : absent)
            QVERIFY2(!heard(stored, sentence), qPrintable(stored));
        QCOMPARE(exports.size(), 1);
        QVERIFY(exports.first().endsWith(QLatin1String(".txt")));
        QFile exported(exportFolder.filePath(exports.first()));
        QVERIFY(exported.open(QIODevice::ReadOnly));
        QCOMPARE(QString::fromUtf8(exported.readAll()), live);
    }

    void noSecretInAnyOutputAfterAFullSession()
    {
        const QString sentence = QStringLiteral("the meeting starts at nine");
        QString why;
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
        QVERIFY2(waitUntil([&] { return heard(vm->transcriptText(), sentence); }, 45000),
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

        // Every file this session's client wrote for the user or for support: the log with this
        // session, the stored session, the automatic export and the three chosen files, each
        // holding what was said, and the six entries of the diagnostics package.
        AppLog::flush();
        QStringList paths {AppLog::currentLogURL(),
                           QDir(m_rig.core->historyFolder()).filePath(sessionId + ".json")};
        const QDir exports(m_rig.core->exportFolder());
        for (const QString &name : exports.entryList({sessionId + "-*"}, QDir::Files))
            paths << exports.filePath(name);
        for (const QString &name : QDir(m_chosenFolder.path()).entryList(QDir::Files))
            paths << m_chosenFolder.filePath(name);
        QList<Output> files;
        for (const QString &path : std::as_const(paths))
            files += readOutput(path);
        QCOMPARE(files.size(), 12);
        for (const Output &item : std::as_const(files)) {
            if (item.name.contains(QLatin1String(".zip!")))
                continue;
            if (item.name == AppLog::currentLogURL()) {
                QVERIFY(item.content.contains("session created id=" + sessionId.toUtf8()));
                QVERIFY(item.content.contains("ws connect url=ws://127.0.0.1:"));
            } else
                QVERIFY2(heard(QString::fromUtf8(item.content), sentence), qPrintable(item.name));
        }

        const QStringList hits =
            secretsIn(files,
                      {
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
        for (const Output &item : std::as_const(files))
            QVERIFY2(!queryToken.match(QString::fromUtf8(item.content)).hasMatch(),
                     qPrintable(item.name));
    }
};

VERNALO_TEST_MAIN(SpeechEndToEndTest)
#include "test_speech_e2e.moc"
