// Hostile answers from the auth service: a "successful" reply that is not what it claims to be
// never signs anybody in, never stores a token and never lists users.

#include "hostile_corpus.h"
#include "support/test_environment.h"
#include "unit/auth/auth_harness.h"
#include "wire/auth_wire_records.h"

using namespace vernalo;
using namespace vernalo::test;

namespace {

const QString kLoginFailed = QStringLiteral("Kirjautuminen epäonnistui.");
const QString kUnusableLogin = QStringLiteral("Virheellinen kirjautumisvastaus.");
const QString kOversized = QStringLiteral("Virheellinen vastaus auth-palvelulta");

template<typename Record> bool decodes(const QByteArray &body)
{
    const auto object = wire::parseObject(body);
    return object && Record::fromJson(*object).has_value();
}

void addRows(const QString &folder, const QString &expected = QString())
{
    for (const auto &input : hostileFiles(QStringLiteral("auth-bodies/") + folder))
        QTest::newRow(qPrintable(folder + u'/' + input.name)) << input.bytes << expected;
}

} // namespace

class HostileAuthTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void signInReplyIsRefused_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("message");
        addRows(QStringLiteral("login"), kLoginFailed);
        addRows(QStringLiteral("login-token"), kUnusableLogin);
        // clang-format off
        QTest::newRow("generated: token that never ends") << unterminatedString("{\"token\":", 900 << 10) << kLoginFailed;
        QTest::newRow("generated: user nested 200 000 deep") << QByteArray("{\"token\":\"tok-0123456789abcdef\",\"user\":" + deepNesting(200000) + "}") << kLoginFailed;
        QTest::newRow("generated: 4 MB reply, more than any sign-in needs") << QByteArray("{\"token\":\"" + QByteArray(4 << 20, 't') + "\"}") << kOversized;
        // clang-format on
    }
    void signInReplyIsRefused()
    {
        QFETCH(QByteArray, body);
        QFETCH(QString, message);
        // Undecodable replies are refused by the decoder; the others decode but carry no usable
        // token, or are too large to be read at all.
        QCOMPARE(decodes<AuthLoginResponse>(body), message != kLoginFailed);

        AuthHarness rig;
        QVERIFY(rig.start());
        rig.peer.on("POST", QStringLiteral("/auth/login"), ScriptedResponse::json(200, body));
        const QByteArray storedBefore = rig.settingsFileBytes();

        QVERIFY(!rig.login());
        QCOMPARE(rig.manager->errorMessage(), message);
        QVERIFY(!rig.manager->isAuthenticated());
        QVERIFY(!rig.manager->currentUser());
        QVERIFY(!rig.manager->currentBackendSessionToken());
        QVERIFY(!rig.manager->isBusy());
        QCOMPARE(rig.settingsFileBytes(), storedBefore);
    }

    // The start-up check of a stored token gets a reply that names no valid user: nobody is
    // signed in on its word, not even the user of the stored, fresh verification.
    void verifyReplySignsNobodyIn_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("message");
        addRows(QStringLiteral("verify"));
        // clang-format off
        QTest::newRow("generated: e-mail that never ends") << unterminatedString("{\"ok\":true,\"user\":{\"email\":", 4 << 20) << QString();
        // clang-format on
    }
    void verifyReplySignsNobodyIn()
    {
        QFETCH(QByteArray, body);
        const auto object = wire::parseObject(body);
        const auto reply = object ? AuthVerifyResponse::fromJson(*object) : std::nullopt;
        QVERIFY(!reply || !reply->user);

        AuthHarness rig;
        rig.storeSession(QStringLiteral("tok-stored-5c1e0d9a7b"), 60, {}, QStringLiteral("admin"));
        rig.peer.on("POST", QStringLiteral("/auth/verify"), ScriptedResponse::json(200, body));

        QVERIFY(rig.start());
        QCOMPARE(rig.sent(QStringLiteral("/auth/verify")).size(), 1);
        QVERIFY(!rig.manager->isAuthenticated());
        QVERIFY(!rig.manager->currentUser());
        QVERIFY(!rig.manager->isAdmin());
    }

    void userListIsRefused_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("message");
        addRows(QStringLiteral("admin-users"));
        const QByteArray user = "{\"id\":1,\"email\":\"a@example.fi\"},";
        // clang-format off
        QTest::newRow("generated: 25 000 users, the last one without an e-mail") << QByteArray("{\"users\":[" + user.repeated(25000) + "{\"id\":2}]}") << QString();
        QTest::newRow("generated: 2 MB of users, more than the service may send") << QByteArray("{\"users\":[" + user.repeated(60000) + "{\"id\":2}]}") << kOversized;
        // clang-format on
    }
    void userListIsRefused()
    {
        QFETCH(QByteArray, body);
        QFETCH(QString, message);
        QVERIFY(!decodes<AuthAdminUsersResponse>(body));

        AuthHarness rig;
        QVERIFY(rig.start());
        rig.peer.on("GET", QStringLiteral("/admin/users"), ScriptedResponse::json(200, body));
        const auto result = QCoro::waitFor(rig.manager->adminListUsers(QStringLiteral("adm-7781")));
        QVERIFY2(!result.ok(), "a broken list was shown as users");
        // No text of the reply reaches the screen: the caller's own sentence (empty here) is
        // shown, or the transport's own for a reply too large to read.
        QCOMPARE(result.failure().description(QString()), message);
        QCOMPARE(rig.sent(QStringLiteral("/admin/users"), "GET").size(), 1);
    }
};

VERNALO_TEST_MAIN(HostileAuthTest)
#include "test_hostile_auth.moc"
