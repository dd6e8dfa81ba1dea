// Spoken sentences through the whole client: a private sound server with a fake microphone and
// a null sink, the client's core as the application wires it, and the reference server as a
// separate process recognising speech. What was said must come back in the live transcript,
// the stored session file and the automatic TXT export.
#include "foundation/app_log.h"
#include "live_core.h"
#include "spoken_text.h"
#include "support/pulse_fixture.h"
#include "support/reference_backend.h"
#include "support/socket_wait.h"
#include "support/test_environment.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>

using namespace vernalo;
using namespace vernalo::test;

namespace {

const QString kEmail = QStringLiteral("speaker@e2e.vernalo.local");
const QString kPassword = QStringLiteral("e2e-speech-pass");
const QString kApiKey = QStringLiteral("e2e-speech-api-key");
// A microphone that delivers the outgoing format as it is, and one that needs converting.
const QString kMicrophoneName = QStringLiteral("Meeting Mic");
const QString kStudioMicrophoneName = QStringLiteral("Studio Mic");
constexpr int kHearDeadlineMs = 45000;

QString clip(const QString &name)
{
    return QStringLiteral(VERNALO_E2E_CLIPS_DIR "/") + name + QStringLiteral(".wav");
}

// Texts of a stored session file's segments, in order.
QString storedSessionText(const QString &path, QString *storedId)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QJsonObject session = QJsonDocument::fromJson(file.readAll()).object();
    *storedId = session.value(QStringLiteral("id")).toString();
    QStringList texts;
    for (const QJsonValue &segment : session.value(QStringLiteral("segments")).toArray())
        texts << segment.toObject().value(QStringLiteral("text")).toString();
    return texts.join(QLatin1Char('\n'));
}

bool heard(const QString &text, const QString &sentence)
{
    return containsSentence(text, sentence, toleranceFor(normalisedWords(sentence).size()));
}

} // namespace

class SpeechEndToEndTest : public QObject
{
    Q_OBJECT

    PulseFixture m_sound;
    QMap<QString, PulseFixture::FakeMicrophone> m_microphones;
    std::unique_ptr<ServerProcess> m_server;
    QTemporaryDir m_serverData;
    std::unique_ptr<LiveCore> m_core;

private Q_SLOTS:
    void initTestCase()
    {
        QString error;
        QVERIFY2(m_sound.start(&error), qPrintable(error));
        const auto meeting =
            m_sound.addPipeMicrophone(QStringLiteral("e2e_mic"), kMicrophoneName,
                                      {QStringLiteral("device.bus=usb")}, 16000, 1);
        const auto studio =
            m_sound.addPipeMicrophone(QStringLiteral("e2e_studio"), kStudioMicrophoneName,
                                      {QStringLiteral("device.bus=usb")}, 48000, 2);
        QVERIFY(meeting && studio);
        m_microphones.insert(kMicrophoneName, *meeting);
        m_microphones.insert(kStudioMicrophoneName, *studio);

        m_server = std::make_unique<ServerProcess>(
            QStringLiteral(VERNALO_SERVER_BINARY),
            QStringList {"--data", m_serverData.path(), "--demo-user", kEmail + ':' + kPassword,
                         "--api-key", kApiKey, "--recognizer", "pocketsphinx", "--grammar",
                         VERNALO_E2E_DATA_DIR "/e2e.jsgf"});
        QVERIFY2(m_server->start(&error), qPrintable(error));

        m_core = std::make_unique<LiveCore>(m_server->baseUrl(), kApiKey);
        QVERIFY2(m_core->signIn(kEmail, kPassword, &error), qPrintable(error));
        m_core->controller()->settings()->setExportFormatName(QStringLiteral("txt"));
        m_core->controller()->settings()->setAutoExportEnabled(true);
    }

    void cleanupTestCase()
    {
        m_core.reset();
        m_server.reset();
        m_sound.stop();
    }

    void cleanup() { m_sound.stopPlayers(); }

    void spokenSentencesReachTranscriptHistoryAndExport_data()
    {
        QTest::addColumn<QString>("mode");
        QTest::addColumn<QString>("microphone");
        // A .wav clip is 16 kHz mono; a .raw clip is already in the microphone's own format.
        QTest::addColumn<QString>("microphoneClip");
        QTest::addColumn<QString>("systemClip");
        // The system clip starts once the microphone's first sentence was heard; otherwise both
        // start together.
        QTest::addColumn<bool>("systemAfterMicrophone");
        QTest::addColumn<QStringList>("expected");
        QTest::addColumn<QStringList>("absent");

        // clang-format off
        QTest::newRow("microphone")
            << "microphone" << kMicrophoneName << "mic_two" << "" << false
            << QStringList {"the meeting starts at nine", "please send the report before friday"}
            << QStringList {};
        QTest::newRow("microphone at 48 kHz stereo")
            << "microphone" << kStudioMicrophoneName << "studio_48k_stereo.raw" << "" << false
            << QStringList {"the customer called this morning"} << QStringList {};
        QTest::newRow("system audio")
            << "systemAudio" << kMicrophoneName << "" << "system_two" << false
            << QStringList {"we will review the budget next week",
                            "the customer called this morning"}
            << QStringList {};
        QTest::newRow("both mixed")
            << "microphoneAndSystem" << kMicrophoneName << "mixed_mic" << "mixed_system" << true
            << QStringList {"hello everyone welcome to the call",
                            "the project is ready for testing"}
            << QStringList {};
        QTest::newRow("microphone only while system audio plays")
            << "microphone" << kMicrophoneName << "control_mic" << "control_system" << false
            << QStringList {"thank you for joining today"}
            << QStringList {"the printer on the second floor is broken"};
        // clang-format on
    }
    void spokenSentencesReachTranscriptHistoryAndExport()
    {
        QFETCH(QString, mode);
        QFETCH(QString, microphone);
        QFETCH(QString, microphoneClip);
        QFETCH(QString, systemClip);
        QFETCH(bool, systemAfterMicrophone);
        QFETCH(QStringList, expected);
        QFETCH(QStringList, absent);
        TranscriptionViewModel *vm = m_core->controller();

        QVERIFY(m_core->selectMicrophone(microphone));
        AppLog::flush();
        const qsizetype logStart = AppLog::snapshot(1 << 20).size();
        QString why;
        QVERIFY2(m_core->startRecording(mode, &why), qPrintable(why));
        const QString sessionId = vm->sessionId();
        QVERIFY(!sessionId.isEmpty());

        QProcess *player = nullptr;
        auto playSystem = [&] {
            player = m_sound.playFile(QStringLiteral("e2e-player"), clip(systemClip));
        };
        if (!microphoneClip.isEmpty()) {
            QByteArray samples;
            if (microphoneClip.endsWith(QLatin1String(".raw"))) {
                QFile raw(QStringLiteral(VERNALO_E2E_CLIPS_DIR "/") + microphoneClip);
                if (raw.open(QIODevice::ReadOnly))
                    samples = raw.readAll();
            } else {
                samples = wavSamples(clip(microphoneClip));
            }
            QVERIFY2(!samples.isEmpty(), "the spoken clips were not generated");
            QVERIFY(m_sound.writeSamples(m_microphones.value(microphone), samples));
        }
        if (!systemClip.isEmpty() && !systemAfterMicrophone)
            playSystem();
        if (!systemClip.isEmpty() && systemAfterMicrophone) {
            waitUntil([&] { return heard(vm->transcriptText(), expected.first()); },
                      kHearDeadlineMs);
            playSystem();
        }
        // Real speech takes real time: wait for the sentences (or the deadline), and for the
        // player to finish so that nothing it says is cut off by the stop.
        waitUntil([&] { return containsInOrder(vm->transcriptText(), expected); }, kHearDeadlineMs);
        if (player)
            waitUntil([&] { return player->state() == QProcess::NotRunning; }, kHearDeadlineMs);
        QVERIFY2(m_core->stopRecording(&why), qPrintable(why));

        // What the user sees.
        const QString live = vm->transcriptText();
        // When speech went missing, the client's own account of the row tells where.
        const QString account = QStringLiteral("%1\nstatus: %2\nhint: %3\nlog:\n%4")
                                    .arg(live, vm->statusText(), vm->diagnosticHint(),
                                         AppLog::snapshot(1 << 20).mid(logStart));
        QVERIFY2(containsInOrder(live, expected), qPrintable(account));
        for (const QString &sentence : absent)
            QVERIFY2(!heard(live, sentence), qPrintable(live));

        // What was stored.
        QString storedId;
        const QString stored = storedSessionText(
            QDir(m_core->historyFolder()).filePath(sessionId + QStringLiteral(".json")), &storedId);
        QCOMPARE(storedId, sessionId);
        QVERIFY2(containsInOrder(stored, expected), qPrintable(stored));
        for (const QString &sentence : absent)
            QVERIFY2(!heard(stored, sentence), qPrintable(stored));

        // What was exported on its own after the stop.
        const QStringList exports =
            QDir(m_core->exportFolder())
                .entryList({sessionId + QStringLiteral("-*.txt")}, QDir::Files);
        QCOMPARE(exports.size(), 1);
        QFile exported(QDir(m_core->exportFolder()).filePath(exports.first()));
        QVERIFY(exported.open(QIODevice::ReadOnly));
        const QString text = QString::fromUtf8(exported.readAll());
        QVERIFY2(containsInOrder(text, expected), qPrintable(text));
        QCOMPARE(text, live);
    }

    // The same speech into a microphone the sound server mutes: the recording runs until all of
    // it has been sent, and nothing is written down, stored or exported.
    void mutedMicrophoneGivesNoTextAndStoresNothing()
    {
        QVERIFY(m_sound.pactl(
            {QStringLiteral("set-source-mute"), QStringLiteral("e2e_mic"), QStringLiteral("1")}));
        auto unmute = qScopeGuard([this] {
            m_sound.pactl({QStringLiteral("set-source-mute"), QStringLiteral("e2e_mic"),
                           QStringLiteral("0")});
        });
        QVERIFY(m_core->selectMicrophone(kMicrophoneName));
        TranscriptionViewModel *vm = m_core->controller();
        QString why;
        QVERIFY2(m_core->startRecording(QStringLiteral("microphone"), &why), qPrintable(why));
        const QString sessionId = vm->sessionId();
        const QByteArray samples = wavSamples(clip(QStringLiteral("mic_two")));
        QVERIFY(!samples.isEmpty());
        QVERIFY(m_sound.writeSamples(m_microphones.value(kMicrophoneName), samples));
        // Every chunk of the clip, and one second more, has gone out.
        const int chunks = static_cast<int>(samples.size() / 3200) + 10;
        QVERIFY(waitUntil([&] { return vm->audioFramesSent() >= chunks; }, kHearDeadlineMs));
        QCOMPARE(vm->outgoingAudioPeak(), 0.0);
        QVERIFY2(m_core->stopRecording(&why), qPrintable(why));

        QCOMPARE(vm->transcriptText(), QString());
        QVERIFY(!QFile::exists(
            QDir(m_core->historyFolder()).filePath(sessionId + QStringLiteral(".json"))));
        QVERIFY(QDir(m_core->exportFolder())
                    .entryList({sessionId + QStringLiteral("-*")}, QDir::Files)
                    .isEmpty());
    }
};

VERNALO_TEST_MAIN(SpeechEndToEndTest)
#include "test_speech_e2e.moc"
