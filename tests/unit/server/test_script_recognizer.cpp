#include "script_recognizer.h"
#include "support/test_environment.h"

#include <QtEndian>
#include <QtTest>

using namespace vernalo::server;

namespace {

// PCM16 of the given length at a constant amplitude (0 = silence).
QByteArray tone(int ms, qint16 amplitude)
{
    QByteArray out(ms * 32, Qt::Uninitialized);
    for (int i = 0; i < ms * 16; ++i)
        qToLittleEndian<qint16>(i % 2 ? amplitude : qint16(-amplitude), out.data() + 2 * i);
    return out;
}

QString describe(const QList<RecognitionEvent> &events)
{
    QStringList parts;
    for (const RecognitionEvent &e : events) {
        switch (e.kind) {
        case RecognitionEvent::Kind::Partial:
            parts << QStringLiteral("partial:") + e.text;
            break;
        case RecognitionEvent::Kind::Final:
            parts << QStringLiteral("final@%1:").arg(e.startMs) +
                    (e.speakerLabel ? *e.speakerLabel + QStringLiteral(":") : QString()) + e.text;
            break;
        case RecognitionEvent::Kind::Status:
            parts << QStringLiteral("status:") + e.state;
            break;
        case RecognitionEvent::Kind::Error:
            parts << QStringLiteral("error:") + e.text;
            break;
        }
    }
    return parts.join(QLatin1Char('|'));
}

// Feeds the audio in chunks of chunkMs and collects everything reported.
QString run(ScriptRecognizer &recognizer, const QByteArray &audio, int chunkBytes)
{
    QList<RecognitionEvent> all;
    for (qsizetype offset = 0; offset < audio.size(); offset += chunkBytes)
        all += recognizer.process(audio.mid(offset, chunkBytes));
    all += recognizer.finish();
    return describe(all);
}

} // namespace

class ScriptRecognizerTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void parse_data()
    {
        QTest::addColumn<QString>("script");
        QTest::addColumn<QString>("expected"); // kind@ms[speaker]text, or the error
        QTest::newRow("sorted by offset, comments and blanks skipped")
            << "# intro\n\n2.5 second one\n1 first one\n"
            << "F@1000[]first one;F@2500[]second one";
        QTest::newRow("speaker label and markers")
            << "0.5 [Anna Virtanen] hei kaikki\n1.25 !error engine broke\n2 !status "
               "stream-restarting"
            << "F@500[Anna Virtanen]hei kaikki;E@1250[]engine broke;S@2000[]stream-restarting";
        QTest::newRow("missing offset") << "hello there"
                                        << "line 1: expected '<seconds> [speaker] text'";
        QTest::newRow("negative offset") << "-1 hello"
                                         << "line 1: expected '<seconds> [speaker] text'";
    }
    void parse()
    {
        QFETCH(QString, script);
        QFETCH(QString, expected);
        QString error;
        const auto entries = parseRecognitionScript(script, &error);
        if (!entries) {
            QCOMPARE(error, expected);
            return;
        }
        QStringList got;
        for (const ScriptEntry &e : *entries) {
            const char kind = e.kind == ScriptEntry::Kind::Final ? 'F'
                : e.kind == ScriptEntry::Kind::Error             ? 'E'
                                                                 : 'S';
            got << QStringLiteral("%1@%2[%3]%4")
                       .arg(QChar::fromLatin1(kind))
                       .arg(e.atMs)
                       .arg(e.speakerLabel.value_or(QString()), e.text);
        }
        QCOMPARE(got.join(QLatin1Char(';')), expected);
    }

    void recognition_data()
    {
        QTest::addColumn<QString>("script");
        QTest::addColumn<QByteArray>("audio");
        QTest::addColumn<int>("chunkBytes");
        QTest::addColumn<bool>("interim");
        QTest::addColumn<qint64>("startOffsetMs");
        QTest::addColumn<QString>("expected");

        const QString script = QStringLiteral("1 one two three four\n2 [B] five\n3 !error boom\n");
        const QByteArray speech = tone(3500, 3000);
        QTest::newRow("finals at their offsets, half-way partial")
            << script << speech << 3200 << true << qint64(0)
            << "partial:one two|final@0:one two three four|final@1000:B:five|error:boom";
        QTest::newRow("no partials when interim is off")
            << script << speech << 3200 << false << qint64(0)
            << "final@0:one two three four|final@1000:B:five|error:boom";
        QTest::newRow("audio ends before an entry: never heard")
            << script << tone(1900, 3000) << 3200 << true << qint64(0)
            << "partial:one two|final@0:one two three four";
        QTest::newRow("reconnect continues at the session offset")
            << script << tone(1600, 3000) << 3200 << true << qint64(1500)
            << "final@1000:B:five|error:boom";
        QTest::newRow("two quiet seconds wait for audio, sound resumes listening")
            << QStringLiteral("9 later") << tone(2000, 0) + tone(1000, 4000) << 3200 << true
            << qint64(0) << "status:waiting-for-audio|status:listening";
        QTest::newRow("one quiet second is not a pause")
            << QStringLiteral("9 later") << tone(1000, 0) + tone(1000, 4000) + tone(1000, 0) << 3200
            << true << qint64(0) << "";
    }
    void recognition()
    {
        QFETCH(QString, script);
        QFETCH(QByteArray, audio);
        QFETCH(int, chunkBytes);
        QFETCH(bool, interim);
        QFETCH(qint64, startOffsetMs);
        QFETCH(QString, expected);
        QString error;
        const auto entries = parseRecognitionScript(script, &error);
        QVERIFY2(entries, qPrintable(error));
        ScriptRecognizer recognizer(*entries, interim, startOffsetMs);
        QCOMPARE(run(recognizer, audio, chunkBytes), expected);
    }
};

VERNALO_TEST_MAIN(ScriptRecognizerTest)
#include "test_script_recognizer.moc"
