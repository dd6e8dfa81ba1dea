#include "pulse/monitor_mixer.h"
#include "pulse/stable_source_id.h"
#include "support/test_environment.h"

#include <QtTest>
#include <vector>

using namespace vernalo::pulse;

namespace {

// Stereo frames whose left and right samples are both `value`.
std::vector<float> frames(int count, float value)
{
    return std::vector<float>(size_t(count) * 2, value);
}

QList<float> leftChannel(const std::vector<float> &interleaved)
{
    QList<float> out;
    for (size_t i = 0; i < interleaved.size(); i += 2)
        out.append(interleaved[i]);
    return out;
}

} // namespace

class PulseHelpersTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void aloneInputPassesStraightThrough()
    {
        MonitorMixer mixer(2, 100);
        mixer.addInput(7);
        std::vector<float> in = {0.1f, -0.1f, 0.2f, -0.2f, 0.3f, -0.3f};
        mixer.push(7, in);
        QCOMPARE(mixer.take(), in);
        QVERIFY(mixer.take().empty());
    }

    // Frames leave once every input delivered them, summed sample by sample.
    void inputsAreSummedWhenBothArrived()
    {
        MonitorMixer mixer(2, 100);
        mixer.addInput(1);
        mixer.addInput(2);
        mixer.push(1, frames(10, 0.25f));
        QVERIFY(mixer.take().empty()); // input 2 has not delivered yet
        mixer.push(2, frames(4, 0.5f));
        QCOMPARE(leftChannel(mixer.take()), QList<float>(4, 0.75f));
        mixer.push(2, frames(6, 0.5f));
        QCOMPARE(leftChannel(mixer.take()), QList<float>(6, 0.75f));
    }

    // A paused stream delivers nothing; the other is held back by at most the lag limit.
    void silentInputHoldsTheOthersBackOnlySoLong()
    {
        MonitorMixer mixer(2, 100);
        mixer.addInput(1);
        mixer.addInput(2);
        mixer.push(1, frames(150, 0.25f));
        const std::vector<float> out = mixer.take();
        QCOMPARE(out.size(), size_t(50 * 2));
        QCOMPARE(leftChannel(out), QList<float>(50, 0.25f));
        mixer.push(1, frames(20, 0.25f));
        QCOMPARE(mixer.take().size(), size_t(20 * 2)); // never more than 100 frames behind
    }

    // What an ended stream delivered before ending still leaves; it holds nobody back after.
    void endedInputsTailStillLeaves()
    {
        MonitorMixer mixer(2, 1000);
        mixer.addInput(1);
        mixer.addInput(2);
        mixer.push(1, frames(8, 0.5f));
        mixer.push(2, frames(3, 0.25f));
        QCOMPARE(leftChannel(mixer.take()), QList<float>(3, 0.75f));
        mixer.removeInput(1);
        QVERIFY(!mixer.hasInput(1));
        QCOMPARE(mixer.openInputCount(), 1);
        mixer.push(2, frames(2, 0.25f));
        QCOMPARE(leftChannel(mixer.take()), QList<float>(2, 0.75f));
        mixer.removeInput(2);
        QCOMPARE(leftChannel(mixer.take()), QList<float>(3, 0.5f));
        QVERIFY(mixer.take().empty());
    }

    void movedInputComesBackWithoutLosingAudio()
    {
        MonitorMixer mixer(2, 1000);
        mixer.addInput(1);
        mixer.addInput(2);
        mixer.push(1, frames(4, 0.5f));
        mixer.removeInput(1); // its monitor was killed by the move
        mixer.addInput(1); // recorded again on the new output
        mixer.push(1, frames(2, 0.5f));
        mixer.push(2, frames(6, 0.25f));
        QCOMPARE(leftChannel(mixer.take()), QList<float>(6, 0.75f));
    }

    void tornFramesAndStrangersAreIgnored()
    {
        MonitorMixer mixer(2, 100);
        mixer.addInput(1);
        mixer.push(1, std::vector<float> {0.5f, 0.5f, 0.9f}); // a frame and a half
        mixer.push(9, frames(5, 1.0f)); // never added
        QCOMPARE(mixer.take(), std::vector<float>({0.5f, 0.5f}));
    }

    // Ids are stored in the configuration: they must be the same in every run and version.
    void sourceIdsAreStable_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<quint32>("id");
        // FNV-1a reference values.
        QTest::newRow("empty") << QString() << 2166136261u;
        QTest::newRow("a") << QStringLiteral("a") << 0xe40c292cu;
        QTest::newRow("foobar") << QStringLiteral("foobar") << 0xbf9cf968u;
    }
    void sourceIdsAreStable()
    {
        QFETCH(QString, name);
        QTEST(stableSourceId(name), "id");
    }
};

VERNALO_TEST_MAIN(PulseHelpersTest)
#include "test_pulse_helpers.moc"
