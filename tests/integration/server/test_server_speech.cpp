#include "pocketsphinx_recognizer.h"
#include "server_test_support.h"
#include "support/test_environment.h"

#include <QJsonDocument>
#include <QtTest>
#include <zip.h>

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
        QByteArray seen;
        for (const QJsonObject &event : peer.allEvents())
            seen += QJsonDocument(event).toJson(QJsonDocument::Compact) + ' ';
        QVERIFY2(gotFinals, seen.constData());

        QStringList finals;
        for (const QJsonObject &event : peer.events("final"))
            finals << event.value("text").toString();
        QCOMPARE(
            finals,
            (QStringList {"the meeting starts at nine", "please send the report before friday"}));
        QVERIFY(!peer.events("partial").isEmpty());
        QCOMPARE(peer.events("status").at(0).value("sttModel").toString(),
                 QStringLiteral("pocketsphinx-en-us-grammar"));

        const QJsonArray segments = http.stt("GET", "/v1/sessions/" + id + "/transcript")
                                        .json()
                                        .value("segments")
                                        .toArray();
        QCOMPARE(segments.size(), 2);
        QCOMPARE(http.stt("POST", "/v1/sessions/" + id + "/summary").status, 200);
        const HttpResult docx = http.stt("GET", "/v1/sessions/" + id + "/summary/docx");
        QCOMPARE(docx.status, 200);

        zip_error_t zipError;
        zip_error_init(&zipError);
        zip_source_t *source =
            zip_source_buffer_create(docx.body.constData(), docx.body.size(), 0, &zipError);
        zip_t *archive = zip_open_from_source(source, ZIP_RDONLY | ZIP_CHECKCONS, &zipError);
        QVERIFY(archive);
        zip_stat_t stat;
        QCOMPARE(zip_stat(archive, "word/document.xml", 0, &stat), 0);
        QByteArray document(static_cast<qsizetype>(stat.size), Qt::Uninitialized);
        zip_file_t *file = zip_fopen(archive, "word/document.xml", 0);
        QCOMPARE(zip_fread(file, document.data(), stat.size), zip_int64_t(stat.size));
        zip_fclose(file);
        zip_close(archive);
        QVERIFY(document.contains("please send the report before friday"));
        QVERIFY(document.contains("the meeting starts at nine"));
    }
};

VERNALO_TEST_MAIN(ServerSpeechTest)
#include "test_server_speech.moc"
