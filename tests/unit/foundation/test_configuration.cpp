#include "foundation/build_info.h"
#include "foundation/secure_settings.h"
#include "foundation/stt_configuration.h"
#include "foundation/transport_security.h"
#include "support/test_environment.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

using namespace vernalo;

namespace {

QJsonObject storedObject(const QString &path)
{
    QSettings raw(path, QSettings::IniFormat);
    return QJsonDocument::fromJson(
               raw.value(QLatin1String(STTConfigurationStore::kKey)).toString().toUtf8())
        .object();
}

} // namespace

class ConfigurationTest : public QObject
{
    Q_OBJECT
private:
    QTemporaryDir m_dir;
    int m_counter = 0;

    QString freshPath()
    {
        return m_dir.filePath(QStringLiteral("settings-%1.conf").arg(++m_counter));
    }

private Q_SLOTS:
    void lenientDecoding_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<double>("micGain");
        QTest::addColumn<double>("systemGain");
        QTest::addColumn<double>("ducking");
        QTest::addColumn<QString>("apiKey");
        QTest::addColumn<QString>("language");

        // clang-format off
        QTest::newRow("empty object") << QByteArray("{}") << 1.0 << 1.0 << 0.55 << "" << "fi-FI";
        QTest::newRow("gain above range") << QByteArray(R"({"mixedMicGain":5})") << 2.0 << 1.0 << 0.55 << "" << "fi-FI";
        QTest::newRow("gain below range") << QByteArray(R"({"mixedMicGain":0.01,"mixedSystemGain":-3})") << 0.1 << 0.1 << 0.55 << "" << "fi-FI";
        QTest::newRow("negative ducking") << QByteArray(R"({"mixedDuckingStrength":-1})") << 1.0 << 1.0 << 0.0 << "" << "fi-FI";
        QTest::newRow("ducking above range") << QByteArray(R"({"mixedDuckingStrength":0.95})") << 1.0 << 1.0 << 0.9 << "" << "fi-FI";
        QTest::newRow("values kept") << QByteArray(R"({"apiKey":"k1","defaultLanguage":"sv-SE","mixedMicGain":1.15})") << 1.15 << 1.0 << 0.55 << "k1" << "sv-SE";
        QTest::newRow("null means missing") << QByteArray(R"({"apiKey":null,"mixedMicGain":null})") << 1.0 << 1.0 << 0.55 << "" << "fi-FI";
        // clang-format on
    }
    void lenientDecoding()
    {
        QFETCH(QByteArray, json);
        QFETCH(QString, apiKey);
        const auto config = STTConfiguration::fromJson(QJsonDocument::fromJson(json).object());
        QVERIFY(config);
        QTEST(config->mixedMicGain, "micGain");
        QTEST(config->mixedSystemGain, "systemGain");
        QTEST(config->mixedDuckingStrength, "ducking");
        QCOMPARE(config->apiKey, apiKey);
        QTEST(config->defaultLanguage, "language");
        QCOMPARE(config->baseURL, buildinfo::defaultBackendURL());
        QVERIFY(config->allowSystemFallback && config->mixedAutoDuckEnabled &&
                config->mixedLimiterEnabled);
    }

    // What is stored reads back the same; absent choices and the session token are never
    // written.
    void roundTripThroughStore_data()
    {
        QTest::addColumn<bool>("everyField");
        QTest::addColumn<int>("keys");
        QTest::newRow("defaults") << false << 11;
        QTest::newRow("every field") << true << 14;
    }
    void roundTripThroughStore()
    {
        QFETCH(bool, everyField);
        const QString path = freshPath();
        STTConfiguration config = STTConfiguration::defaults();
        config.authToken = QStringLiteral("session-token-must-not-be-stored");
        if (everyField) {
            config.baseURL = QStringLiteral("https://stt.example.test");
            config.apiKey = QStringLiteral("secret-key");
            config.preferredInputDeviceID = 0xFFFFFFFFu;
            config.preferredSystemDisplayID = 2;
            config.preferredSystemApplicationBundleID = QStringLiteral("firefox");
            config.allowSystemFallback = false;
            config.setMixSettings(*mixSettings(MixPreset::Interview));
        }
        {
            SecureSettings settings(path);
            STTConfigurationStore(&settings).save(config);
        }
        SecureSettings settings(path);
        STTConfiguration expected = config;
        expected.authToken.reset();
        QCOMPARE(STTConfigurationStore(&settings).load(), expected);

        const QJsonObject stored = storedObject(path);
        QTEST(int(stored.size()), "keys");
        QVERIFY(!QJsonDocument(stored).toJson().contains("session-token"));
        QCOMPARE(stored.value("preferredInputDeviceID").toDouble(-1),
                 everyField ? 4294967295.0 : -1);
    }

    void buildDefaultsFillBlankValues_data()
    {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<bool>("replaced");
        // clang-format off
        QTest::newRow("empty") << "" << true;
        QTest::newRow("spaces and line breaks") << " \n\t " << true;
        QTest::newRow("value with trailing space stays untrimmed") << "abc " << false;
        // clang-format on
    }
    void buildDefaultsFillBlankValues()
    {
        QFETCH(QString, stored);
        QFETCH(bool, replaced);
        STTConfiguration config;
        config.baseURL = stored;
        config.apiKey = stored;
        config.updateManifestURL = stored;
        const STTConfiguration repaired = withBuildDefaults(config);
        QCOMPARE(repaired.baseURL, replaced ? buildinfo::defaultBackendURL() : stored);
        QCOMPARE(repaired.apiKey, replaced ? buildinfo::defaultSharedAPIKey() : stored);
        QCOMPARE(repaired.updateManifestURL,
                 replaced ? buildinfo::defaultUpdateManifestURL() : stored);
    }

    // The settings hold the session token and the admin key: other local users must not read
    // them, neither when the file is created nor after later writes replace it.
    void settingsFileStaysOwnerOnly_data()
    {
        QTest::addColumn<bool>("existing"); // a world-readable file is there before
        QTest::newRow("created") << false;
        QTest::newRow("existing world-readable file") << true;
    }
    void settingsFileStaysOwnerOnly()
    {
        QFETCH(bool, existing);
        const QString dir = m_dir.filePath(QStringLiteral("profile-%1/Kestrova").arg(existing));
        const QString path = dir + QStringLiteral("/Vernalo.conf");
        constexpr auto ownerOnly = QFileDevice::ReadOwner | QFileDevice::WriteOwner;
        const auto others = QFileDevice::Permissions(0x0077);
        if (existing) {
            QVERIFY(QDir().mkpath(dir));
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.setPermissions(ownerOnly | QFileDevice::ReadGroup | QFileDevice::ReadOther);
        }
        SecureSettings settings(path);
        QCOMPARE(QFileInfo(path).permissions() & (ownerOnly | others), ownerOnly);
        // Later writes replace the file; the copy stays owner-only.
        for (int i = 0; i < 3; ++i) {
            settings.setValue(QStringLiteral("vernalo.auth.token"),
                              QStringLiteral("tok-%1").arg(i));
            QCOMPARE(QFileInfo(path).permissions() & (ownerOnly | others), ownerOnly);
        }
        if (!existing)
            QCOMPARE(QFileInfo(dir).permissions() & others, QFileDevice::Permissions());
        QCOMPARE(QSettings(path, QSettings::IniFormat).value("vernalo.auth.token").toString(),
                 "tok-2");
    }

    void unencryptedRemoteAddresses_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<bool>("warn");
        // clang-format off
        QTest::newRow("remote http") << "http://stt.example.com" << true;
        QTest::newRow("capital scheme") << "HTTP://10.0.0.5:8787" << true;
        QTest::newRow("https") << "HTTPS://stt.example.com" << false;
        QTest::newRow("loopback") << "http://127.0.0.1:8787" << false;
        QTest::newRow("localhost") << "http://localhost:8787/v" << false;
        // clang-format on
    }
    void unencryptedRemoteAddresses()
    {
        QFETCH(QString, address);
        QTEST(isUnencryptedRemote(address), "warn");
    }
};

VERNALO_TEST_MAIN(ConfigurationTest)
#include "test_configuration.moc"
