#include "audio/outgoing_audio_pipeline.h"
#include "support/fake_clock.h"
#include "support/test_environment.h"
#include "support/tone_analysis.h"

#include <QSignalSpy>
#include <QtTest>

using namespace vernalo;
using namespace vernalo::test;

Q_DECLARE_METATYPE(vernalo::AudioInputMode)

namespace {

constexpr auto kMixed = AudioInputMode::MicrophoneAndSystem;

// Chunks carry one value each so that every chunk on the wire can be traced to its source.
int micValue(int index)
{
    return 1000 * index;
}
int systemValue(int index)
{
    return -700 * index;
}

// Drives one pipeline from a script: "m" / "m1280" pushes a microphone chunk (3200 bytes unless
// given), "s…" a system chunk, "r" a raw system sample, "p" / "u" pause and unpause, "k" a
// keep-alive tick, "w…" that many milliseconds passing, "@…" a change of input mode.
struct Harness
{
    FakeClock clock;
    OutgoingAudioPipeline pipeline {&clock};
    QList<QByteArray> sent;
    QList<int> micSizes, systemSizes;

    void activate(AudioInputMode mode)
    {
        pipeline.activate(mode, [this](const QByteArray &chunk) { sent << chunk; });
    }

    void run(const QString &script)
    {
        for (const QString &token : script.split(u' ', Qt::SkipEmptyParts)) {
            const int bytes = token.size() > 1 ? token.mid(1).toInt() : 3200;
            if (token[0] == u'm') {
                micSizes << bytes;
                pipeline.pushMicrophoneChunk(constantChunk(micValue(micSizes.size()), bytes));
            } else if (token[0] == u's') {
                systemSizes << bytes;
                pipeline.pushSystemChunk(constantChunk(systemValue(systemSizes.size()), bytes));
            } else if (token == u"r") {
                pipeline.noteSystemRawSample();
            } else if (token == u"k") {
                pipeline.sendKeepAlive();
            } else if (token[0] == u'w') {
                clock.advance(std::chrono::milliseconds(bytes));
            } else if (token[0] == u'@') {
                pipeline.setMode(token == u"@m"       ? AudioInputMode::Microphone
                                     : token == u"@s" ? AudioInputMode::SystemAudio
                                                      : kMixed);
            } else {
                pipeline.setPaused(token == u"p");
            }
        }
    }

    // "m3" is microphone chunk 3 alone, "m1+s2" their mix, "0:n" n zero bytes; ":n" gives the
    // length when it is not the pushed (or shorter pushed) chunk's.
    QByteArray expected(const QString &token) const
    {
        const QStringList parts = token.split(u':');
        const QStringList sources = parts[0].split(u'+');
        auto lengthOf = [&](const QString &source) {
            const int index = source.mid(1).toInt();
            return source[0] == u'm' ? micSizes.value(index - 1) : systemSizes.value(index - 1);
        };
        int bytes = 0;
        if (parts.size() > 1)
            bytes = parts[1].toInt();
        else
            for (const QString &source : sources)
                bytes = bytes ? std::min(bytes, lengthOf(source)) : lengthOf(source);
        auto chunkOf = [&](const QString &source) {
            const int index = source.mid(1).toInt();
            return constantChunk(source[0] == u'm' ? micValue(index) : systemValue(index), bytes);
        };
        if (sources[0] == u"0")
            return QByteArray(bytes, '\0');
        if (sources.size() == 1)
            return chunkOf(sources[0]);
        // The mixer's own samples are checked against hand-worked values in its own test; here
        // only the pairing matters.
        return mixPCM16(chunkOf(sources[0]), chunkOf(sources[1]), pipeline.mixSettings());
    }
    QList<QByteArray> wire(const QString &tokens) const
    {
        QList<QByteArray> out;
        for (const QString &token : tokens.split(u' ', Qt::SkipEmptyParts))
            out << expected(token);
        return out;
    }
};

} // namespace

class OutgoingAudioPipelineTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    // "script => wire": the steps, then the chunks expected on the wire in order.
    void routing_data()
    {
        QTest::addColumn<AudioInputMode>("mode");
        QTest::addColumn<QString>("script");
        // Chunks waiting (microphone, system), then frames seen (microphone, system, raw); none
        // to leave them unchecked.
        QTest::addColumn<QList<int>>("counts");
        const auto mic = AudioInputMode::Microphone;
        const auto system = AudioInputMode::SystemAudio;
        // clang-format off
        QTest::newRow("pairs in step") << kMixed << "m s m s => m1+s1 m2+s2" << QList {0, 0, 2, 2, 0};
        QTest::newRow("system silent: two wait, then one alone per arrival") << kMixed << "m m m m m => m1 m2 m3" << QList {2, 0, 5, 0, 0};
        QTest::newRow("microphone silent") << kMixed << "r s r s s s => s1 s2" << QList {0, 2, 0, 4, 2};
        QTest::newRow("system five chunks late") << kMixed << "m m m m m s s s => m1 m2 m3 m4+s1 m5+s2" << QList {0, 1, 5, 3, 0};
        QTest::newRow("system stops") << kMixed << "m s m s m m m m => m1+s1 m2+s2 m3 m4" << QList {2, 0, 6, 2, 0};
        QTest::newRow("long microphone chunk shared by short system chunks")
            << kMixed << "m s1280 s1280 s1280 => m1+s1 m1+s2 m1+s3:640" << QList {0, 1, 1, 3, 0};
        QTest::newRow("shortest system chunks fill one microphone chunk")
            << kMixed << "s640 m s640 s640 s640 s640 s640 => m1+s1 m1+s2 m1+s3 m1+s4 m1+s5"
            << QList {0, 1, 1, 6, 0};
        QTest::newRow("two bytes over wait for the next microphone chunk") << kMixed << "m s3202 => m1+s1" << QList {0, 1, 1, 1, 0};
        QTest::newRow("a single sample is mixed") << kMixed << "m2 s => m1+s1" << QList {0, 1, 1, 1, 0};
        QTest::newRow("one-byte member: pair dropped") << kMixed << "m1 s m s => m2+s2" << QList {0, 0, 2, 2, 0};
        QTest::newRow("empty member: pair dropped") << kMixed << "m s0 m s => m2+s2" << QList {0, 0, 2, 2, 0};
        QTest::newRow("trailing odd byte does not cost a system chunk") << kMixed << "m3201 s s m => m1+s1 m2+s2" << QList {0, 0, 2, 2, 0};
        QTest::newRow("paused pair goes out as silence") << kMixed << "p m s1280 u s1280 => 0:1280 m1+s2" << QList {1, 0, 1, 2, 0};
        QTest::newRow("microphone mode ignores system audio") << mic << "m s r m => m1 m2" << QList {0, 0, 2, 0, 0};
        QTest::newRow("microphone mode paused") << mic << "m p m u m => m1 0:3200 m3" << QList {0, 0, 3, 0, 0};
        QTest::newRow("system mode passes short chunks as they are") << system << "r s640 m s => s1 s2" << QList {0, 0, 0, 2, 1};
        QTest::newRow("system mode paused short chunk") << system << "p s1280 => 0:1280" << QList {0, 0, 0, 1, 0};
        // Keep-alive ticks ("k") and mode switches ("@m", "@s", "@x": microphone, system, both);
        // "ago=" how long ago local audio was last seen (-1: never).
        QTest::newRow("nothing to bridge before the first chunk") << mic << "w5000 k => ago=-1" << QList<int> {};
        QTest::newRow("quiet 1.2 s: not yet") << mic << "m w1200 k => m1 ago=1200" << QList<int> {};
        QTest::newRow("quiet longer: silence, again each tick") << mic << "m w1201 k w900 k => m1 0:3200 0:3200 ago=2101" << QList<int> {};
        QTest::newRow("paused: silence each tick, counted as local audio") << mic << "p w900 k w900 k => 0:3200 0:3200 ago=0" << QList<int> {};
        QTest::newRow("microphone added to system audio") << system << "s @x s s m => s1 m1+s2" << QList<int> {};
        QTest::newRow("back to microphone: its queued chunks still go out") << kMixed << "m m @m m => m1 m2 m3" << QList<int> {};
        QTest::newRow("back to system audio: orphaned microphone chunks dropped") << kMixed << "m m @s s m => s1" << QList<int> {};
        // clang-format on
    }
    void routing()
    {
        QFETCH(AudioInputMode, mode);
        QFETCH(QString, script);
        QFETCH(QList<int>, counts);
        Harness h;
        h.activate(mode);
        h.run(script.section(QStringLiteral(" => "), 0, 0));
        const QString wire = script.section(QStringLiteral(" => "), 1);
        const QList<QByteArray> expected = h.wire(wire.section(QStringLiteral("ago="), 0, 0));
        QCOMPARE(h.sent.size(), expected.size());
        for (qsizetype i = 0; i < expected.size(); ++i)
            QVERIFY2(h.sent[i] == expected[i], qPrintable(QStringLiteral("chunk %1").arg(i)));
        if (!counts.isEmpty())
            QCOMPARE((QList {h.pipeline.pendingMicChunks(), h.pipeline.pendingSystemChunks(),
                             h.pipeline.micFramesSeen(), h.pipeline.systemFramesSeen(),
                             h.pipeline.systemRawSamplesSeen(), int(h.pipeline.audioFramesSent())}),
                     counts + QList {int(expected.size())});
        const QDateTime last = h.pipeline.lastLocalAudioAt();
        if (wire.contains(QStringLiteral("ago=")))
            QCOMPARE(last.isValid() ? last.msecsTo(h.clock.now()) : -1,
                     wire.section(QStringLiteral("ago="), 1).toLongLong());
    }

    void meters_data()
    {
        QTest::addColumn<QList<QByteArray>>("chunks");
        QTest::addColumn<double>("level");
        QTest::addColumn<double>("peak");
        // clang-format off
        QTest::newRow("silence") << QList {QByteArray(3200, '\0')} << 0.0 << 0.0;
        QTest::newRow("negative full scale") << QList {constantChunk(-32768, 3200)} << 1.0 << 1.0;
        QTest::newRow("latest level, loudest peak") << QList {constantChunk(16384, 3200), constantChunk(-8192, 3200)} << 0.25 << 0.5;
        // clang-format on
    }
    void meters()
    {
        QFETCH(QList<QByteArray>, chunks);
        Harness h;
        h.activate(AudioInputMode::Microphone);
        for (const QByteArray &chunk : chunks)
            h.pipeline.pushMicrophoneChunk(chunk);
        QTEST(h.pipeline.micAudioLevel(), "level");
        QTEST(h.pipeline.micAudioPeak(), "peak");
        QTEST(h.pipeline.outgoingAudioLevel(), "level");
        QTEST(h.pipeline.outgoingAudioPeak(), "peak");
    }

    void pausedChunksMeasureSilence()
    {
        Harness h;
        h.activate(AudioInputMode::Microphone);
        h.pipeline.pushMicrophoneChunk(constantChunk(8192, 3200));
        h.pipeline.setPaused(true);
        h.clock.advance(std::chrono::milliseconds(700));
        h.pipeline.pushMicrophoneChunk(constantChunk(16384, 3200));
        QCOMPARE(h.pipeline.outgoingAudioLevel(), 0.0);
        QCOMPARE(h.pipeline.outgoingAudioPeak(), 0.25);
        QCOMPARE(h.pipeline.micAudioLevel(), 0.5); // capture is still watched
        QCOMPARE(h.pipeline.lastLocalAudioAt(), h.clock.now());
    }

    void listeningHints_data()
    {
        QTest::addColumn<int>("sample");
        QTest::addColumn<int>("chunks");
        QTest::addColumn<bool>("paused");
        QTest::addColumn<int>("serverFrames");
        QTest::addColumn<QStringList>("hints");
        const QString waiting = QStringLiteral("Odottaa puhetta...");
        const QString listening = QStringLiteral("Kuuntelen...");
        // clang-format off
        QTest::newRow("silence, 25th chunk") << 0 << 25 << false << 0 << QStringList {waiting};
        QTest::newRow("24 chunks: not yet") << 1000 << 24 << false << 0 << QStringList();
        QTest::newRow("speech") << 1000 << 25 << false << 0 << QStringList {listening};
        // 163/32768 = 0.004974 and 164/32768 = 0.005005 around the 0.005 line.
        QTest::newRow("just below audible") << 163 << 25 << false << 0 << QStringList {waiting};
        QTest::newRow("just audible") << 164 << 25 << false << 0 << QStringList {listening};
        QTest::newRow("every 25 chunks") << 0 << 50 << false << 0 << QStringList {waiting, waiting};
        QTest::newRow("paused: no hint") << 1000 << 25 << true << 0 << QStringList();
        QTest::newRow("backend count moves the cadence") << 1000 << 1 << false << 24 << QStringList {listening};
        // clang-format on
    }
    void listeningHints()
    {
        QFETCH(int, sample);
        QFETCH(int, chunks);
        QFETCH(bool, paused);
        QFETCH(int, serverFrames);
        Harness h;
        h.activate(AudioInputMode::Microphone);
        h.pipeline.setPaused(paused);
        h.pipeline.applyServerAudioStats(serverFrames, std::nullopt, std::nullopt);
        QSignalSpy spy(&h.pipeline, &OutgoingAudioPipeline::listeningHintDue);
        for (int i = 0; i < chunks; ++i)
            h.pipeline.pushMicrophoneChunk(constantChunk(sample, 3200));
        QStringList seen;
        for (const QList<QVariant> &args : spy)
            seen << args[0].toString();
        QTEST(seen, "hints");
    }

    void nothingStaleSurvivesDeactivation()
    {
        Harness h;
        h.activate(kMixed);
        h.run("m m");
        h.pipeline.deactivate();
        QCOMPARE(h.pipeline.pendingMicChunks(), 0);
        h.run("m s");
        QVERIFY(h.sent.isEmpty());
        QCOMPARE(h.pipeline.micFramesSeen(), 2);

        h.activate(kMixed);
        h.run("m m m");
        // Chunks 1 and 2 were queued before the stop and 3 pushed while stopped: the first to
        // go out is the oldest of the new activation.
        QCOMPARE(h.sent, QList {h.expected("m4")});
    }

    void sinkMayEndTheActivation()
    {
        // A stream that fails on send stops the recording from inside the sink; the drain must
        // not send the second pair it already has, nor touch the released sink.
        Harness h;
        int sends = 0;
        h.pipeline.activate(kMixed, [&](const QByteArray &) {
            ++sends;
            h.pipeline.deactivate();
        });
        h.run("s640 s640 m");
        QCOMPARE(sends, 1);
        QCOMPARE(h.pipeline.pendingMicChunks() + h.pipeline.pendingSystemChunks(), 0);
    }
};

VERNALO_TEST_MAIN(OutgoingAudioPipelineTest)
#include "test_outgoing_audio_pipeline.moc"
