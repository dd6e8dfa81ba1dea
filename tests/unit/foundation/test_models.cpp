#include "foundation/models.h"
#include "support/test_environment.h"
#include "wire/json_fields.h"

#include <QJsonDocument>
#include <QtTest>

using namespace vernalo;

class ModelsTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void presetRecognition_data()
    {
        QTest::addColumn<double>("mic");
        QTest::addColumn<double>("system");
        QTest::addColumn<bool>("autoDuck");
        QTest::addColumn<double>("ducking");
        QTest::addColumn<bool>("limiter");
        QTest::addColumn<QString>("expected");

        QTest::newRow("meeting within tolerance")
            << 1.02 << 0.98 << true << 0.49 << true << "meeting";
        QTest::newRow("meeting, limiter off") << 1.02 << 0.98 << true << 0.49 << false << "custom";
        QTest::newRow("gain exactly 0.03 away")
            << 1.03 << 0.97 << true << 0.45 << true << "meeting";
        QTest::newRow("ducking exactly 0.05 away")
            << 1.0 << 1.0 << true << 0.40 << true << "meeting";
        QTest::newRow("gain just outside") << 1.031 << 1.0 << true << 0.45 << true << "custom";
        QTest::newRow("meeting without duck") << 1.0 << 1.0 << false << 0.45 << true << "custom";
        QTest::newRow("interview") << 1.15 << 0.72 << true << 0.65 << true << "interview";
        QTest::newRow("webinar") << 0.85 << 1.2 << false << 0.0 << true << "webinar";
        QTest::newRow("webinar with duck on") << 0.85 << 1.2 << true << 0.0 << true << "custom";
        QTest::newRow("stored defaults are not a preset")
            << 1.0 << 1.0 << true << 0.55 << true << "custom";
    }
    void presetRecognition()
    {
        QFETCH(double, mic);
        QFETCH(double, system);
        QFETCH(bool, autoDuck);
        QFETCH(double, ducking);
        QFETCH(bool, limiter);
        QFETCH(QString, expected);
        QCOMPARE(rawValue(recognizeMixPreset({mic, system, autoDuck, ducking, limiter})), expected);
    }

    void everyPresetRecognizesItsOwnValues()
    {
        for (auto preset : kSelectableMixPresets)
            QCOMPARE(recognizeMixPreset(*mixSettings(preset)), preset);
        QVERIFY(!mixSettings(MixPreset::Custom));
    }

    void enumRawValues_data()
    {
        QTest::addColumn<QString>("raw");
        QTest::addColumn<bool>("known");
        QTest::newRow("mixed") << "microphoneAndSystem" << true;
        QTest::newRow("system") << "systemAudio" << true;
        QTest::newRow("abbreviation") << "mic" << false;
        QTest::newRow("wrong case") << "Microphone" << false;
        QTest::newRow("empty") << "" << false;
    }
    void enumRawValues()
    {
        QFETCH(QString, raw);
        QFETCH(bool, known);
        const auto mode = audioInputModeFromRaw(raw);
        QCOMPARE(mode.has_value(), known);
        if (mode)
            QCOMPARE(rawValue(*mode), raw);
    }

    void segmentWithoutSpeakerOmitsKey()
    {
        const TranscriptSegment segment {QUuid::createUuid(), QStringLiteral("Hei kaikki"),
                                         fromReferenceSeconds(789.5), std::nullopt};
        const QJsonObject json = segment.toJson(DateCoding::ReferenceSeconds);
        QVERIFY(!json.contains(QStringLiteral("speakerLabel")));
        QCOMPARE(json.value(QStringLiteral("timestamp")).toDouble(), 789.5);
        // Stored UUIDs are the upper-case form.
        QCOMPARE(json.value(QStringLiteral("id")).toString(), uuidText(segment.id));
        QVERIFY(json.value(QStringLiteral("id")).toString() ==
                json.value("id").toString().toUpper());
        const auto back = TranscriptSegment::fromJson(json, DateCoding::ReferenceSeconds);
        QVERIFY(back);
        QCOMPARE(*back, segment);
        QVERIFY(!back->speakerLabel);
    }

    void segmentIso8601RoundTrip()
    {
        const TranscriptSegment segment {QUuid::createUuid(), QStringLiteral("Päätetään"),
                                         QDateTime(QDate(2026, 3, 1), QTime(8, 30, 15), Qt::UTC),
                                         QStringLiteral("Puhuja 1")};
        const QJsonObject json = segment.toJson(DateCoding::Iso8601);
        QCOMPARE(json.value(QStringLiteral("timestamp")).toString(), "2026-03-01T08:30:15Z");
        QCOMPARE(*TranscriptSegment::fromJson(json, DateCoding::Iso8601), segment);
    }

    void segmentDecodingFailures_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<QString>("errorPrefix");
        const QByteArray id = "\"id\":\"0B5E1F9C-5B2A-4C8E-9D1A-2E7F3C4B5A69\"";
        QTest::newRow("missing text") << "{" + id + ",\"timestamp\":1}"
                                      << "text: missing";
        QTest::newRow("text not a string") << "{" + id + ",\"text\":5,\"timestamp\":1}"
                                           << "text: expected string";
        QTest::newRow("timestamp as string") << "{" + id + ",\"text\":\"a\",\"timestamp\":\"1\"}"
                                             << "timestamp: expected number";
        QTest::newRow("bad uuid") << QByteArray(R"({"id":"nope","text":"a","timestamp":1})")
                                  << "id: expected UUID";
        QTest::newRow("speaker wrong type")
            << "{" + id + R"(,"text":"a","timestamp":1,"speakerLabel":3})"
            << "speakerLabel: expected string";
    }
    void segmentDecodingFailures()
    {
        QFETCH(QByteArray, json);
        QFETCH(QString, errorPrefix);
        QString error;
        const auto segment = TranscriptSegment::fromJson(QJsonDocument::fromJson(json).object(),
                                                         DateCoding::ReferenceSeconds, &error);
        QVERIFY(!segment);
        QCOMPARE(error, errorPrefix);
    }

    void nullSpeakerCountsAsAbsent()
    {
        const QByteArray json =
            R"({"id":"0B5E1F9C-5B2A-4C8E-9D1A-2E7F3C4B5A69","text":"a","timestamp":0,"speakerLabel":null})";
        const auto segment = TranscriptSegment::fromJson(QJsonDocument::fromJson(json).object(),
                                                         DateCoding::ReferenceSeconds);
        QVERIFY(segment);
        QVERIFY(!segment->speakerLabel);
        QCOMPARE(segment->timestamp, QDateTime(QDate(2001, 1, 1), QTime(0, 0), Qt::UTC));
    }

    void deviceOptionRejectsOutOfRangeId_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<bool>("valid");
        QTest::newRow("max uint32")
            << QByteArray(R"({"id":4294967295,"name":"a","isVirtual":false})") << true;
        QTest::newRow("negative") << QByteArray(R"({"id":-1,"name":"a","isVirtual":false})")
                                  << false;
        QTest::newRow("too large")
            << QByteArray(R"({"id":4294967296,"name":"a","isVirtual":false})") << false;
        QTest::newRow("fraction") << QByteArray(R"({"id":1.5,"name":"a","isVirtual":false})")
                                  << false;
        QTest::newRow("missing id") << QByteArray(R"({"name":"a","isVirtual":false})") << false;
    }
    void deviceOptionRejectsOutOfRangeId()
    {
        QFETCH(QByteArray, json);
        QFETCH(bool, valid);
        QCOMPARE(
            AudioInputDeviceOption::fromJson(QJsonDocument::fromJson(json).object()).has_value(),
            valid);
    }
};

VERNALO_TEST_MAIN(ModelsTest)
#include "test_models.moc"
