#include "support/test_environment.h"
#include "wire/app_update_manifest.h"
#include "wire/health_response.h"
#include "wire/session_records.h"
#include "wire/stream_event.h"
#include "wire/stream_messages.h"
#include "wire/summary_records.h"
#include "wire/wire_coding.h"

#include <QJsonDocument>
#include <QtTest>

using namespace vernalo;

namespace {

// Decodes `body` as the named record and re-encodes it, so one table can cover every record.
std::optional<QJsonObject> roundTrip(const QString &record, const QByteArray &body)
{
    const auto encode = [](const auto &decoded) -> std::optional<QJsonObject> {
        if (!decoded)
            return std::nullopt;
        return decoded->toJson();
    };
    if (record == u"create-request")
        return encode(wire::decode<STTSessionCreateRequest>(body));
    if (record == u"create")
        return encode(wire::decode<STTSessionCreateResponse>(body));
    if (record == u"transcript")
        return encode(wire::decode<ServerTranscriptResponse>(body));
    if (record == u"meta")
        return encode(wire::decode<SessionMetaResponse>(body));
    if (record == u"list")
        return encode(wire::decode<SessionListResponse>(body));
    if (record == u"health")
        return encode(wire::decode<HealthResponse>(body));
    if (record == u"summary-request")
        return encode(wire::decode<SummaryGenerateRequest>(body));
    if (record == u"summary")
        return encode(wire::decode<SummaryPayload>(body));
    if (record == u"manifest")
        return encode(wire::decode<AppUpdateManifest>(body));
    qFatal("unknown record %s", qPrintable(record));
}

QJsonObject object(const QByteArray &json)
{
    return QJsonDocument::fromJson(json).object();
}

const QDateTime kNow(QDate(2026, 1, 5), QTime(9, 0), Qt::UTC);

} // namespace

class WireRecordsTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    // Every record: what decodes, what fails, and that re-encoding gives back exactly the keys
    // that carried values (nulls and unknown keys gone, absent optionals left out).
    void decodeAndEncode_data()
    {
        QTest::addColumn<QString>("record");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<bool>("decodes");
        QTest::addColumn<QByteArray>("encoded"); // empty: same as the body

        // clang-format off
        QTest::newRow("create: complete") << "create" << R"({"sessionId":"s1","wsUrl":"ws://h/s","token":"t"})"_qba << true << ""_qba;
        QTest::newRow("create: unknown key ignored") << "create" << R"({"sessionId":"s1","wsUrl":"ws://h/s","token":"t","x":[1]})"_qba << true << R"({"sessionId":"s1","wsUrl":"ws://h/s","token":"t"})"_qba;
        QTest::newRow("create: token missing") << "create" << R"({"sessionId":"s1","wsUrl":"ws://h/s"})"_qba << false << ""_qba;
        QTest::newRow("create: sessionId a number") << "create" << R"({"sessionId":7,"wsUrl":"ws://h/s","token":"t"})"_qba << false << ""_qba;
        QTest::newRow("create: invalid UTF-8 in a string") << "create" << "{\"sessionId\":\"s\xff\",\"wsUrl\":\"w\",\"token\":\"t\"}"_qba << false << ""_qba;
        // clang-format on

        // clang-format off
        QTest::newRow("create request: all fields") << "create-request" << R"({"language":"fi-FI","enableInterim":true,"sttModel":"chirp_3","enableSpeakerDiarization":false,"speakerCount":0})"_qba << true << ""_qba;
        QTest::newRow("create request: speakerCount fractional") << "create-request" << R"({"language":"fi-FI","enableInterim":true,"sttModel":"m","enableSpeakerDiarization":false,"speakerCount":1.5})"_qba << false << ""_qba;
        // clang-format on

        // clang-format off
        QTest::newRow("transcript: segments with optional fields") << "transcript" << R"({"sessionId":"s","segments":[{"text":"a"},{"text":"b","ts":"2026-01-02T03:04:05.120Z","speakerLabel":"S1"}]})"_qba << true << ""_qba;
        QTest::newRow("transcript: null optionals dropped") << "transcript" << R"({"sessionId":"s","segments":[{"text":"a","ts":null,"speakerLabel":null}]})"_qba << true << R"({"sessionId":"s","segments":[{"text":"a"}]})"_qba;
        QTest::newRow("transcript: segments missing") << "transcript" << R"({"sessionId":"s"})"_qba << false << ""_qba;
        QTest::newRow("transcript: segment without text") << "transcript" << R"({"sessionId":"s","segments":[{"text":"a"},{"ts":"x"}]})"_qba << false << ""_qba;
        QTest::newRow("transcript: speakerLabel a number") << "transcript" << R"({"sessionId":"s","segments":[{"text":"a","speakerLabel":2}]})"_qba << false << ""_qba;
        // clang-format on

        // clang-format off
        QTest::newRow("meta: empty object") << "meta" << "{}"_qba << true << ""_qba;
        QTest::newRow("meta: every field") << "meta" << R"({"id":"s","status":"live","createdAt":"a","endedAt":"b","language":"fi-FI","sttModel":"m","audioFrameCount":12,"audioBytes":38400,"avgAudioLevel":0.25,"peakAudioLevel":1,"interimCount":3,"finalCount":2,"segmentCount":2,"lastSttError":{"at":"c","code":7,"message":"quota"}})"_qba << true << ""_qba;
        QTest::newRow("meta: count as string") << "meta" << R"({"audioFrameCount":"12"})"_qba << false << ""_qba;
        QTest::newRow("meta: error info code as string") << "meta" << R"({"lastSttError":{"code":"7"}})"_qba << false << ""_qba;
        // clang-format on

        // clang-format off
        QTest::newRow("list: two items") << "list" << R"({"items":[{"id":"a"},{"id":"b","status":"stopped"}]})"_qba << true << ""_qba;
        QTest::newRow("list: one bad item fails all") << "list" << R"({"items":[{"id":"a"},{"id":5}]})"_qba << false << ""_qba;
        // clang-format on

        // clang-format off
        QTest::newRow("health: minimal") << "health" << R"({"ok":true,"time":"t"})"_qba << true << ""_qba;
        QTest::newRow("health: ok as string") << "health" << R"({"ok":"true","time":"t"})"_qba << false << ""_qba;
        QTest::newRow("health: memoAI configured null") << "health" << R"({"ok":true,"time":"t","memoAI":{"configured":null,"model":"m"}})"_qba << true << R"({"ok":true,"time":"t","memoAI":{"model":"m"}})"_qba;
        // clang-format on

        // clang-format off
        QTest::newRow("summary request: optional speaker") << "summary-request" << R"({"transcriptSegments":[{"text":"a","ts":"10:00:01"},{"text":"b","ts":"10:00:02","speakerLabel":"S2"}]})"_qba << true << ""_qba;
        QTest::newRow("summary request: ts missing") << "summary-request" << R"({"transcriptSegments":[{"text":"a"}]})"_qba << false << ""_qba;
        // clang-format on

        // clang-format off
        QTest::newRow("summary: content fields optional") << "summary" << R"({"sessionId":"s","createdAt":"c","summary":{}})"_qba << true << ""_qba;
        QTest::newRow("summary: full content") << "summary" << R"({"sessionId":"s","createdAt":"c","summary":{"memoType":"meeting","confidence":0.8,"title":"T","summary":"S","cleanTranscript":"C"}})"_qba << true << ""_qba;
        QTest::newRow("summary: content missing") << "summary" << R"({"sessionId":"s","createdAt":"c"})"_qba << false << ""_qba;
        QTest::newRow("summary: confidence as string") << "summary" << R"({"sessionId":"s","createdAt":"c","summary":{"confidence":"high"}})"_qba << false << ""_qba;
        // clang-format on

        // clang-format off
        QTest::newRow("manifest: version only") << "manifest" << R"({"version":"1.2.0"})"_qba << true << ""_qba;
        QTest::newRow("manifest: full") << "manifest" << R"({"app":"vernalo","channel":"stable","version":"2.0.0","buildNumber":"88","publishedAt":"p","minimumSystemVersion":"12","downloadURL":"https://d/x","releaseNotesURL":"https://d/n","artifacts":{"zip":{"file":"v.zip","sha256":"ab","size":1024,"url":"https://d/v.zip"}}})"_qba << true << ""_qba;
        QTest::newRow("manifest: version missing") << "manifest" << R"({"downloadURL":"https://d"})"_qba << false << ""_qba;
        QTest::newRow("manifest: artifact without file") << "manifest" << R"({"version":"1","artifacts":{"dmg":{"url":"u"}}})"_qba << false << ""_qba;
        QTest::newRow("manifest: artifact size as string") << "manifest" << R"({"version":"1","artifacts":{"zip":{"file":"f","size":"1"}}})"_qba << false << ""_qba;
        // clang-format on
    }
    void decodeAndEncode()
    {
        QFETCH(QString, record);
        QFETCH(QByteArray, body);
        QFETCH(bool, decodes);
        QFETCH(QByteArray, encoded);

        const auto result = roundTrip(record, body);
        QCOMPARE(result.has_value(), decodes);
        if (decodes)
            QCOMPARE(*result, object(encoded.isEmpty() ? body : encoded));
    }

    void internetDateTime_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QDateTime>("expected"); // invalid: rejected

        const QDateTime t(QDate(2026, 3, 1), QTime(10, 20, 30), Qt::UTC);
        // clang-format off
        QTest::newRow("Z") << "2026-03-01T10:20:30Z" << t;
        QTest::newRow("positive offset") << "2026-03-01T12:20:30+02:00" << t;
        QTest::newRow("negative offset") << "2026-03-01T05:20:30-05:00" << t;
        QTest::newRow("offset without colon") << "2026-03-01T12:20:30+0200" << t;
        QTest::newRow("fractional seconds") << "2026-03-01T10:20:30.5Z" << QDateTime();
        QTest::newRow("no zone") << "2026-03-01T10:20:30" << QDateTime();
        QTest::newRow("no seconds") << "2026-03-01T10:20Z" << QDateTime();
        QTest::newRow("space separator") << "2026-03-01 10:20:30Z" << QDateTime();
        QTest::newRow("month 13") << "2026-13-01T10:20:30Z" << QDateTime();
        QTest::newRow("hour 24") << "2026-03-01T24:00:00Z" << QDateTime();
        QTest::newRow("offset hour 24") << "2026-03-01T10:20:30+24:00" << QDateTime();
        QTest::newRow("trailing text") << "2026-03-01T10:20:30Zx" << QDateTime();
        // clang-format on
    }
    void internetDateTime()
    {
        QFETCH(QString, text);
        QFETCH(QDateTime, expected);
        const auto parsed = parseInternetDateTime(text);
        QCOMPARE(parsed.has_value(), expected.isValid());
        if (parsed)
            QCOMPARE(*parsed, expected);
    }

    // Server frames and the event each gives; "none" means the frame is dropped.
    void streamEvents_data()
    {
        QTest::addColumn<QByteArray>("frame");
        QTest::addColumn<QByteArray>("event"); // the event re-encoded, or "none"

        // clang-format off
        QTest::newRow("partial") << R"({"type":"partial","text":"hei"})"_qba << R"({"type":"partial","text":"hei"})"_qba;
        QTest::newRow("partial, text a number") << R"({"type":"partial","text":5})"_qba << R"({"type":"partial","text":""})"_qba;
        QTest::newRow("final with speaker and zone") << R"({"type":"final","text":"moi","speakerLabel":"S1","ts":"2026-03-01T12:00:01+02:00"})"_qba << R"({"type":"final","text":"moi","speakerLabel":"S1","ts":"2026-03-01T10:00:01Z"})"_qba;
        QTest::newRow("final, fractional ts takes now") << R"({"type":"final","text":"a","ts":"2026-03-01T10:00:01.250Z"})"_qba << R"({"type":"final","text":"a","ts":"2026-01-05T09:00:00Z"})"_qba;
        QTest::newRow("final, no ts or text, speaker not a string") << R"({"type":"final","speakerLabel":3})"_qba << R"({"type":"final","text":"","ts":"2026-01-05T09:00:00Z"})"_qba;
        QTest::newRow("status with model") << R"({"type":"status","state":"live","sttModel":"m"})"_qba << R"({"type":"status","state":"live","sttModel":"m"})"_qba;
        QTest::newRow("status without state") << R"({"type":"status","sttModel":null})"_qba << R"({"type":"status","state":""})"_qba;
        QTest::newRow("error without message") << R"({"type":"error"})"_qba << R"({"type":"error","message":"Tuntematon virhe"})"_qba;
        QTest::newRow("error message not a string") << R"({"type":"error","message":{}})"_qba << R"({"type":"error","message":"Tuntematon virhe"})"_qba;
        QTest::newRow("unknown type") << R"({"type":"audio","text":"x"})"_qba << "none"_qba;
        QTest::newRow("type wrong case") << R"({"type":"Partial","text":"x"})"_qba << "none"_qba;
        QTest::newRow("type not a string") << R"({"type":1})"_qba << "none"_qba;
        QTest::newRow("no type") << R"({"text":"x"})"_qba << "none"_qba;
        QTest::newRow("array") << R"([{"type":"partial"}])"_qba << "none"_qba;
        QTest::newRow("not JSON") << "partial: hei"_qba << "none"_qba;
        QTest::newRow("empty") << ""_qba << "none"_qba;
        QTest::newRow("invalid UTF-8") << "{\"type\":\"partial\",\"text\":\"\xc3\x28\"}"_qba << "none"_qba;
        // clang-format on
    }
    void streamEvents()
    {
        QFETCH(QByteArray, frame);
        QFETCH(QByteArray, event);
        const auto parsed = StreamEvent::parse(frame, kNow);
        if (event == "none") {
            QVERIFY(!parsed);
            return;
        }
        QVERIFY(parsed);
        QCOMPARE(parsed->toJson(), object(event));
        // What a server encodes, the client reads back unchanged.
        QCOMPARE(StreamEvent::parse(wire::compact(parsed->toJson()), kNow.addDays(1)), parsed);
    }

    void clientMessages_data()
    {
        QTest::addColumn<QByteArray>("frame");
        QTest::addColumn<QString>("kind"); // start, stop, audio or none
        // clang-format off
        QTest::newRow("start") << StreamClientMessage::startFrame("sv-SE", "long") << "start";
        QTest::newRow("stop") << StreamClientMessage::stopFrame() << "stop";
        QTest::newRow("audio") << StreamClientMessage::audioFrame("\x00\x01\xff"_qba) << "audio";
        QTest::newRow("audio, bad Base64") << R"({"type":"audio","audioBase64":"@@@"})"_qba << "none";
        QTest::newRow("audio, payload missing") << R"({"type":"audio"})"_qba << "none";
        QTest::newRow("start without sampleRate") << R"({"type":"start","language":"fi-FI","enableInterim":true,"sttModel":"m","enableSpeakerDiarization":false,"speakerCount":0})"_qba << "none";
        QTest::newRow("unknown") << R"({"type":"ping"})"_qba << "none";
        // clang-format on
    }
    void clientMessages()
    {
        QFETCH(QByteArray, frame);
        QFETCH(QString, kind);
        const auto message = StreamClientMessage::parse(frame);
        if (kind == u"none") {
            QVERIFY(!message);
            return;
        }
        QVERIFY(message);
        if (kind == u"start") {
            const auto *start = std::get_if<StreamStartMessage>(&message->value);
            QVERIFY(start);
            QCOMPARE(start->language, QStringLiteral("sv-SE"));
            QCOMPARE(start->sttModel, QStringLiteral("long"));
            QCOMPARE(start->sampleRate, 16000);
        } else if (kind == u"audio") {
            const auto *audio = std::get_if<StreamClientMessage::Audio>(&message->value);
            QVERIFY(audio);
            QCOMPARE(audio->pcm, "\x00\x01\xff"_qba);
        } else {
            QVERIFY(std::holds_alternative<StreamClientMessage::Stop>(message->value));
        }
    }
};

VERNALO_TEST_MAIN(WireRecordsTest)
#include "test_wire_records.moc"
