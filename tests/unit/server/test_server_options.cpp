#include "server_options.h"
#include "support/test_environment.h"

#include <QtTest>

using namespace vernalo::server;

class ServerOptionsTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void parse_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("expected"); // summary of the options, or "error: ..."
        QTest::newRow("defaults")
            << QStringList {} << "127.0.0.1:8787 data=DEFAULT users= keys= recognizer=pocketsphinx";
        QTest::newRow("everything")
            << QStringList {"--port",      "0",       "--bind",       "::1",
                            "--data",      "/tmp/d",  "--demo-user",  " Demo@Vernalo.Local :demo",
                            "--demo-user", "b@x:p:w", "--api-key",    "k1",
                            "--api-key",   "  ",      "--recognizer", "script",
                            "--script",    "s.txt"}
            << "::1:0 data=/tmp/d users=demo@vernalo.local/demo,b@x/p:w keys=k1 recognizer=script";
        QTest::newRow("demo user without password")
            << QStringList {"--demo-user", "demo@x:"}
            << "error: --demo-user needs EMAIL:PASSWORD, got: demo@x:";
        QTest::newRow("port out of range")
            << QStringList {"--port", "65536"} << "error: invalid --port: 65536";
        QTest::newRow("script recognizer needs a script")
            << QStringList {"--recognizer", "script"}
            << "error: --recognizer script needs --script FILE";
        QTest::newRow("tiny body cap")
            << QStringList {"--max-body-bytes", "10"} << "error: invalid --max-body-bytes: 10";
    }
    void parse()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, expected);
        QString error;
        const auto options = parseServerOptions(QStringList {"server"} + arguments, &error);
        if (!options) {
            QCOMPARE(QStringLiteral("error: ") + error, expected);
            return;
        }
        QStringList users;
        for (const auto &[email, password] : options->demoUsers)
            users << email + QLatin1Char('/') + password;
        const QString data =
            options->dataDir == defaultDataDir() ? QStringLiteral("DEFAULT") : options->dataDir;
        QCOMPARE(QStringLiteral("%1:%2 data=%3 users=%4 keys=%5 recognizer=%6")
                     .arg(options->bindAddress.toString())
                     .arg(options->port)
                     .arg(data, users.join(QLatin1Char(',')),
                          options->extraApiKeys.join(QLatin1Char(',')), options->recognizer),
                 expected);
    }

    void secretsFromFilesAndEnvironment()
    {
        QTemporaryFile keys;
        QVERIFY(keys.open());
        keys.write("k2\n# a comment\n\nk3\n");
        keys.flush();
        qputenv("VERNALO_API_KEYS", "k4");
        qputenv("VERNALO_DEMO_USERS", "e@x:pw");
        qputenv("VERNALO_ADMIN_KEY", "adm");
        QString error;
        const auto options = parseServerOptions(
            {"server", "--api-key", "k1", "--api-key-file", keys.fileName()}, &error);
        qunsetenv("VERNALO_API_KEYS");
        qunsetenv("VERNALO_DEMO_USERS");
        qunsetenv("VERNALO_ADMIN_KEY");
        QVERIFY2(options, qPrintable(error));
        QCOMPARE(options->extraApiKeys, (QStringList {"k1", "k2", "k3", "k4"}));
        QCOMPARE(options->adminKey, QStringLiteral("adm"));
        QCOMPARE(options->demoUsers.size(), 1);
        QCOMPARE(options->demoUsers.constFirst().second, QStringLiteral("pw"));
    }
};

VERNALO_TEST_MAIN(ServerOptionsTest)
#include "test_server_options.moc"
