#include "auth_harness.h"
#include "foundation/app_log.h"
#include "support/test_environment.h"

#include <QFileInfo>
#include <QJsonDocument>
#include <QSettings>

using namespace vernalo;
using namespace vernalo::test;

namespace {

constexpr qint64 kDay = 86400;
const QString kStoredToken = QStringLiteral("tok-stored-5c1e0d9a7b");

enum class Service { Answers, Down, RememberOff, NoToken };

QString storedString(const AuthHarness &h, const char *key)
{
    return h.settings->value(QLatin1String(key)).toString();
}

} // namespace

Q_DECLARE_METATYPE(Service)

class AuthSessionTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void signInSendsNormalisedCredentials()
    {
        AuthHarness h;
        h.start();
        h.peer.on("POST", QStringLiteral("/auth/login"),
                  ScriptedResponse::json(200, R"({"token":"t-1234567"})"));
        QVERIFY(QCoro::waitFor(h.manager->login(QStringLiteral("  Anna.Virtanen@Example.FI \n"),
                                                QStringLiteral("  pass word\t"), false)));

        const auto sent = h.peer.requestsTo("POST", QStringLiteral("/auth/login"));
        QCOMPARE(sent.size(), 1);
        QCOMPARE(sent[0].header("X-VN-App-Context"), QByteArray("vernalo-mac"));
        QCOMPARE(sent[0].header("Content-Type"), QByteArray("application/json"));
        QVERIFY(!sent[0].hasHeader("Authorization"));
        const QJsonObject body = sent[0].json().object();
        QCOMPARE(body.keys(), (QStringList {QStringLiteral("email"), QStringLiteral("password")}));
        QCOMPARE(body.value(QStringLiteral("email")).toString(),
                 QStringLiteral("anna.virtanen@example.fi"));
        QCOMPARE(body.value(QStringLiteral("password")).toString(), QStringLiteral("pass word"));

        // A reply without a user signs in the typed address as a plain user.
        QVERIFY(h.manager->currentUser());
        QCOMPARE(*h.manager->currentUser(),
                 (AuthUser {std::nullopt, QStringLiteral("anna.virtanen@example.fi"),
                            QStringLiteral("user")}));
        QVERIFY(!h.manager->isAdmin());
        QCOMPARE(h.manager->currentBackendSessionToken(),
                 std::optional<QString>(QStringLiteral("t-1234567")));
    }

    void signInNeedsBothFields_data()
    {
        QTest::addColumn<QString>("email");
        QTest::addColumn<QString>("password");
        // clang-format off
        QTest::newRow("no e-mail") << "" << "salasana";
        QTest::newRow("blank e-mail") << " \n" << "salasana";
        QTest::newRow("blank password") << "anna@example.fi" << "\t ";
        // clang-format on
    }
    void signInNeedsBothFields()
    {
        QFETCH(QString, email);
        QFETCH(QString, password);
        AuthHarness h;
        h.start();
        QSignalSpy busy(h.manager.get(), &AuthManager::isBusyChanged);
        QVERIFY(!QCoro::waitFor(h.manager->login(email, password)));
        QCOMPARE(h.manager->errorMessage(), QStringLiteral("Syötä sähköposti ja salasana."));
        QVERIFY(h.peer.requests().isEmpty());
        QCOMPARE(busy.count(), 0);
    }

    void signInOutcome_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QByteArray>("contentType");
        QTest::addColumn<bool>("signedIn");
        QTest::addColumn<QString>("error");

        const QByteArray json = "application/json";
        const QByteArray html = "<!doctype html><html><head><title>502 Bad "
                                "Gateway</title></head><body>nginx</body></html>";
        // clang-format off
        QTest::newRow("token and user") << 200 << QByteArray(R"({"token":"t-1234567","user":{"id":4,"email":"anna@example.fi","role":"admin"}})") << json << true << "";
        QTest::newRow("last success status") << 299 << QByteArray(R"({"token":"t-1234567"})") << json << true << "";
        QTest::newRow("redirect status") << 300 << QByteArray(R"({"token":"t-1234567"})") << json << false << "Kirjautuminen epäonnistui.";
        QTest::newRow("no token") << 200 << QByteArray(R"({"user":{"email":"anna@example.fi"}})") << json << false << "Virheellinen kirjautumisvastaus.";
        QTest::newRow("empty token") << 200 << QByteArray(R"({"token":""})") << json << false << "Virheellinen kirjautumisvastaus.";
        QTest::newRow("blank token") << 200 << QByteArray(R"({"token":"  "})") << json << false << "Virheellinen kirjautumisvastaus.";
        QTest::newRow("token with line break") << 200 << QByteArray(R"({"token":"abc\r\nX-Evil: 1"})") << json << false << "Virheellinen kirjautumisvastaus.";
        QTest::newRow("token as number") << 200 << QByteArray(R"({"token":12345})") << json << false << "Kirjautuminen epäonnistui.";
        QTest::newRow("user without e-mail") << 200 << QByteArray(R"({"token":"t-1234567","user":{"id":1}})") << json << false << "Kirjautuminen epäonnistui.";
        QTest::newRow("cut-off JSON") << 200 << QByteArray("{\"token\":\"t-12") << json << false << "Kirjautuminen epäonnistui.";
        QTest::newRow("JSON list") << 200 << QByteArray(R"([{"token":"t-1234567"}])") << json << false << "Kirjautuminen epäonnistui.";
        QTest::newRow("HTML with 200") << 200 << html << QByteArray("text/html") << false << "Kirjautuminen epäonnistui.";
        QTest::newRow("401 with detail") << 401 << QByteArray(R"({"detail":"Väärä sähköposti tai salasana"})") << json << false << "Väärä sähköposti tai salasana";
        QTest::newRow("401 without body") << 401 << QByteArray() << json << false << "Kirjautuminen epäonnistui.";
        QTest::newRow("403 error before message") << 403 << QByteArray(R"({"message":"m","error":"Tunnus estetty"})") << json << false << "Tunnus estetty";
        QTest::newRow("404 plain text") << 404 << QByteArray("Not Found") << QByteArray("text/plain") << false << "Not Found";
        QTest::newRow("500 mistyped detail") << 500 << QByteArray(R"({"detail":42})") << json << false << "Kirjautuminen epäonnistui.";
        QTest::newRow("500 HTML page") << 500 << html << QByteArray("text/html") << false << "Palvelinvirhe (500)";
        QTest::newRow("502 HTML without type") << 502 << html << QByteArray() << false << "Palvelinvirhe (502)";
        QTest::newRow("401 echoing the password") << 401 << QByteArray(R"({"detail":"salasana-123 ei kelpaa"})") << json << false << "*** ei kelpaa";
        // clang-format on
    }
    void signInOutcome()
    {
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        QFETCH(QByteArray, contentType);
        QFETCH(bool, signedIn);
        QFETCH(QString, error);
        AuthHarness h;
        h.start();
        h.settings->setValue(QLatin1String(AuthManager::kSessionTokenKey), kStoredToken);
        h.peer.on("POST", QStringLiteral("/auth/login"),
                  ScriptedResponse::withType(status, body, contentType));

        const bool result = QCoro::waitFor(
            h.manager->login(QStringLiteral("anna@example.fi"), QStringLiteral("salasana-123")));
        QCOMPARE(result, signedIn);
        QCOMPARE(h.manager->isAuthenticated(), signedIn);
        QCOMPARE(h.manager->currentUser().has_value(), signedIn);
        QCOMPARE(h.manager->errorMessage(), error);
        QVERIFY(!h.manager->isBusy());
        if (!signedIn) {
            // A failed sign-in leaves what an earlier run stored.
            QCOMPARE(storedString(h, AuthManager::kSessionTokenKey), kStoredToken);
        }
    }

    void rememberChoiceDecidesWhatIsStored()
    {
        AuthHarness h;
        h.start();
        h.clock.advance(std::chrono::hours(5));
        QVERIFY(h.signIn("tok-remembered-1234", true, "admin"));
        QVERIFY(h.manager->isAdmin());
        QCOMPARE(storedString(h, AuthManager::kSessionTokenKey),
                 QStringLiteral("tok-remembered-1234"));
        const auto meta = StoredAuthMeta::fromJson(
            QJsonDocument::fromJson(storedString(h, AuthManager::kAuthMetaKey).toUtf8()).object());
        QVERIFY(meta);
        QCOMPARE(meta->verifiedAt, QStringLiteral("2026-01-05T14:00:00Z"));
        QCOMPARE(meta->authURL, h.peer.baseUrl().toString());
        QCOMPARE(meta->user.id, std::optional<qint64>(7));

        // Signing in again without remembering forgets the earlier copy.
        QVERIFY(h.signIn("tok-second-5678", false));
        QVERIFY(!h.settings->contains(QLatin1String(AuthManager::kSessionTokenKey)));
        QVERIFY(!h.settings->contains(QLatin1String(AuthManager::kAuthMetaKey)));
        QVERIFY(!h.settings->value(QLatin1String(AuthManager::kRememberSessionKey)).toBool());
        QCOMPARE(h.manager->currentBackendSessionToken(),
                 std::optional<QString>(QStringLiteral("tok-second-5678")));
    }

    void restore_data()
    {
        QTest::addColumn<Service>("service");
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<bool>("hasMeta");
        QTest::addColumn<qint64>("metaAge");
        QTest::addColumn<bool>("signedIn");
        QTest::addColumn<bool>("tokenKept");
        QTest::addColumn<int>("verifyCalls");

        const QByteArray user =
            R"({"ok":true,"user":{"id":7,"email":"anna@example.fi","role":"admin"}})";
        const QByteArray page = "<html><body><h1>503 Service Unavailable</h1></body></html>";
        // clang-format off
        QTest::newRow("verified") << Service::Answers << 200 << user << true << 3 * kDay << true << true << 1;
        QTest::newRow("verified, old meta") << Service::Answers << 200 << user << true << 40 * kDay << true << true << 1;
        QTest::newRow("verified, no meta") << Service::Answers << 200 << user << false << 0ll << true << true << 1;
        QTest::newRow("rejected") << Service::Answers << 401 << QByteArray(R"({"detail":"token expired"})") << true << 3600ll << false << false << 1;
        QTest::newRow("rejected silently") << Service::Answers << 403 << QByteArray() << true << 3600ll << false << false << 1;
        QTest::newRow("reply without user") << Service::Answers << 200 << QByteArray(R"({"ok":true})") << true << 3600ll << false << false << 1;
        QTest::newRow("cut-off reply") << Service::Answers << 200 << QByteArray("{\"ok\":tr") << true << 3600ll << false << false << 1;
        QTest::newRow("mistyped ok") << Service::Answers << 200 << QByteArray(R"({"ok":"yes","user":{"email":"anna@example.fi"}})") << true << 3600ll << false << false << 1;
        QTest::newRow("service fault") << Service::Answers << 500 << QByteArray(R"({"detail":"db"})") << true << 3600ll << false << false << 1;
        QTest::newRow("gateway page, fresh meta") << Service::Answers << 503 << page << true << 3600ll << true << true << 1;
        QTest::newRow("gateway page, stale meta") << Service::Answers << 502 << page << true << 15 * kDay << false << false << 1;
        QTest::newRow("down, 13 days") << Service::Down << 0 << QByteArray() << true << 13 * kDay << true << true << 0;
        QTest::newRow("down, one second short") << Service::Down << 0 << QByteArray() << true << 14 * kDay - 1 << true << true << 0;
        QTest::newRow("down, exactly 14 days") << Service::Down << 0 << QByteArray() << true << 14 * kDay << false << false << 0;
        QTest::newRow("down, 15 days") << Service::Down << 0 << QByteArray() << true << 15 * kDay << false << false << 0;
        QTest::newRow("down, meta from the future") << Service::Down << 0 << QByteArray() << true << -kDay << true << true << 0;
        QTest::newRow("down, no meta") << Service::Down << 0 << QByteArray() << false << 0ll << false << false << 0;
        QTest::newRow("remember off") << Service::RememberOff << 200 << user << true << 3600ll << false << false << 0;
        QTest::newRow("no stored token") << Service::NoToken << 200 << user << true << 3600ll << false << false << 0;
        // clang-format on
    }
    void restore()
    {
        QFETCH(Service, service);
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        QFETCH(bool, hasMeta);
        QFETCH(qint64, metaAge);
        QFETCH(bool, signedIn);
        QFETCH(bool, tokenKept);
        QFETCH(int, verifyCalls);

        AuthHarness h;
        const QString url =
            service == Service::Down ? closedPortURL() : h.peer.baseUrl().toString();
        h.settings->setValue(QLatin1String(AuthManager::kAuthURLKey), url);
        h.storeSession(service == Service::NoToken ? QString() : kStoredToken,
                       hasMeta ? std::optional<qint64>(metaAge) : std::nullopt, url);
        if (service == Service::RememberOff)
            h.settings->setValue(QLatin1String(AuthManager::kRememberSessionKey), false);
        h.peer.on("POST", QStringLiteral("/auth/verify"), ScriptedResponse::json(status, body));

        h.start();

        QCOMPARE(h.manager->isChecking(), false);
        QCOMPARE(h.manager->isAuthenticated(), signedIn);
        QCOMPARE(h.manager->currentUser().has_value(), signedIn);
        QCOMPARE(h.manager->errorMessage(), QString());
        QCOMPARE(h.manager->authURL(), url);
        QCOMPARE(h.settings->contains(QLatin1String(AuthManager::kSessionTokenKey)), tokenKept);
        QCOMPARE(h.manager->currentBackendSessionToken(),
                 tokenKept ? std::optional<QString>(kStoredToken) : std::nullopt);

        const auto verifies = h.peer.requestsTo("POST", QStringLiteral("/auth/verify"));
        QCOMPARE(verifies.size(), verifyCalls);
        if (verifyCalls > 0) {
            QCOMPARE(verifies[0].header("Authorization"), "Bearer " + kStoredToken.toUtf8());
            QCOMPARE(verifies[0].header("Content-Type"), QByteArray("application/json"));
            QCOMPARE(verifies[0].header("X-VN-App-Context"), QByteArray("vernalo-mac"));
            QVERIFY(verifies[0].body.isEmpty());
        }
        if (signedIn && status == 200) {
            // A verified restore records the new verification time and the service's user.
            const auto meta = StoredAuthMeta::fromJson(
                QJsonDocument::fromJson(storedString(h, AuthManager::kAuthMetaKey).toUtf8())
                    .object());
            QVERIFY(meta);
            QCOMPARE(meta->verifiedAt, h.clock.now().toString(Qt::ISODate));
            QVERIFY(h.manager->isAdmin());
        }
    }

    void hungServiceCountsAsUnreachable()
    {
        AuthHarness h;
        h.storeSession(kStoredToken, 2 * kDay);
        h.peer.on("POST", QStringLiteral("/auth/verify"), ScriptedResponse::silence());
        h.manager =
            std::make_unique<AuthManager>(h.settings.get(), &h.network, &h.desktop, &h.clock);
        QTRY_COMPARE(h.peer.heldCount(), 1);
        h.clock.advance(std::chrono::seconds(59));
        QVERIFY(h.manager->isChecking());
        h.clock.advance(std::chrono::seconds(1));
        QTRY_VERIFY(!h.manager->isChecking());
        QVERIFY(h.manager->isAuthenticated());
        QCOMPARE(h.manager->currentUser()->email, QStringLiteral("anna@example.fi"));
        QCOMPARE(h.manager->currentBackendSessionToken(), std::optional<QString>(kStoredToken));

        // The in-memory token stays empty, so a password change is refused without a request.
        const auto change = QCoro::waitFor(h.manager->changePassword(
            QStringLiteral("vanha-salasana"), QStringLiteral("uusi-salasana-1")));
        QVERIFY(!change);
        QCOMPARE(change.failure().description({}),
                 QStringLiteral("Sessio puuttuu. Kirjaudu uudelleen."));
        QCOMPARE(h.peer.requests().size(), 1);
    }

    void restoreAdoptsAddressOfStoredMeta()
    {
        AuthHarness h;
        const QString elsewhere = closedPortURL();
        h.settings->setValue(QLatin1String(AuthManager::kAuthURLKey), elsewhere);
        h.storeSession(kStoredToken, 3600, h.peer.baseUrl().toString() + QStringLiteral("//"));
        h.peer.on("POST", QStringLiteral("/auth/verify"),
                  ScriptedResponse::json(200, R"({"user":{"email":"anna@example.fi"}})"));
        h.start();
        QVERIFY(h.manager->isAuthenticated());
        QCOMPARE(h.manager->authURL(), h.peer.baseUrl().toString());
        QCOMPARE(storedString(h, AuthManager::kAuthURLKey), h.peer.baseUrl().toString());
    }

    void signInDuringRestoreIsNotUndone()
    {
        AuthHarness h;
        h.storeSession(kStoredToken, std::nullopt);
        h.peer.on("POST", QStringLiteral("/auth/verify"), ScriptedResponse::silence());
        h.manager =
            std::make_unique<AuthManager>(h.settings.get(), &h.network, &h.desktop, &h.clock);
        QTRY_COMPARE(h.peer.heldCount(), 1);
        QVERIFY(h.signIn("tok-fresh-98765"));
        // The restore now fails (the service never answers) without a meta to fall back on; the
        // sign-in made meanwhile must stand.
        h.clock.advance(std::chrono::seconds(60));
        QTRY_VERIFY(!h.manager->isChecking());
        QVERIFY(h.manager->isAuthenticated());
        QCOMPARE(h.manager->currentBackendSessionToken(),
                 std::optional<QString>(QStringLiteral("tok-fresh-98765")));
        QCOMPARE(storedString(h, AuthManager::kSessionTokenKey), QStringLiteral("tok-fresh-98765"));
    }

    void signOutLeavesNoTokenInSettingsFile()
    {
        AuthHarness h;
        h.start();
        h.manager->saveAdminKey(QStringLiteral("admin-key-7f3e"));
        QVERIFY(h.signIn("tok-on-disk-31337"));
        QVERIFY(h.settingsFileBytes().contains("tok-on-disk-31337"));
        // Owner-only: nothing for group or others.
        QCOMPARE(QFileInfo(h.settingsPath()).permissions() & 0x0FFF,
                 QFileDevice::ReadUser | QFileDevice::WriteUser);

        h.manager->logout();
        QVERIFY(!h.manager->isAuthenticated());
        QVERIFY(!h.manager->currentUser());
        QCOMPARE(h.manager->currentBackendSessionToken(), std::nullopt);
        const QByteArray file = h.settingsFileBytes();
        QVERIFY(!file.contains("tok-on-disk-31337"));
        QVERIFY(!file.contains("session_token"));
        QVERIFY(!file.contains("auth.meta"));
        // The address and the admin key are not part of the session.
        QCOMPARE(h.manager->authURL(), h.peer.baseUrl().toString());
        QCOMPARE(h.manager->loadStoredAdminKey(), QStringLiteral("admin-key-7f3e"));
    }

    void rememberOffKeepsThisRunOnly()
    {
        AuthHarness h;
        h.start();
        QVERIFY(h.signIn("tok-this-run-4242", true));
        h.manager->setRememberSession(false);
        QVERIFY(h.manager->isAuthenticated());
        QCOMPARE(h.manager->currentBackendSessionToken(),
                 std::optional<QString>(QStringLiteral("tok-this-run-4242")));
        QVERIFY(!h.settingsFileBytes().contains("tok-this-run-4242"));

        h.peer.clearRequests();
        h.start();
        QVERIFY(!h.manager->isAuthenticated());
        QVERIFY(!h.manager->rememberSession());
        QVERIFY(h.peer.requests().isEmpty());
    }

    void authURLPrompt_data()
    {
        QTest::addColumn<QString>("answer"); // "<cancel>": the prompt is cancelled
        QTest::addColumn<QString>("authURL"); // "<unchanged>": stays the peer's address
        QTest::addColumn<QString>("error");

        // clang-format off
        QTest::newRow("trimmed and slashes removed") << " https://auth.example.fi/// \n" << "https://auth.example.fi" << "";
        QTest::newRow("not an address") << "auth palvelu" << "<unchanged>" << "Virheellinen auth-osoite";
        QTest::newRow("empty") << "   " << "<unchanged>" << "Virheellinen auth-osoite";
        QTest::newRow("cancelled") << "<cancel>" << "<unchanged>" << "";
        // clang-format on
    }
    void authURLPrompt()
    {
        QFETCH(QString, answer);
        QFETCH(QString, authURL);
        QFETCH(QString, error);
        AuthHarness h;
        h.start();
        QVERIFY(h.signIn());
        const QString before = h.manager->authURL();
        if (answer == QLatin1String("<cancel>"))
            h.desktop.promptAnswers.enqueue(std::nullopt);
        else
            h.desktop.promptAnswers.enqueue(answer);
        QCoro::waitFor(h.manager->promptForAuthURL());

        QCOMPARE(h.desktop.frontCount, 1);
        QCOMPARE(h.desktop.prompts.size(), 1);
        QCOMPARE(h.desktop.prompts[0].title, QStringLiteral("Auth URL"));
        QCOMPARE(h.desktop.prompts[0].informativeText, QStringLiteral("Syötä auth-palvelun URL."));
        QCOMPARE(h.desktop.prompts[0].initialText, before);
        QCOMPARE(h.desktop.prompts[0].placeholder, AuthManager::defaultAuthURL());
        QVERIFY(!h.desktop.prompts[0].secure);

        const QString expected = authURL == QLatin1String("<unchanged>") ? before : authURL;
        QCOMPARE(h.manager->authURL(), expected);
        QCOMPARE(storedString(h, AuthManager::kAuthURLKey), expected);
        QCOMPARE(h.manager->errorMessage(), error);
        QVERIFY(h.manager->isAuthenticated());
    }

    void defaultAddressReplacesUnusableStoredOne()
    {
        AuthHarness h;
        h.settings->setValue(QLatin1String(AuthManager::kAuthURLKey), QStringLiteral("/"));
        h.start();
        QCOMPARE(h.manager->authURL(), AuthManager::defaultAuthURL());

        h.settings->setValue(QLatin1String(AuthManager::kAuthURLKey), h.peer.baseUrl().toString());
        h.start();
        QCOMPARE(h.manager->authURL(), h.peer.baseUrl().toString());
        h.manager->useDefaultAuthURL();
        QCOMPARE(h.manager->authURL(), AuthManager::defaultAuthURL());
        QCOMPARE(storedString(h, AuthManager::kAuthURLKey), AuthManager::defaultAuthURL());
    }

    void endpointIgnoresPathPrefix()
    {
        AuthHarness h;
        h.settings->setValue(QLatin1String(AuthManager::kAuthURLKey),
                             h.peer.baseUrl().toString() + QStringLiteral("/tenant/a/"));
        h.start();
        QVERIFY(h.signIn());
        QCOMPARE(h.peer.requests().size(), 1);
        QCOMPARE(h.peer.requests()[0].path, QStringLiteral("/auth/login"));
    }

    void overlappingSignInsStayBusyUntilTheLast()
    {
        AuthHarness h;
        h.start();
        h.peer.enqueue("POST", QStringLiteral("/auth/login"), ScriptedResponse::silence());
        auto first =
            h.manager->login(QStringLiteral("anna@example.fi"), QStringLiteral("salasana-1"));
        QTRY_COMPARE(h.peer.heldCount(), 1);
        QVERIFY(h.signIn("tok-second-1111"));
        QVERIFY(h.manager->isBusy());
        h.clock.advance(std::chrono::seconds(60));
        QVERIFY(!QCoro::waitFor(first));
        QVERIFY(!h.manager->isBusy());
        QVERIFY(h.manager->isAuthenticated());
        QCOMPARE(h.manager->errorMessage(), QStringLiteral("Yhteys auth-palveluun epäonnistui"));
    }

    void managerGoneWhileRequestRuns()
    {
        AuthHarness h;
        h.start();
        h.peer.on("POST", QStringLiteral("/auth/login"), ScriptedResponse::silence());
        auto pending =
            h.manager->login(QStringLiteral("anna@example.fi"), QStringLiteral("salasana-1"));
        QTRY_COMPARE(h.peer.heldCount(), 1);
        h.manager.reset();
        h.clock.advance(std::chrono::seconds(60));
        QVERIFY(!QCoro::waitFor(pending));
    }

    void redirectsStayWithTheService_data()
    {
        QTest::addColumn<bool>("sameOrigin");
        QTest::newRow("same service") << true;
        QTest::newRow("another server") << false;
    }
    void redirectsStayWithTheService()
    {
        QFETCH(bool, sameOrigin);
        AuthHarness h;
        LoopbackHttpPeer other;
        QVERIFY(other.start());
        // A fresh meta: a refused redirect must not pass for an unreachable service.
        h.storeSession(kStoredToken, 3600);
        const QString target = (sameOrigin ? h.peer.baseUrl() : other.baseUrl()).toString() +
            QStringLiteral("/v2/verify");
        const ScriptedResponse moved {307, {}, {}, {{"Location", target.toUtf8()}}, false, {}};
        h.peer.on("POST", QStringLiteral("/auth/verify"), moved);
        const QByteArray user = R"({"user":{"email":"anna@example.fi"}})";
        h.peer.on("POST", QStringLiteral("/v2/verify"), ScriptedResponse::json(200, user));
        other.on("POST", QStringLiteral("/v2/verify"), ScriptedResponse::json(200, user));
        h.start();

        QCOMPARE(h.manager->isAuthenticated(), sameOrigin);
        // The bearer token never reaches another server.
        QVERIFY(other.requests().isEmpty());
        if (sameOrigin) {
            const auto followed = h.peer.requestsTo("POST", QStringLiteral("/v2/verify"));
            QCOMPARE(followed.size(), 1);
            QCOMPARE(followed[0].header("Authorization"), "Bearer " + kStoredToken.toUtf8());
        }
    }

    void oversizedReplyIsRefused()
    {
        AuthHarness h;
        h.start();
        QByteArray huge = "{\"token\":\"t-1234567\",\"pad\":\"";
        huge += QByteArray(2 * 1024 * 1024, 'x');
        huge += "\"}";
        h.peer.on("POST", QStringLiteral("/auth/login"), ScriptedResponse::json(200, huge));
        QVERIFY(!QCoro::waitFor(
            h.manager->login(QStringLiteral("anna@example.fi"), QStringLiteral("salasana-123"))));
        QCOMPARE(h.manager->errorMessage(), QStringLiteral("Virheellinen vastaus auth-palvelulta"));
    }

    void networkGoneWhileRequestRuns()
    {
        AuthHarness h;
        auto network = std::make_unique<QNetworkAccessManager>();
        AuthManager manager(h.settings.get(), network.get(), &h.desktop, &h.clock);
        QTRY_VERIFY(!manager.isChecking());
        h.peer.on("POST", QStringLiteral("/auth/login"), ScriptedResponse::silence());
        auto pending =
            manager.login(QStringLiteral("anna@example.fi"), QStringLiteral("salasana-1"));
        QTRY_COMPARE(h.peer.heldCount(), 1);
        network.reset();
        // The sign-in ends as unreachable instead of waiting for ever.
        QVERIFY(!QCoro::waitFor(pending));
        QCOMPARE(manager.errorMessage(), QStringLiteral("Yhteys auth-palveluun epäonnistui"));
        QVERIFY(!manager.isBusy());
    }

    void logLinesHoldNoSecrets()
    {
        AuthHarness h;
        h.storeSession(kStoredToken, 3600);
        h.peer.on("POST", QStringLiteral("/auth/verify"),
                  ScriptedResponse::json(401, R"({"detail":"bad token tok-stored-5c1e0d9a7b"})"));
        h.start();
        QVERIFY(!h.manager->isAuthenticated());
        h.peer.enqueue("POST", QStringLiteral("/auth/login"),
                       ScriptedResponse::json(401, R"({"detail":"no"})"));
        QVERIFY(!QCoro::waitFor(h.manager->login(QStringLiteral("anna@example.fi"),
                                                 QStringLiteral("salasana-loki-1"))));
        QVERIFY(h.signIn("tok-logged-never-77"));
        h.manager->logout();

        const QString log = AppLog::snapshot(4 << 20);
        QVERIFY(log.contains(QStringLiteral("auth login ok")));
        for (const QString &secret :
             {kStoredToken, QStringLiteral("tok-logged-never-77"),
              QStringLiteral("salasana-loki-1"), QStringLiteral("salasana-123")})
            QVERIFY2(!log.contains(secret), qPrintable(secret));
    }
};

VERNALO_TEST_MAIN(AuthSessionTest)
#include "test_auth_session.moc"
