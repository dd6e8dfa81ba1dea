#include "auth/admin_panel.h"
#include "auth/auth_manager.h"
#include "auth/change_password_flow.h"
#include "auth/password_reset_flow.h"
#include "foundation/secure_settings.h"
#include "server_test_support.h"
#include "support/fake_clock.h"
#include "support/fake_desktop_services.h"
#include "support/test_environment.h"
#include "wire/json_fields.h"

#include <QNetworkAccessManager>
#include <QSignalSpy>
#include <QtTest>

using namespace vernalo;
using namespace vernalo::test;

namespace {

const QString kAdminKey = QStringLiteral("admin-key-integration-1");

template<typename Object, typename Action> bool runToFinish(Object *object, Action action)
{
    QSignalSpy spy(object, &Object::actionFinished);
    action();
    return !spy.isEmpty() || spy.wait(10000);
}

} // namespace

// The client's auth session, account sheets and admin panel against the reference server's
// auth service: both sides' records and paths have to agree.
class AuthAgainstServerTest : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<InProcessServer> m_server;
    QTemporaryDir m_dir;
    std::unique_ptr<SecureSettings> m_settings;
    QNetworkAccessManager m_network;
    FakeClock m_clock;
    FakeDesktopServices m_desktop;

    std::unique_ptr<AuthManager> startManager()
    {
        auto manager =
            std::make_unique<AuthManager>(m_settings.get(), &m_network, &m_desktop, &m_clock);
        if (!QTest::qWaitFor([&manager]() { return !manager->isChecking(); }, 10000))
            qWarning("restore did not finish");
        return manager;
    }

private Q_SLOTS:
    void init()
    {
        server::ServerOptions options;
        options.demoUsers = {{QStringLiteral("demo@vernalo.local"), QStringLiteral("demo")},
                             {QStringLiteral("Bertta@vernalo.local"), QStringLiteral("bertta")}};
        options.adminKey = kAdminKey;
        m_server = std::make_unique<InProcessServer>(QStringLiteral("1 hello there\n"), options);
        QString error;
        QVERIFY2(m_server->start(&error), qPrintable(error));
        m_settings = std::make_unique<SecureSettings>(
            m_dir.filePath(QString::fromLatin1(QTest::currentTestFunction()) + ".conf"));
        m_settings->setValue(QLatin1String(AuthManager::kAuthURLKey),
                             m_server->baseUrl().toString());
    }
    void cleanup()
    {
        m_settings.reset();
        m_server.reset();
    }

    void sessionLifecycle()
    {
        auto manager = startManager();
        QVERIFY(!manager->isAuthenticated());

        QVERIFY(!QCoro::waitFor(
            manager->login(QStringLiteral("demo@vernalo.local"), QStringLiteral("väärä"), true)));
        QCOMPARE(manager->errorMessage(), QStringLiteral("Väärä sähköposti tai salasana."));

        QVERIFY(QCoro::waitFor(
            manager->login(QStringLiteral(" DEMO@vernalo.local "), QStringLiteral("demo"), true)));
        QCOMPARE(manager->currentUser()->email, QStringLiteral("demo@vernalo.local"));
        const auto token = manager->currentBackendSessionToken();
        QVERIFY(token);

        // The next start verifies the remembered token with the service.
        manager = startManager();
        QVERIFY(manager->isAuthenticated());
        QCOMPARE(manager->currentBackendSessionToken(), token);

        ChangePasswordFlow sheet(manager.get());
        sheet.setChangeCurrentPassword(QStringLiteral("demo"));
        sheet.setChangeNewPassword(QStringLiteral("äöåäöåäöåä"));
        sheet.setChangeConfirmPassword(QStringLiteral("äöåäöåäöåä"));
        QVERIFY(runToFinish(&sheet, [&sheet]() { sheet.submit(); }));
        QCOMPARE(sheet.changePasswordError(), QString());
        QCOMPARE(sheet.changePasswordMessage(), QStringLiteral("Salasana vaihdettu."));

        PasswordResetFlow reset(manager.get());
        reset.setResetEmail(QStringLiteral("demo@vernalo.local"));
        QVERIFY(runToFinish(&reset, [&reset]() { reset.send(); }));
        QCOMPARE(reset.resetError(), QString());
        QVERIFY(!reset.resetMessage().isEmpty());

        manager->logout();
        manager = startManager();
        QVERIFY(!manager->isAuthenticated());
        QVERIFY(QCoro::waitFor(
            manager->login(QStringLiteral("demo@vernalo.local"), QString::fromUtf8("äöåäöåäöåä"))));
    }

    void administration()
    {
        auto manager = startManager();
        AdminPanel panel(manager.get(), &m_desktop);

        panel.setAdminKey(QStringLiteral("admin-key-wrong"));
        QVERIFY(runToFinish(&panel, [&panel]() { panel.loadUsers(); }));
        QCOMPARE(panel.adminError(), QStringLiteral("Virheellinen admin-avain."));
        QCOMPARE(manager->loadStoredAdminKey(), QString());

        panel.setAdminKey(kAdminKey + QLatin1Char(' '));
        QVERIFY(runToFinish(&panel, [&panel]() { panel.loadUsers(); }));
        QCOMPARE(panel.adminError(), QString());
        QCOMPARE(manager->loadStoredAdminKey(), kAdminKey);
        QCOMPARE(panel.adminUsers().size(), 2);
        QCOMPARE(panel.adminUsers()[0].email.toLower(), QStringLiteral("bertta@vernalo.local"));

        panel.setAdminNewUserEmail(QStringLiteral("Uusi@Vernalo.local"));
        panel.setAdminNewUserPassword(QStringLiteral("alku-salasana-1"));
        QVERIFY(runToFinish(&panel, [&panel]() { panel.createUser(); }));
        QCOMPARE(panel.adminError(), QString());
        QCOMPARE(panel.adminMessage(), QStringLiteral("Käyttäjä luotu: uusi@vernalo.local"));
        QCOMPARE(panel.adminUsers().size(), 3);
        const auto created = std::find_if(
            panel.adminUsers().begin(), panel.adminUsers().end(),
            [](const AuthAdminUser &u) { return u.email == QLatin1String("uusi@vernalo.local"); });
        QVERIFY(created != panel.adminUsers().end());
        const qint64 id = created->id;

        // The list row as the client reads it from the server's administration list.
        auto row = [&panel, id]() {
            const auto &users = panel.adminUsers();
            const auto found = std::find_if(users.begin(), users.end(),
                                            [id](const AuthAdminUser &u) { return u.id == id; });
            return found == users.end() ? AuthAdminUser {} : *found;
        };
        QVERIFY(runToFinish(&panel, [&]() { panel.setUserEnabled(id, false); }));
        QCOMPARE(panel.adminMessage(), QStringLiteral("Käyttäjä estetty."));
        QVERIFY(runToFinish(&panel, [&panel]() { panel.loadUsers(); }));
        QCOMPARE(row().id, id);
        QVERIFY(!row().isActive);
        QCOMPARE(row().disabledAt, std::optional<QString>(toIso8601(m_server->clock().now())));
        QVERIFY(!QCoro::waitFor(manager->login(QStringLiteral("uusi@vernalo.local"),
                                               QStringLiteral("alku-salasana-1"))));
        QCOMPARE(manager->errorMessage(), QStringLiteral("Käyttäjätunnus on estetty."));
        m_desktop.confirmAnswers.enqueue(true);
        QVERIFY(runToFinish(&panel, [&]() { panel.deleteUser(id); }));
        QCOMPARE(panel.adminMessage(), QStringLiteral("Käyttäjä poistettu."));
        QCOMPARE(panel.adminUsers().size(), 2);
    }
};

VERNALO_TEST_MAIN(AuthAgainstServerTest)
#include "test_auth_against_server.moc"
