// Spoken sentences through the whole client: a private sound server with a fake microphone and
// a null sink, the client's core as the application wires it, and the reference server as a
// separate process recognising speech. What was said must come back in the live transcript,
// the stored session file and the automatic TXT export; speech into a muted microphone must
// come back nowhere.
#include "foundation/app_log.h"
#include "live_core.h"
#include "spoken_text.h"
#include "support/socket_wait.h"
#include "support/test_environment.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QScopeGuard>
#include <QtTest>

using namespace vernalo;
using namespace vernalo::test;

namespace {

const QString kEmail = QStringLiteral("speaker@e2e.vernalo.local");
const QString kPassword = QStringLiteral("e2e-speech-pass");
const QString kApiKey = QStringLiteral("e2e-speech-api-key");
constexpr int kHearDeadlineMs = 45000;

// Texts of a stored session file's segments, in order, and the ID the file names.
QString storedSessionText(const QString &path, QString *storedId)
{
    QFile file(path);
    const QJsonObject session = file.open(QIODevice::ReadOnly)
        ? QJsonDocument::fromJson(file.readAll()).object()
        : QJsonObject();
    *storedId = session.value(QStringLiteral("id")).toString();
    QStringList texts;
    for (const QJsonValue &segment : session.value(QStringLiteral("segments")).toArray())
        texts << segment.toObject().value(QStringLiteral("text")).toString();
    return texts.join(QLatin1Char('\n'));
}

} // namespace

class SpeechEndToEndTest : public QObject
{
    Q_OBJECT

    SpeechRig m_rig;

private Q_SLOTS:
    void initTestCase()
    {
        QString error;
        QVERIFY2(m_rig.start(kApiKey, {"--demo-user", kEmail + ':' + kPassword}, &error),
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
            QCOMPARE(vm->outgoingAudioPeak(), 0.0);
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
        QString storedId;
        const QString stored = storedSessionText(sessionFile, &storedId);
        QCOMPARE(storedId, sessionId);
        QVERIFY2(containsInOrder(stored, expected), qPrintable(stored));
        for (const QString &sentence : absent)
            QVERIFY2(!heard(stored, sentence), qPrintable(stored));
        QCOMPARE(exports.size(), 1);
        QVERIFY(exports.first().endsWith(QLatin1String(".txt")));
        QFile exported(exportFolder.filePath(exports.first()));
        QVERIFY(exported.open(QIODevice::ReadOnly));
        QCOMPARE(QString::fromUtf8(exported.readAll()), live);
    }
};

VERNALO_TEST_MAIN(SpeechEndToEndTest)
#include "test_speech_e2e.moc"
