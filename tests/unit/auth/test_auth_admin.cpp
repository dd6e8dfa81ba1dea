#include "auth/admin_panel.h"
#include "auth_harness.h"
#include "foundation/app_log.h"
#include "support/test_environment.h"

#include <QJsonDocument>

using namespace vernalo;
using namespace vernalo::test;

namespace {

enum class Op { List, Create, Role, Enable, Disable, Delete, ResetPassword };

struct OpArgs
{
    QString key = QStringLiteral(" key-1234abcd \n");
    QString email = QStringLiteral(" Uusi.Kayttaja@Example.FI ");
    QString password = QStringLiteral(" alku-salasana-1 ");
    QString role = QStringLiteral(" Admin ");
};

// Every admin call reduced to its outcome text: "ok" or the error's description (with the
// placeholder "<no text>" for failures that carry none).
QString runOp(AuthManager &manager, Op op, const OpArgs &args = {})
{
    auto text = [](const auto &result) {
        return result ? QStringLiteral("ok")
                      : result.failure().description(QStringLiteral("<no text>"));
    };
    switch (op) {
    case Op::List:
        return text(QCoro::waitFor(manager.adminListUsers(args.key)));
    case Op::Create:
        return text(QCoro::waitFor(
            manager.adminCreateUser(args.email, args.password, args.role, args.key)));
    case Op::Role:
        return text(QCoro::waitFor(manager.adminSetUserRole(42, args.role, args.key)));
    case Op::Enable:
    case Op::Disable:
        return text(QCoro::waitFor(manager.adminSetUserEnabled(42, op == Op::Enable, args.key)));
    case Op::Delete:
        return text(QCoro::waitFor(manager.adminDeleteUser(42, args.key)));
    case Op::ResetPassword:
        return text(QCoro::waitFor(manager.adminResetPassword(42, args.password, args.key)));
    }
    return {};
}

// The panel's buttons by name, each on user 1.
void press(AdminPanel &panel, const QString &action)
{
    if (action == u"load")
        panel.loadUsers();
    else if (action == u"create")
        panel.createUser();
    else if (action == u"role")
        panel.setUserRole(1, QStringLiteral("admin"));
    else if (action == u"disable")
        panel.setUserEnabled(1, false);
    else if (action == u"reset")
        panel.resetUserPassword(1);
    else if (action == u"delete")
        panel.deleteUser(1);
}

QStringList emails(const AdminPanel &panel)
{
    QStringList list;
    for (const auto &user : panel.adminUsers())
        list << user.email;
    return list;
}

const QByteArray kTwoUsers =
    R"({"users":[{"id":5,"email":"pekka@example.fi","is_active":0},{"id":3,"email":"Anna@example.fi","role":"admin"}]})";

// A signed-in harness with a panel holding `key`.
struct PanelRig : AuthHarness
{
    std::unique_ptr<AdminPanel> panel;
    explicit PanelRig(const QString &key)
    {
        start();
        panel = std::make_unique<AdminPanel>(manager.get(), &desktop);
        panel->setAdminKey(key);
    }
    bool run(std::function<void(AdminPanel &)> action)
    {
        return runToFinish(panel.get(), [&] { action(*panel); });
    }
};

} // namespace

Q_DECLARE_METATYPE(Op)

class AuthAdminTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void callsOnTheWire_data()
    {
        QTest::addColumn<Op>("op");
        QTest::addColumn<QByteArray>("method");
        QTest::addColumn<QString>("path");
        QTest::addColumn<QByteArray>("body"); // empty: no body and no content type
        // clang-format off
        QTest::newRow("list") << Op::List << QByteArray("GET") << "/admin/users" << QByteArray();
        QTest::newRow("create") << Op::Create << QByteArray("POST") << "/admin/users" << QByteArray(R"({"email":"uusi.kayttaja@example.fi","password":"alku-salasana-1","role":"admin"})");
        QTest::newRow("role") << Op::Role << QByteArray("POST") << "/admin/users/42/role" << QByteArray(R"({"role":"admin"})");
        QTest::newRow("enable") << Op::Enable << QByteArray("POST") << "/admin/users/42/enable" << QByteArray();
        QTest::newRow("disable") << Op::Disable << QByteArray("POST") << "/admin/users/42/disable" << QByteArray();
        QTest::newRow("delete") << Op::Delete << QByteArray("DELETE") << "/admin/users/42" << QByteArray();
        QTest::newRow("reset password") << Op::ResetPassword << QByteArray("POST") << "/admin/users/42/reset-password" << QByteArray(R"({"password":"alku-salasana-1"})");
        // clang-format on
    }
    void callsOnTheWire()
    {
        QFETCH(Op, op);
        QFETCH(QByteArray, method);
        QFETCH(QString, path);
        QFETCH(QByteArray, body);
        AuthHarness h;
        h.start();
        QVERIFY(h.signIn("tok-not-for-admin-calls"));
        h.peer.clearRequests();
        h.peer.on(method, path,
                  ScriptedResponse::json(200, op == Op::List ? kTwoUsers : QByteArray("{}")));

        QCOMPARE(runOp(*h.manager, op), QStringLiteral("ok"));
        QCOMPARE(h.peer.requests().size(), 1);
        const RecordedRequest &sent = h.peer.requests()[0];
        QCOMPARE(sent.method, method);
        QCOMPARE(sent.path, path);
        QCOMPARE(sent.header("X-Admin-Key"), QByteArray("key-1234abcd"));
        QCOMPARE(sent.header("X-VN-App-Context"), QByteArray("vernalo-mac"));
        QVERIFY(!sent.hasHeader("Authorization"));
        QCOMPARE(sent.body.isEmpty(), body.isEmpty());
        QCOMPARE(sent.json().object(), QJsonDocument::fromJson(body).object());
        QCOMPARE(sent.header("Content-Type"),
                 body.isEmpty() ? QByteArray() : QByteArray("application/json"));
    }

    void failures_data()
    {
        QTest::addColumn<Op>("op");
        QTest::addColumn<int>("status"); // 0: nothing listens
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("text");
        // clang-format off
        QTest::newRow("list, no text") << Op::List << 500 << QByteArray() << "Käyttäjien haku epäonnistui.";
        QTest::newRow("role, no text") << Op::Role << 500 << QByteArray() << "Roolin vaihto epäonnistui.";
        QTest::newRow("disable, no text") << Op::Disable << 500 << QByteArray() << "Käyttäjän esto epäonnistui.";
        QTest::newRow("list, key echoed") << Op::List << 401 << QByteArray(R"({"detail":"key-1234abcd is not valid"})") << "*** is not valid";
        QTest::newRow("create, exists") << Op::Create << 409 << QByteArray(R"({"error":"Käyttäjä on jo olemassa"})") << "Käyttäjä on jo olemassa";
        QTest::newRow("enable, proxy page") << Op::Enable << 403 << QByteArray("<html><body>Forbidden</body></html>") << "Palvelinvirhe (403)";
        QTest::newRow("list, status 300") << Op::List << 300 << QByteArray(kTwoUsers) << "Käyttäjien haku epäonnistui.";
        QTest::newRow("delete, unreachable") << Op::Delete << 0 << QByteArray() << "Yhteys auth-palveluun epäonnistui";
        // clang-format on
    }
    void failures()
    {
        QFETCH(Op, op);
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        QFETCH(QString, text);
        AuthHarness h;
        if (!status)
            h.set(AuthManager::kAuthURLKey, closedPortURL());
        h.start();
        h.peer.setFallback(
            [&](const RecordedRequest &) { return ScriptedResponse::json(status, body); });
        QCOMPARE(runOp(*h.manager, op), text);
        QCOMPARE(h.peer.requests().size(), status ? 1 : 0);
    }

    void roleTriesOlderPath_data()
    {
        QTest::addColumn<int>("secondStatus");
        QTest::addColumn<QString>("text");
        // clang-format off
        QTest::newRow("older service") << 200 << "ok";
        QTest::newRow("neither path") << 404 << "Roolin vaihto ei ole käytössä auth-palvelussa.";
        QTest::newRow("older path fails") << 400 << "Roolin vaihto epäonnistui.";
        // clang-format on
    }
    void roleTriesOlderPath()
    {
        QFETCH(int, secondStatus);
        QFETCH(QString, text);
        AuthHarness h;
        h.start();
        h.peer.on("POST", QStringLiteral("/admin/users/42/role"),
                  ScriptedResponse::json(404, R"({"detail":"Not Found"})"));
        h.peer.on("POST", QStringLiteral("/admin/users/42/set-role"),
                  ScriptedResponse::json(secondStatus, {}));
        OpArgs args;
        args.role = QStringLiteral("USER ");
        QCOMPARE(runOp(*h.manager, Op::Role, args), text);
        const auto second = h.sent(QStringLiteral("/admin/users/42/set-role"));
        QCOMPARE(second.size(), 1);
        QCOMPARE(second[0].body, QByteArray(R"({"role":"user"})"));
        QCOMPARE(second[0].header("X-Admin-Key"), QByteArray("key-1234abcd"));
    }

    void refusedBeforeAnyRequest_data()
    {
        QTest::addColumn<Op>("op");
        QTest::addColumn<QString>("email");
        QTest::addColumn<QString>("password");
        QTest::addColumn<QString>("role");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("text");
        // clang-format off
        QTest::newRow("list without key") << Op::List << "a@b.fi" << "pw" << "user" << " \n" << "Syötä admin-avain.";
        QTest::newRow("create without e-mail") << Op::Create << " " << "pw" << "user" << "k" << "Syötä sähköposti ja salasana.";
        QTest::newRow("create, fields before role") << Op::Create << "" << "pw" << "owner" << "" << "Syötä sähköposti ja salasana.";
        QTest::newRow("create, role before key") << Op::Create << "a@b.fi" << "pw" << "root" << "" << "Virheellinen rooli.";
        QTest::newRow("role, unknown") << Op::Role << "" << "" << "superuser" << "k" << "Virheellinen rooli.";
        QTest::newRow("delete without key") << Op::Delete << "" << "" << "" << "" << "Syötä admin-avain.";
        QTest::newRow("reset without password") << Op::ResetPassword << "" << " " << "" << "" << "Syötä uusi salasana.";
        QTest::newRow("reset without key") << Op::ResetPassword << "" << "pw" << "" << "" << "Syötä admin-avain.";
        // clang-format on
    }
    void refusedBeforeAnyRequest()
    {
        QFETCH(Op, op);
        QFETCH(QString, email);
        QFETCH(QString, password);
        QFETCH(QString, role);
        QFETCH(QString, key);
        QFETCH(QString, text);
        AuthHarness h;
        h.start();
        QCOMPARE(runOp(*h.manager, op, {key, email, password, role}), text);
        QVERIFY(h.peer.requests().isEmpty());
    }

    void keyKeptOnlyAfterSuccess()
    {
        PanelRig rig(QStringLiteral(" key-5678efgh \n"));
        rig.peer.enqueue("GET", QStringLiteral("/admin/users"),
                         ScriptedResponse::json(401, R"({"detail":"Väärä admin-avain"})"));
        QVERIFY(rig.run([](AdminPanel &panel) { panel.loadUsers(); }));
        QCOMPARE(rig.panel->adminError(), QStringLiteral("Väärä admin-avain"));
        QCOMPARE(rig.manager->loadStoredAdminKey(), QString());
        QVERIFY(!rig.settingsFileBytes().contains("key-5678efgh"));

        rig.peer.enqueue("GET", QStringLiteral("/admin/users"),
                         ScriptedResponse::json(200, kTwoUsers));
        QVERIFY(rig.run([](AdminPanel &panel) { panel.loadUsers(); }));
        QCOMPARE(rig.panel->adminError(), QString());
        QCOMPARE(rig.manager->loadStoredAdminKey(), QStringLiteral("key-5678efgh"));
        QCOMPARE(rig.panel->adminKey(), QStringLiteral("key-5678efgh"));
        QCOMPARE(
            emails(*rig.panel),
            (QStringList {QStringLiteral("Anna@example.fi"), QStringLiteral("pekka@example.fi")}));
    }

    void createUserReloadsList()
    {
        PanelRig rig(QStringLiteral("key-create-1"));
        rig.panel->setAdminNewUserEmail(QStringLiteral(" Uusi@Example.FI "));
        rig.panel->setAdminNewUserPassword(QStringLiteral(" alku-salasana-1 "));
        rig.panel->setAdminNewUserRole(QStringLiteral("admin"));
        rig.peer.on("POST", QStringLiteral("/admin/users"), ScriptedResponse::json(201, "{}"));
        rig.peer.on("GET", QStringLiteral("/admin/users"), ScriptedResponse::json(200, kTwoUsers));
        QVERIFY(rig.run([](AdminPanel &panel) { panel.createUser(); }));

        QCOMPARE(rig.panel->adminMessage(), QStringLiteral("Käyttäjä luotu: uusi@example.fi"));
        QVERIFY(!rig.panel->adminBusy());
        QCOMPARE(rig.panel->adminNewUserEmail() + rig.panel->adminNewUserPassword(), QString());
        QCOMPARE(emails(*rig.panel).size(), 2);
        QCOMPARE(rig.peer.requests().size(), 2);
        QCOMPARE(rig.peer.requests()[0].body,
                 QByteArray(
                     R"({"email":"uusi@example.fi","password":"alku-salasana-1","role":"admin"})"));
        QCOMPARE(rig.peer.requests()[1].method, QByteArray("GET"));
    }

    void deleteNeedsConfirmation_data()
    {
        QTest::addColumn<bool>("confirmed");
        // clang-format off
        QTest::newRow("confirmed") << true;
        QTest::newRow("cancelled") << false;
        // clang-format on
    }
    void deleteNeedsConfirmation()
    {
        QFETCH(bool, confirmed);
        PanelRig rig(QStringLiteral("key-delete-1"));
        rig.desktop.confirmAnswers.enqueue(confirmed);
        rig.peer.on("DELETE", QStringLiteral("/admin/users/5"), ScriptedResponse::json(200, "{}"));
        rig.peer.on(
            "GET", QStringLiteral("/admin/users"),
            ScriptedResponse::json(200, R"({"users":[{"id":3,"email":"anna@example.fi"}]})"));
        QVERIFY(rig.run([](AdminPanel &panel) { panel.deleteUser(5); }));

        QCOMPARE(rig.desktop.confirmations.size(), 1);
        QCOMPARE(rig.desktop.frontCount, 1);
        QCOMPARE(rig.sent(QStringLiteral("/admin/users/5"), "DELETE").size(), confirmed ? 1 : 0);
        QCOMPARE(rig.sent(QStringLiteral("/admin/users"), "GET").size(), confirmed ? 1 : 0);
        QCOMPARE(emails(*rig.panel).size(), confirmed ? 1 : 0);
    }

    void resetPasswordAsksFirst_data()
    {
        QTest::addColumn<bool>("answered");
        QTest::addColumn<QString>("answer");
        QTest::addColumn<QByteArray>("sent"); // empty: no request
        // clang-format off
        QTest::newRow("cancelled") << false << "" << QByteArray();
        QTest::newRow("blank") << true << "  \n" << QByteArray();
        QTest::newRow("trimmed") << true << " uusi-salasana-9 " << QByteArray(R"({"password":"uusi-salasana-9"})");
        // clang-format on
    }
    void resetPasswordAsksFirst()
    {
        QFETCH(bool, answered);
        QFETCH(QString, answer);
        QFETCH(QByteArray, sent);
        PanelRig rig(QStringLiteral("key-reset-1"));
        rig.desktop.promptAnswers.enqueue(answered ? std::optional<QString>(answer) : std::nullopt);
        rig.peer.on("POST", QStringLiteral("/admin/users/8/reset-password"),
                    ScriptedResponse::json(200, "{}"));
        QVERIFY(rig.run([](AdminPanel &panel) { panel.resetUserPassword(8); }));

        QCOMPARE(rig.desktop.prompts.size(), 1);
        QVERIFY(rig.desktop.prompts[0].secure);
        QCOMPARE(rig.peer.requests().size(), sent.isEmpty() ? 0 : 1);
        if (!sent.isEmpty())
            QCOMPARE(rig.peer.requests()[0].body, sent);
    }

    // The panel refuses before any request, dialog or stored key: a missing key, a key with a
    // line break that would split the request's headers, an empty new-user form.
    void panelRefuses_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("action");
        QTest::addColumn<QString>("error");
        const QString none = QStringLiteral(" \n");
        const QString split = QStringLiteral("key-part-1\r\nX-Admin-Key: other");
        const QString needKey = QStringLiteral("Syötä admin-avain.");
        // clang-format off
        for (const char *action : {"load", "create", "role", "disable", "reset", "delete"})
            QTest::newRow(qPrintable(QStringLiteral("no key, ") + action)) << none << action << needKey;
        QTest::newRow("split key, role") << split << "role" << "Roolin päivitys epäonnistui.";
        QTest::newRow("split key, state") << split << "disable" << "Käyttäjän tilan muutos epäonnistui.";
        QTest::newRow("split key, load") << split << "load" << "Käyttäjien haku epäonnistui.";
        QTest::newRow("create, blank password") << "key-create-1" << "create" << "Syötä uuden käyttäjän sähköposti ja salasana.";
        // clang-format on
    }
    void panelRefuses()
    {
        QFETCH(QString, key);
        QFETCH(QString, action);
        QFETCH(QString, error);
        PanelRig rig(key);
        rig.panel->setAdminNewUserEmail(QStringLiteral("uusi@example.fi"));
        rig.panel->setAdminNewUserPassword(key == u"key-create-1" ? QStringLiteral("  ")
                                                                  : QStringLiteral("alku-sala-1"));
        rig.desktop.confirmAnswers.enqueue(true);
        rig.desktop.promptAnswers.enqueue(QStringLiteral("uusi-salasana-1"));
        QVERIFY(rig.run([&](AdminPanel &panel) { press(panel, action); }));
        QCOMPARE(rig.panel->adminError(), error);
        QVERIFY(rig.peer.requests().isEmpty());
        QVERIFY(rig.desktop.prompts.isEmpty());
        QVERIFY(rig.desktop.confirmations.isEmpty());
        QCOMPARE(rig.manager->loadStoredAdminKey(), QString());
        QCOMPARE(rig.panel->adminNewUserEmail(), QStringLiteral("uusi@example.fi"));
    }

    void secondActionIgnoredWhileBusy()
    {
        PanelRig rig(QStringLiteral("key-busy-1"));
        rig.peer.on("GET", QStringLiteral("/admin/users"), ScriptedResponse::silence());
        QSignalSpy finished(rig.panel.get(), &AdminPanel::actionFinished);
        rig.panel->loadUsers();
        QTRY_COMPARE(rig.peer.heldCount(), 1);
        QVERIFY(rig.panel->adminBusy());
        rig.panel->loadUsers();
        rig.panel->deleteUser(3);
        QVERIFY(rig.desktop.confirmations.isEmpty());
        rig.clock.advance(std::chrono::seconds(60));
        QTRY_COMPARE(finished.count(), 1);
        QVERIFY(!rig.panel->adminBusy());
        QCOMPARE(rig.panel->adminError(), QStringLiteral("Yhteys auth-palveluun epäonnistui"));
        QCOMPARE(rig.peer.requests().size(), 1);
    }

    void logAndErrorsHoldNoAdminKey()
    {
        PanelRig rig(QStringLiteral("adm-SECRET-0042"));
        rig.peer.on("GET", QStringLiteral("/admin/users"),
                    ScriptedResponse::json(401, R"({"detail":"adm-SECRET-0042 rejected"})"));
        QVERIFY(rig.run([](AdminPanel &panel) { panel.loadUsers(); }));
        QVERIFY(!rig.panel->adminError().contains(QStringLiteral("adm-SECRET-0042")));
        rig.peer.on("GET", QStringLiteral("/admin/users"), ScriptedResponse::json(200, kTwoUsers));
        QVERIFY(rig.run([](AdminPanel &panel) { panel.loadUsers(); }));
        rig.peer.on("DELETE", QStringLiteral("/admin/users/5"), ScriptedResponse::json(500, {}));
        rig.desktop.confirmAnswers.enqueue(true);
        QVERIFY(rig.run([](AdminPanel &panel) { panel.deleteUser(5); }));

        const QString log = AppLog::snapshot(4 << 20);
        QVERIFY(log.contains(QStringLiteral("op=listUsers")));
        QVERIFY(!log.contains(QStringLiteral("adm-SECRET-0042")));
    }
};

VERNALO_TEST_MAIN(AuthAdminTest)
#include "test_auth_admin.moc"
