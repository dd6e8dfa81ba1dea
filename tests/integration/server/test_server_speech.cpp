#include "pocketsphinx_recognizer.h"
#include "server_test_support.h"
#include "support/test_environment.h"

#include <QJsonDocument>
#include <QtTest>

using namespace vernalo;
using namespace vernalo::test;

class ServerSpeechTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void spokenSentencesBecomeFinals()
    {
        const QByteArray pcm = wavSamples(QStringLiteral(VERNALO_SPEECH_WAV));
        QVERIFY2(pcm.size() > 32000, "the speech fixture was not generated");
        const QString grammar = QStringLiteral(VERNALO_SERVER_TEST_DATA "/meeting.jsgf");
        InProcessServer server([grammar]() -> std::unique_ptr<server::RecognizerFactory> {
            return std::make_unique<server::PocketsphinxRecognizerFactory>(
                QStringLiteral(VERNALO_POCKETSPHINX_MODEL_DIR), grammar);
        });
        QString error;
        QVERIFY2(server.start(&error), qPrintable(error));
        HttpCaller http(server.baseUrl());
        const QJsonObject created = http.stt("POST", "/v1/sessions", sessionRequest()).json();
        const QString id = created.value("sessionId").toString();

        StreamPeer peer;
        QVERIFY(peer.open(created.value("wsUrl").toString()));
        peer.sendStart();
        for (qsizetype offset = 0; offset < pcm.size(); offset += 3200)
            peer.sendBinary(pcm.mid(offset, 3200));
        peer.sendStop();
        const bool gotFinals = peer.waitForEvent("final", 2, 60000);
        QVERIFY2(gotFinals, qPrintable(QString::number(peer.allEvents().size()) + " events"));

        QStringList finals;
        for (const QJsonObject &event : peer.events("final"))
            finals << event.value("text").toString();
        QCOMPARE(
            finals,
            (QStringList {"the meeting starts at nine", "please send the report before friday"}));
        QVERIFY(!peer.events("partial").isEmpty());
        QCOMPARE(peer.events("status").at(0).value("sttModel").toString(),
                 QStringLiteral("pocketsphinx-en-us-grammar"));

        QCOMPARE(http.transcriptTexts(id).value_or(QStringList()), finals);
    }
};

VERNALO_TEST_MAIN(ServerSpeechTest)
#include "test_server_speech.moc"
