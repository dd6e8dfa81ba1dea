// Secrets move from the settings file into a real Secret Service (gnome-keyring in a private
// D-Bus session of this test) and are read back from there after a restart.
#include "foundation/keyring_secrets.h"
#include "foundation/secure_settings.h"
#include "foundation/stt_configuration.h"
#include "support/test_environment.h"

#include <QProcess>
#include <QSettings>
#include <QtTest>

using namespace vernalo;

class KeyringSecretsTest : public QObject
{
    Q_OBJECT

    QProcess m_bus;
    QTemporaryDir m_home;

    QString lookup(const QString &account)
    {
        QProcess tool;
        tool.start(QStringLiteral("secret-tool"),
                   {"lookup", "server", SecureSettings::kKeyringService, "user", account});
        tool.waitForFinished(10000);
        return QString::fromUtf8(tool.readAllStandardOutput()).trimmed();
    }

    static std::unique_ptr<KeyringSecrets> keyring()
    {
        return std::make_unique<KeyringSecrets>(QLatin1String(SecureSettings::kKeyringService));
    }

private Q_SLOTS:
    void initTestCase()
    {
        m_bus.start(QStringLiteral("dbus-daemon"),
                    {"--session", "--nofork", "--nopidfile", "--print-address=1"});
        QVERIFY(m_bus.waitForReadyRead(10000));
        const QByteArray address = m_bus.readLine().trimmed();
        qputenv("DBUS_SESSION_BUS_ADDRESS", address);
        qputenv("HOME", m_home.path().toUtf8());
        qputenv("XDG_DATA_HOME", (m_home.path() + "/data").toUtf8());
        QProcess daemon;
        daemon.start(QStringLiteral("gnome-keyring-daemon"), {"--unlock", "--components=secrets"});
        QVERIFY2(daemon.waitForStarted(), "gnome-keyring missing: ./dev setup");
        daemon.write("test-password");
        daemon.closeWriteChannel();
        QVERIFY(daemon.waitForFinished(10000));
    }

    void cleanupTestCase()
    {
        m_bus.kill();
        m_bus.waitForFinished();
    }

    void fileSecretsMoveToTheKeyringAndStayThere()
    {
        const QString path = m_home.filePath(QStringLiteral("Vernalo.conf"));
        {
            SecureSettings plain(path);
            plain.setValue(QStringLiteral("vernalo.auth.session_token"), QStringLiteral("tok-123"));
            plain.setValue(QStringLiteral("vernalo.auth.admin_key"), QStringLiteral("adm-456"));
            STTConfiguration config = STTConfiguration::defaults();
            config.apiKey = QStringLiteral("key-789");
            STTConfigurationStore(&plain).save(config);
        }
        {
            SecureSettings settings(path);
            QVERIFY(settings.attachKeyring(keyring()));
            QCOMPARE(STTConfigurationStore(&settings).load().apiKey, QStringLiteral("key-789"));
            settings.setValue(QStringLiteral("vernalo.auth.session_token"),
                              QStringLiteral("tok-new"));
        }
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray bytes = file.readAll();
        for (const char *secret : {"tok-", "adm-456", "key-789"})
            QVERIFY2(!bytes.contains(secret), bytes.constData());
        QCOMPARE(lookup(QStringLiteral("session_token")), QStringLiteral("tok-new"));
        QCOMPARE(lookup(QStringLiteral("admin_key")), QStringLiteral("adm-456"));
        QCOMPARE(lookup(QStringLiteral("api_key")), QStringLiteral("key-789"));

        SecureSettings restarted(path);
        QVERIFY(restarted.attachKeyring(keyring()));
        QCOMPARE(restarted.value(QStringLiteral("vernalo.auth.admin_key")).toString(),
                 QStringLiteral("adm-456"));
        restarted.remove(QStringLiteral("vernalo.auth.admin_key"));
        QCOMPARE(lookup(QStringLiteral("admin_key")), QString());
    }

    void keyringRefusingOneSecretTakesNoneFromTheFile()
    {
        // Takes the first secret, refuses the second.
        struct RefusingKeyring : KeyringSecrets
        {
            using KeyringSecrets::KeyringSecrets;
            mutable int writes = 0;
            Outcome read(const QString &, QString *) const override { return Outcome::missing; }
            bool write(const QString &, const QString &) const override { return ++writes < 2; }
        };
        const QString path = m_home.filePath(QStringLiteral("Refused.conf"));
        SecureSettings settings(path);
        settings.setValue(QStringLiteral("vernalo.auth.session_token"), QStringLiteral("tok-1"));
        settings.setValue(QStringLiteral("vernalo.auth.admin_key"), QStringLiteral("adm-2"));
        QVERIFY(!settings.attachKeyring(
            std::make_unique<RefusingKeyring>(QLatin1String(SecureSettings::kKeyringService))));
        QCOMPARE(settings.value(QStringLiteral("vernalo.auth.session_token")).toString(),
                 QStringLiteral("tok-1"));
        QCOMPARE(SecureSettings(path).value(QStringLiteral("vernalo.auth.admin_key")).toString(),
                 QStringLiteral("adm-2"));
    }
};

VERNALO_TEST_MAIN(KeyringSecretsTest)
#include "test_keyring_secrets.moc"
