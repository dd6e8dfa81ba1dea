#include "auth/admin_panel.h"
#include "auth_harness.h"
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

    // Failures, each with the text shown: answers without a usable text, a reply echoing the
    // key, no service, and input refused before any request (status -1).
    void failures_data()
    {
        QTest::addColumn<Op>("op");
        QTest::addColumn<QStringList>("args"); // key, e-mail, password, role; empty: the usual
        QTest::addColumn<int>("status"); // 0: nothing listens
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("text");
        const QStringList usual;
        // clang-format off
        QTest::newRow("list, no text") << Op::List << usual << 500 << QByteArray() << "Käyttäjien haku epäonnistui.";
        QTest::newRow("list, key echoed") << Op::List << usual << 401 << QByteArray(R"({"detail":"key-1234abcd is not valid"})") << "*** is not valid";
        QTest::newRow("create, exists") << Op::Create << usual << 409 << QByteArray(R"({"error":"Käyttäjä on jo olemassa"})") << "Käyttäjä on jo olemassa";
        QTest::newRow("enable, proxy page") << Op::Enable << usual << 403 << QByteArray("<html><body>Forbidden</body></html>") << "Palvelinvirhe (403)";
        QTest::newRow("list, status 300") << Op::List << usual << 300 << QByteArray(kTwoUsers) << "Käyttäjien haku epäonnistui.";
        QTest::newRow("delete, unreachable") << Op::Delete << usual << 0 << QByteArray() << "Yhteys auth-palveluun epäonnistui";
        QTest::newRow("list without key") << Op::List << QStringList {" \n", "a@b.fi", "pw", "user"} << -1 << QByteArray() << "Syötä admin-avain.";
        QTest::newRow("create without e-mail") << Op::Create << QStringList {"k", " ", "pw", "user"} << -1 << QByteArray() << "Syötä sähköposti ja salasana.";
        QTest::newRow("create, fields before role") << Op::Create << QStringList {"", "", "pw", "owner"} << -1 << QByteArray() << "Syötä sähköposti ja salasana.";
        QTest::newRow("create, role before key") << Op::Create << QStringList {"", "a@b.fi", "pw", "root"} << -1 << QByteArray() << "Virheellinen rooli.";
        QTest::newRow("role, unknown") << Op::Role << QStringList {"k", "", "", "superuser"} << -1 << QByteArray() << "Virheellinen rooli.";
        QTest::newRow("delete without key") << Op::Delete << QStringList {"", "", "", ""} << -1 << QByteArray() << "Syötä admin-avain.";
        QTest::newRow("reset without password") << Op::ResetPassword << QStringList {"", "", " ", ""} << -1 << QByteArray() << "Syötä uusi salasana.";
        QTest::newRow("reset without key") << Op::ResetPassword << QStringList {"", "", "pw", ""} << -1 << QByteArray() << "Syötä admin-avain.";
        // clang-format on
    }
    void failures()
    {
        QFETCH(Op, op);
        QFETCH(QStringList, args);
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        QFETCH(QString, text);
        AuthHarness h;
        if (!status)
            h.set(AuthManager::kAuthURLKey, closedPortURL());
        h.start();
        h.peer.setFallback(
            [&](const RecordedRequest &) { return ScriptedResponse::json(status, body); });
        const OpArgs given =
            args.isEmpty() ? OpArgs {} : OpArgs {args[0], args[1], args[2], args[3]};
        QCOMPARE(runOp(*h.manager, op, given), text);
        QCOMPARE(h.peer.requests().size(), status > 0 ? 1 : 0);
    }

    // A service without the role path gets the older one, with the same key and role (what a
    // missing second path gives: the password reset rows).
    void roleTriesOlderPath()
    {
        AuthHarness h;
        h.start();
        h.peer.on("POST", QStringLiteral("/admin/users/42/role"),
                  ScriptedResponse::json(404, R"({"detail":"Not Found"})"));
        h.peer.on("POST", QStringLiteral("/admin/users/42/set-role"),
                  ScriptedResponse::json(200, {}));
        OpArgs args;
        args.role = QStringLiteral("USER ");
        QCOMPARE(runOp(*h.manager, Op::Role, args), QStringLiteral("ok"));
        const auto second = h.sent(QStringLiteral("/admin/users/42/set-role"));
        QCOMPARE(second.size(), 1);
        QCOMPARE(second[0].body, QByteArray(R"({"role":"user"})"));
        QCOMPARE(second[0].header("X-Admin-Key"), QByteArray("key-1234abcd"));
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
        QCOMPARE(rig.panel->adminUsers().size(), confirmed ? 1 : 0);
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
};

VERNALO_TEST_MAIN(AuthAdminTest)
#include "test_auth_admin.moc"
