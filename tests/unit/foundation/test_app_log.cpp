#include "foundation/app_log.h"
#include "support/test_environment.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>
#include <thread>

using namespace vernalo;

class AppLogTest : public QObject
{
    Q_OBJECT
private:
    QTemporaryDir m_state;

    QByteArray logBytes()
    {
        AppLog::flush();
        QFile file(AppLog::currentLogURL());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    void writeLogFile(const QByteArray &bytes)
    {
        AppLog::flush();
        QDir().mkpath(QFileInfo(AppLog::currentLogURL()).absolutePath());
        QFile file(AppLog::currentLogURL());
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(bytes);
    }

private Q_SLOTS:
    void init()
    {
        // Each case gets a state folder without a log.
        const QString folder = m_state.filePath(QString::fromLatin1(QTest::currentTestFunction()) +
                                                QString::fromLatin1(QTest::currentDataTag()));
        qputenv("XDG_STATE_HOME", folder.toUtf8());
    }

    // One line a message, "<seconds>.<fraction> <message>", a line feed inside kept as it is.
    void firstWriteCreatesFoldersAndOneLine()
    {
        QVERIFY(!QFileInfo::exists(AppLog::currentLogURL()));
        AppLog::write(QStringLiteral("session created id=ABC"));
        AppLog::write(QStringLiteral("first\nsecond ä"));
        // A snapshot sees the lines still queued for the file.
        QVERIFY(AppLog::snapshot(1 << 20).endsWith(QStringLiteral(" first\nsecond ä\n")));
        const QByteArray content = logBytes();
        QVERIFY(AppLog::currentLogURL().endsWith(QStringLiteral("/Vernalo/desktop.log")));
        static const QRegularExpression line(QStringLiteral(
            "^\\d+\\.\\d+ session created id=ABC\\n\\d+\\.\\d+ first\\nsecond ä\\n$"));
        QVERIFY2(line.match(QString::fromUtf8(content)).hasMatch(), content.constData());
    }

    // Private from the first line; a full file is kept once as .1 and read on with the new one.
    void logIsPrivateAndRotatesOnce()
    {
        AppLog::setMaxFileBytes(100);
        for (int i = 0; i < 12; ++i)
            AppLog::write(QStringLiteral("line %1 of a long run").arg(i, 2, 10, QLatin1Char('0')));
        const QByteArray current = logBytes();
        AppLog::setMaxFileBytes(AppLog::kDefaultMaxFileBytes);
        const QFileInfo log(AppLog::currentLogURL());
        QCOMPARE(log.permissions() & 0x7077, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        QCOMPARE(QFileInfo(log.absolutePath()).permissions() & 0x7077,
                 QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        QFile previous(AppLog::previousLogURL());
        QVERIFY(previous.open(QIODevice::ReadOnly));
        const QByteArray older = previous.readAll();
        QVERIFY(current.size() <= 100 && older.size() <= 100);
        QVERIFY(current.contains("line 11") && !older.contains("line 11"));
        QVERIFY(!older.contains("line 00")); // two rotations: the oldest file is gone
        const QString tail = AppLog::snapshot(150);
        QVERIFY(tail.endsWith(QString::fromUtf8(current)) && tail.size() > current.size());
    }

    // Lines from several threads are whole and keep each thread's order.
    void concurrentWritersNeverInterleave()
    {
        constexpr int kThreads = 4;
        constexpr int kLines = 500;
        std::vector<std::thread> writers;
        for (int t = 0; t < kThreads; ++t) {
            writers.emplace_back([t] {
                for (int i = 0; i < kLines; ++i)
                    AppLog::write(QStringLiteral("writer=%1 seq=%2 %3")
                                      .arg(t)
                                      .arg(i)
                                      .arg(QString(40, QChar('a' + t))));
            });
        }
        for (auto &writer : writers)
            writer.join();
        const QList<QByteArray> lines = logBytes().split('\n');
        QCOMPARE(lines.size(), kThreads * kLines + 1); // trailing empty piece after the last \n
        static const QRegularExpression shape(
            QStringLiteral("^\\d+\\.\\d+ writer=(\\d) seq=(\\d+) ([a-d])\\3{39}$"));
        int expectedSeq[kThreads] = {};
        for (int i = 0; i < kThreads * kLines; ++i) {
            const auto match = shape.match(QString::fromUtf8(lines[i]));
            QVERIFY2(match.hasMatch(), lines[i].constData());
            const int writer = match.captured(1).toInt();
            QCOMPARE(match.captured(2).toInt(), expectedSeq[writer]++);
            QCOMPARE(match.captured(3).at(0), QChar('a' + writer));
        }
    }

    void snapshotTail_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<qint64>("maxBytes");
        QTest::addColumn<QString>("expected");

        const QByteArray hundred(100, 'a');
        // clang-format off
        QTest::newRow("missing file") << QByteArray() << qint64(100) << QString();
        QTest::newRow("exactly max") << hundred << qint64(100) << QString(100, 'a');
        QTest::newRow("one over max") << QByteArray("b" + hundred.left(99)) << qint64(99) << QString(99, 'a');
        // "ä" is two bytes; a tail of 3 bytes starts inside it.
        QTest::newRow("cut inside a character") << QByteArray("x\xc3\xa4yz") << qint64(3) << QString(QChar(0xFFFD)) + "yz";
        // "€" is three bytes; cutting after its first byte leaves two continuation bytes.
        QTest::newRow("cut inside a 3-byte character") << QByteArray("\xe2\x82\xac!") << qint64(3) << QString(QChar(0xFFFD)) + QChar(0xFFFD) + "!";
        QTest::newRow("whole file not utf-8") << QByteArray("ok \xff bad") << qint64(100) << QString();
        QTest::newRow("tail of a file not utf-8 is repaired") << QByteArray("\xff" "abc") << qint64(3) << "abc";
        // clang-format on
    }
    void snapshotTail()
    {
        QFETCH(QByteArray, file);
        QFETCH(qint64, maxBytes);
        if (!file.isEmpty())
            writeLogFile(file);
        QTEST(AppLog::snapshot(maxBytes), "expected");
    }
};

VERNALO_TEST_MAIN(AppLogTest)
#include "test_app_log.moc"
