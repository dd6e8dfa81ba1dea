#include "foundation/models.h"
#include "support/test_environment.h"
#include "wire/json_fields.h"
#include "wire/wire_coding.h"

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

        // clang-format off
        QTest::newRow("meeting within tolerance") << 1.02 << 0.98 << true << 0.49 << true << "meeting";
        QTest::newRow("meeting, limiter off") << 1.02 << 0.98 << true << 0.49 << false << "custom";
        QTest::newRow("gain exactly 0.03 away") << 1.03 << 0.97 << true << 0.45 << true << "meeting";
        QTest::newRow("ducking exactly 0.05 away") << 1.0 << 1.0 << true << 0.40 << true << "meeting";
        QTest::newRow("gain just outside") << 1.031 << 1.0 << true << 0.45 << true << "custom";
        QTest::newRow("webinar") << 0.85 << 1.2 << false << 0.0 << true << "webinar";
        QTest::newRow("webinar with duck on") << 0.85 << 1.2 << true << 0.0 << true << "custom";
        QTest::newRow("stored defaults are not a preset") << 1.0 << 1.0 << true << 0.55 << true << "custom";
        // clang-format on
    }
    void presetRecognition()
    {
        QFETCH(double, mic);
        QFETCH(double, system);
        QFETCH(bool, autoDuck);
        QFETCH(double, ducking);
        QFETCH(bool, limiter);
        QTEST(rawValue(recognizeMixPreset({mic, system, autoDuck, ducking, limiter})), "expected");
    }

    void everyPresetRecognizesItsOwnValues()
    {
        for (auto preset : kSelectableMixPresets)
            QCOMPARE(recognizeMixPreset(*mixSettings(preset)), preset);
        QVERIFY(!mixSettings(MixPreset::Custom));
    }

    // Stored dates are seconds since 2001-01-01 UTC, rounded to the millisecond.
    void referenceSeconds_data()
    {
        QTest::addColumn<double>("seconds");
        QTest::addColumn<QDateTime>("date");
        const QDateTime epoch(QDate(2001, 1, 1), QTime(0, 0), Qt::UTC);
        QTest::newRow("epoch") << 0.0 << epoch;
        QTest::newRow("rounded up") << 789.1236 << epoch.addMSecs(789124);
        QTest::newRow("rounded down") << 789.1234 << epoch.addMSecs(789123);
        QTest::newRow("before the epoch") << -0.0006 << epoch.addMSecs(-1);
    }
    void referenceSeconds()
    {
        QFETCH(double, seconds);
        QTEST(fromReferenceSeconds(seconds), "date");
    }

    // Stored segments: upper-case UUIDs, no key for an absent speaker, null read as absent, and
    // each date coding read back to the same segment.
    void segmentCoding_data()
    {
        QTest::addColumn<bool>("iso");
        QTest::addColumn<QByteArray>("json");
        const QByteArray id = R"({"id":"0B5E1F9C-5B2A-4C8E-9D1A-2E7F3C4B5A69",)";
        const QByteArray text = R"("text":"Hei",)";
        // clang-format off
        QTest::newRow("seconds, no speaker") << false << id + text + R"("timestamp":789.5})";
        QTest::newRow("ISO date and speaker") << true << id + R"("speakerLabel":"Puhuja 1",)" + text + R"("timestamp":"2026-03-01T08:30:15Z"})";
        QTest::newRow("null speaker") << false << id + R"("speakerLabel":null,)" + text + R"("timestamp":0})";
        // clang-format on
    }
    void segmentCoding()
    {
        QFETCH(bool, iso);
        QFETCH(QByteArray, json);
        const DateCoding coding = iso ? DateCoding::Iso8601 : DateCoding::ReferenceSeconds;
        const auto segment =
            TranscriptSegment::fromJson(QJsonDocument::fromJson(json).object(), coding);
        QVERIFY(segment);
        QCOMPARE(segment->speakerLabel.has_value(), json.contains("Puhuja"));
        QCOMPARE(wire::compact(segment->toJson(coding)),
                 QByteArray(json).replace(R"("speakerLabel":null,)", ""));
    }

    void deviceOptionRejectsOutOfRangeId_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<bool>("valid");
        // clang-format off
        QTest::newRow("max uint32") << QByteArray(R"({"id":4294967295,"name":"a","isVirtual":false})") << true;
        QTest::newRow("negative") << QByteArray(R"({"id":-1,"name":"a","isVirtual":false})") << false;
        QTest::newRow("too large") << QByteArray(R"({"id":4294967296,"name":"a","isVirtual":false})") << false;
        QTest::newRow("fraction") << QByteArray(R"({"id":1.5,"name":"a","isVirtual":false})") << false;
        QTest::newRow("missing id") << QByteArray(R"({"name":"a","isVirtual":false})") << false;
        // clang-format on
    }
    void deviceOptionRejectsOutOfRangeId()
    {
        QFETCH(QByteArray, json);
        QTEST(AudioInputDeviceOption::fromJson(QJsonDocument::fromJson(json).object()).has_value(),
              "valid");
    }
};

VERNALO_TEST_MAIN(ModelsTest)
#include "test_models.moc"
