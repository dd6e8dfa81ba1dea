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
QString runOp(AuthManager &manager, Op op, const OpArgs &args)
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
        return text(QCoro::waitFor(manager.adminSetUserEnabled(42, true, args.key)));
    case Op::Disable:
        return text(QCoro::waitFor(manager.adminSetUserEnabled(42, false, args.key)));
    case Op::Delete:
        return text(QCoro::waitFor(manager.adminDeleteUser(42, args.key)));
    case Op::ResetPassword:
        return text(QCoro::waitFor(manager.adminResetPassword(42, args.password, args.key)));
    }
    return {};
}

const QByteArray kTwoUsers =
    R"({"users":[{"id":5,"email":"pekka@example.fi","is_active":0},{"id":3,"email":"Anna@example.fi","role":"admin"}]})";

} // namespace

Q_DECLARE_METATYPE(Op)

class AuthAdminTest : public QObject
{
    Q_OBJECT

private:
    QStringList emails(const AdminPanel &panel)
    {
        QStringList list;
        for (const auto &user : panel.adminUsers())
            list << user.email;
        return list;
    }

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

        QCOMPARE(runOp(*h.manager, op, OpArgs()), QStringLiteral("ok"));
        QCOMPARE(h.peer.requests().size(), 1);
        const RecordedRequest &sent = h.peer.requests()[0];
        QCOMPARE(sent.method, method);
        QCOMPARE(sent.path, path);
        QCOMPARE(sent.header("X-Admin-Key"), QByteArray("key-1234abcd"));
        QCOMPARE(sent.header("X-VN-App-Context"), QByteArray("vernalo-mac"));
        QVERIFY(!sent.hasHeader("Authorization"));
        if (body.isEmpty()) {
            QVERIFY(sent.body.isEmpty());
            QVERIFY(!sent.hasHeader("Content-Type"));
        } else {
            QCOMPARE(sent.header("Content-Type"), QByteArray("application/json"));
            QCOMPARE(sent.json().object(), QJsonDocument::fromJson(body).object());
        }
    }

    void failures_data()
    {
        QTest::addColumn<Op>("op");
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("text");

        // clang-format off
        QTest::newRow("list, no text") << Op::List << 500 << QByteArray() << "Käyttäjien haku epäonnistui.";
        QTest::newRow("create, no text") << Op::Create << 500 << QByteArray() << "Käyttäjän luonti epäonnistui.";
        QTest::newRow("role, no text") << Op::Role << 500 << QByteArray() << "Roolin vaihto epäonnistui.";
        QTest::newRow("enable, no text") << Op::Enable << 500 << QByteArray() << "Käyttäjän aktivointi epäonnistui.";
        QTest::newRow("disable, no text") << Op::Disable << 500 << QByteArray() << "Käyttäjän esto epäonnistui.";
        QTest::newRow("delete, no text") << Op::Delete << 500 << QByteArray() << "Käyttäjän poisto epäonnistui.";
        QTest::newRow("reset, no text") << Op::ResetPassword << 500 << QByteArray() << "Salasanan nollaus epäonnistui.";
        QTest::newRow("list, wrong key") << Op::List << 401 << QByteArray(R"({"detail":"Väärä admin-avain"})") << "Väärä admin-avain";
        QTest::newRow("list, key echoed") << Op::List << 401 << QByteArray(R"({"detail":"key-1234abcd is not valid"})") << "*** is not valid";
        QTest::newRow("create, exists") << Op::Create << 409 << QByteArray(R"({"error":"Käyttäjä on jo olemassa"})") << "Käyttäjä on jo olemassa";
        QTest::newRow("delete, unknown user") << Op::Delete << 404 << QByteArray(R"({"detail":"Käyttäjää ei löydy"})") << "Käyttäjää ei löydy";
        QTest::newRow("enable, proxy page") << Op::Enable << 403 << QByteArray("<html><body>Forbidden</body></html>") << "Palvelinvirhe (403)";
        QTest::newRow("list, status 300") << Op::List << 300 << QByteArray(kTwoUsers) << "Käyttäjien haku epäonnistui.";
        QTest::newRow("list, cut-off reply") << Op::List << 200 << QByteArray("{\"users\":[{\"id\":1,") << "<no text>";
        QTest::newRow("list, entry without e-mail") << Op::List << 200 << QByteArray(R"({"users":[{"id":1}]})") << "<no text>";
        // clang-format on
    }
    void failures()
    {
        QFETCH(Op, op);
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        QFETCH(QString, text);
        AuthHarness h;
        h.start();
        h.peer.setFallback(
            [&](const RecordedRequest &) { return ScriptedResponse::json(status, body); });
        QCOMPARE(runOp(*h.manager, op, OpArgs()), text);
        QCOMPARE(h.peer.requests().size(), 1);
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
        const auto second = h.peer.requestsTo("POST", QStringLiteral("/admin/users/42/set-role"));
        QCOMPARE(second.size(), 1);
        QCOMPARE(second[0].json().object(),
                 (QJsonObject {{QStringLiteral("role"), QStringLiteral("user")}}));
        QCOMPARE(second[0].header("X-Admin-Key"), QByteArray("key-1234abcd"));
    }

    void unreachableService()
    {
        AuthHarness h;
        h.settings->setValue(QLatin1String(AuthManager::kAuthURLKey), closedPortURL());
        h.start();
        QCOMPARE(runOp(*h.manager, Op::Delete, OpArgs()),
                 QStringLiteral("Yhteys auth-palveluun epäonnistui"));
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
        QTest::newRow("create without password") << Op::Create << "a@b.fi" << "" << "user" << "k" << "Syötä sähköposti ja salasana.";
        QTest::newRow("create, unknown role") << Op::Create << "a@b.fi" << "pw" << "owner" << "k" << "Virheellinen rooli.";
        QTest::newRow("create, fields before role") << Op::Create << "" << "pw" << "owner" << "" << "Syötä sähköposti ja salasana.";
        QTest::newRow("create, role before key") << Op::Create << "a@b.fi" << "pw" << "root" << "" << "Virheellinen rooli.";
        QTest::newRow("create without key") << Op::Create << "a@b.fi" << "pw" << "user" << "" << "Syötä admin-avain.";
        QTest::newRow("role, unknown") << Op::Role << "" << "" << "superuser" << "k" << "Virheellinen rooli.";
        QTest::newRow("role, empty") << Op::Role << "" << "" << "  " << "k" << "Virheellinen rooli.";
        QTest::newRow("role without key") << Op::Role << "" << "" << "admin" << "" << "Syötä admin-avain.";
        QTest::newRow("enable without key") << Op::Enable << "" << "" << "" << "\t" << "Syötä admin-avain.";
        QTest::newRow("delete without key") << Op::Delete << "" << "" << "" << "" << "Syötä admin-avain.";
        QTest::newRow("reset without password") << Op::ResetPassword << "" << " " << "" << "" << "Syötä uusi salasana.";
        QTest::newRow("reset without key") << Op::ResetPassword << "" << "pw" << "" << "" << "Syötä admin-avain.";
        // clang-format on
    }
    void refusedBeforeAnyRequest()
    {
        QFETCH(Op, op);
        OpArgs args;
        QFETCH(QString, email);
        QFETCH(QString, password);
        QFETCH(QString, role);
        QFETCH(QString, key);
        QFETCH(QString, text);
        args.email = email;
        args.password = password;
        args.role = role;
        args.key = key;
        AuthHarness h;
        h.start();
        QCOMPARE(runOp(*h.manager, op, args), text);
        QVERIFY(h.peer.requests().isEmpty());
    }

    void keyKeptOnlyAfterSuccess()
    {
        AuthHarness h;
        h.start();
        AdminPanel panel(h.manager.get(), &h.desktop);
        panel.setAdminKey(QStringLiteral(" key-5678efgh \n"));
        h.peer.enqueue("GET", QStringLiteral("/admin/users"),
                       ScriptedResponse::json(401, R"({"detail":"Väärä admin-avain"})"));
        QVERIFY(runToFinish(&panel, [&panel]() { panel.loadUsers(); }));
        QCOMPARE(panel.adminError(), QStringLiteral("Väärä admin-avain"));
        QCOMPARE(h.manager->loadStoredAdminKey(), QString());
        QVERIFY(!h.settingsFileBytes().contains("key-5678efgh"));

        h.peer.enqueue("GET", QStringLiteral("/admin/users"),
                       ScriptedResponse::json(200, kTwoUsers));
        QVERIFY(runToFinish(&panel, [&panel]() { panel.loadUsers(); }));
        QCOMPARE(panel.adminError(), QString());
        QCOMPARE(panel.adminMessage(), QStringLiteral("Käyttäjät haettu."));
        QCOMPARE(h.manager->loadStoredAdminKey(), QStringLiteral("key-5678efgh"));
        QCOMPARE(panel.adminKey(), QStringLiteral("key-5678efgh"));
        QCOMPARE(
            emails(panel),
            (QStringList {QStringLiteral("Anna@example.fi"), QStringLiteral("pekka@example.fi")}));
        QCOMPARE(
            panel.adminUserRows().value(1).toMap().value(QStringLiteral("statusLabel")).toString(),
            QStringLiteral("estetty"));
    }

    void keyButtons()
    {
        AuthHarness h;
        h.start();
        AdminPanel panel(h.manager.get(), &h.desktop);
        panel.setAdminKey(QStringLiteral("   "));
        panel.saveKey();
        QCOMPARE(panel.adminError(), QStringLiteral("Syötä admin-avain."));
        QVERIFY(!h.settings->contains(QLatin1String(AuthManager::kAdminKeyStorageKey)));

        panel.setAdminKey(QStringLiteral("\tkey-9999 "));
        panel.saveKey();
        QCOMPARE(panel.adminMessage(),
                 QStringLiteral("Admin-avain tallennettu tähän laitteeseen."));
        QCOMPARE(panel.adminError(), QString());
        QCOMPARE(panel.adminKey(), QStringLiteral("key-9999"));
        QCOMPARE(h.manager->loadStoredAdminKey(), QStringLiteral("key-9999"));

        panel.clearKey();
        QCOMPARE(panel.adminMessage(), QStringLiteral("Admin-avain poistettu tästä laitteesta."));
        QCOMPARE(panel.adminKey(), QString());
        QVERIFY(!h.settingsFileBytes().contains("key-9999"));
    }

    void prepareForDisplay_data()
    {
        QTest::addColumn<bool>("enabled");
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("fieldAfter");
        QTest::addColumn<QString>("storedAfter");
        // clang-format off
        QTest::newRow("on, empty field") << true << "" << "stored-key-1" << "stored-key-1";
        QTest::newRow("on, typed field") << true << "typed" << "typed" << "stored-key-1";
        QTest::newRow("off") << false << "typed" << "" << "";
        // clang-format on
    }
    void prepareForDisplay()
    {
        QFETCH(bool, enabled);
        QFETCH(QString, field);
        QFETCH(QString, fieldAfter);
        QFETCH(QString, storedAfter);
        AuthHarness h;
        h.start();
        h.manager->saveAdminKey(QStringLiteral("stored-key-1"));
        AdminPanel panel(h.manager.get(), &h.desktop);
        panel.setAdminKey(field);
        panel.prepareForDisplay(enabled);
        QCOMPARE(panel.adminKey(), fieldAfter);
        QCOMPARE(h.manager->loadStoredAdminKey(), storedAfter);
    }

    void createUserReloadsList()
    {
        AuthHarness h;
        h.start();
        AdminPanel panel(h.manager.get(), &h.desktop);
        panel.setAdminKey(QStringLiteral("key-create-1"));
        panel.setAdminNewUserEmail(QStringLiteral(" Uusi@Example.FI "));
        panel.setAdminNewUserPassword(QStringLiteral(" alku-salasana-1 "));
        panel.setAdminNewUserRole(QStringLiteral("admin"));
        h.peer.on("POST", QStringLiteral("/admin/users"), ScriptedResponse::json(201, "{}"));
        h.peer.on("GET", QStringLiteral("/admin/users"), ScriptedResponse::json(200, kTwoUsers));
        QVERIFY(runToFinish(&panel, [&panel]() { panel.createUser(); }));

        QCOMPARE(panel.adminMessage(), QStringLiteral("Käyttäjä luotu: uusi@example.fi"));
        QCOMPARE(panel.adminError(), QString());
        QVERIFY(!panel.adminBusy());
        QCOMPARE(panel.adminNewUserEmail(), QString());
        QCOMPARE(panel.adminNewUserPassword(), QString());
        QCOMPARE(emails(panel).size(), 2);
        QCOMPARE(h.peer.requests().size(), 2);
        QCOMPARE(h.peer.requests()[0].method, QByteArray("POST"));
        QCOMPARE(h.peer.requests()[0].json().object().value(QStringLiteral("role")).toString(),
                 QStringLiteral("admin"));
        QCOMPARE(h.peer.requests()[1].method, QByteArray("GET"));
    }

    void createUserNeedsFields()
    {
        AuthHarness h;
        h.start();
        AdminPanel panel(h.manager.get(), &h.desktop);
        panel.setAdminKey(QStringLiteral("key-create-1"));
        panel.setAdminNewUserEmail(QStringLiteral("uusi@example.fi"));
        panel.setAdminNewUserPassword(QStringLiteral("  "));
        QVERIFY(runToFinish(&panel, [&panel]() { panel.createUser(); }));
        QCOMPARE(panel.adminError(),
                 QStringLiteral("Syötä uuden käyttäjän sähköposti ja salasana."));
        QVERIFY(h.peer.requests().isEmpty());
        QCOMPARE(panel.adminNewUserEmail(), QStringLiteral("uusi@example.fi"));
    }

    void reloadFailureKeepsSuccessMessage()
    {
        AuthHarness h;
        h.start();
        AdminPanel panel(h.manager.get(), &h.desktop);
        panel.setAdminKey(QStringLiteral("key-role-1"));
        h.peer.on("POST", QStringLiteral("/admin/users/3/role"), ScriptedResponse::json(200, "{}"));
        h.peer.on("GET", QStringLiteral("/admin/users"), ScriptedResponse::json(500, {}));
        QVERIFY(runToFinish(&panel, [&panel]() { panel.setUserRole(3, QStringLiteral("admin")); }));
        QCOMPARE(panel.adminMessage(), QStringLiteral("Rooli päivitetty."));
        QCOMPARE(panel.adminError(), QStringLiteral("Käyttäjien haku epäonnistui."));
        QVERIFY(!panel.adminBusy());
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
        AuthHarness h;
        h.start();
        AdminPanel panel(h.manager.get(), &h.desktop);
        panel.setAdminKey(QStringLiteral("key-delete-1"));
        h.desktop.confirmAnswers.enqueue(confirmed);
        h.peer.on("DELETE", QStringLiteral("/admin/users/5"), ScriptedResponse::json(200, "{}"));
        h.peer.on("GET", QStringLiteral("/admin/users"),
                  ScriptedResponse::json(200, R"({"users":[{"id":3,"email":"anna@example.fi"}]})"));
        QVERIFY(runToFinish(&panel, [&panel]() { panel.deleteUser(5); }));

        QCOMPARE(h.desktop.confirmations.size(), 1);
        const ConfirmRequest &asked = h.desktop.confirmations[0];
        QCOMPARE(asked.title, QStringLiteral("Poista käyttäjä"));
        QCOMPARE(
            asked.message,
            QStringLiteral("Käyttäjä poistetaan käytöstä ja sen sessiot suljetaan. Jatketaanko?"));
        QCOMPARE(asked.acceptButton, QStringLiteral("Jatka"));
        QCOMPARE(asked.cancelButton, QStringLiteral("Peruuta"));
        QCOMPARE(h.desktop.frontCount, 1);

        QCOMPARE(h.peer.requestsTo("DELETE", QStringLiteral("/admin/users/5")).size(),
                 confirmed ? 1 : 0);
        QCOMPARE(h.peer.requestsTo("GET", QStringLiteral("/admin/users")).size(),
                 confirmed ? 1 : 0);
        QCOMPARE(panel.adminMessage(),
                 confirmed ? QStringLiteral("Käyttäjä poistettu.") : QString());
        QCOMPARE(emails(panel).size(), confirmed ? 1 : 0);
    }

    void resetPasswordAsksFirst_data()
    {
        QTest::addColumn<bool>("answered");
        QTest::addColumn<QString>("answer");
        QTest::addColumn<QString>("sentPassword"); // empty: no request
        // clang-format off
        QTest::newRow("cancelled") << false << "" << "";
        QTest::newRow("blank") << true << "  \n" << "";
        QTest::newRow("trimmed") << true << " uusi-salasana-9 " << "uusi-salasana-9";
        // clang-format on
    }
    void resetPasswordAsksFirst()
    {
        QFETCH(bool, answered);
        QFETCH(QString, answer);
        QFETCH(QString, sentPassword);
        AuthHarness h;
        h.start();
        AdminPanel panel(h.manager.get(), &h.desktop);
        panel.setAdminKey(QStringLiteral("key-reset-1"));
        h.desktop.promptAnswers.enqueue(answered ? std::optional<QString>(answer) : std::nullopt);
        h.peer.on("POST", QStringLiteral("/admin/users/8/reset-password"),
                  ScriptedResponse::json(200, "{}"));
        QVERIFY(runToFinish(&panel, [&panel]() { panel.resetUserPassword(8); }));

        QCOMPARE(h.desktop.prompts.size(), 1);
        QCOMPARE(h.desktop.prompts[0].title, QStringLiteral("Nollaa salasana"));
        QCOMPARE(h.desktop.prompts[0].informativeText,
                 QStringLiteral("Anna käyttäjälle uusi salasana."));
        QCOMPARE(h.desktop.prompts[0].placeholder, QStringLiteral("Uusi salasana"));
        QVERIFY(h.desktop.prompts[0].secure);
        const auto sent = h.peer.requests();
        QCOMPARE(sent.size(), sentPassword.isEmpty() ? 0 : 1);
        if (!sentPassword.isEmpty()) {
            QCOMPARE(sent[0].json().object(),
                     (QJsonObject {{QStringLiteral("password"), sentPassword}}));
            QCOMPARE(panel.adminMessage(), QStringLiteral("Salasana nollattu."));
        }
    }

    void enablingLeavesListUntilNextLoad()
    {
        AuthHarness h;
        h.start();
        AdminPanel panel(h.manager.get(), &h.desktop);
        panel.setAdminKey(QStringLiteral("key-enable-1"));
        h.peer.on("GET", QStringLiteral("/admin/users"), ScriptedResponse::json(200, kTwoUsers));
        h.peer.on("POST", QStringLiteral("/admin/users/5/enable"),
                  ScriptedResponse::json(200, "{}"));
        QVERIFY(runToFinish(&panel, [&panel]() { panel.loadUsers(); }));
        const QList<AuthAdminUser> before = panel.adminUsers();
        QVERIFY(runToFinish(&panel, [&panel]() { panel.setUserEnabled(5, true); }));
        QCOMPARE(panel.adminMessage(), QStringLiteral("Käyttäjä aktivoitu."));
        QCOMPARE(panel.adminUsers(), before);
        QCOMPARE(h.peer.requestsTo("GET", QStringLiteral("/admin/users")).size(), 1);
    }

    void actionsNeedKey_data()
    {
        QTest::addColumn<int>("action");
        for (int action = 0; action < 6; ++action)
            // clang-format off
            QTest::newRow(qPrintable(QStringLiteral("action %1").arg(action))) << action;
        // clang-format on
    }
    void actionsNeedKey()
    {
        QFETCH(int, action);
        AuthHarness h;
        h.start();
        AdminPanel panel(h.manager.get(), &h.desktop);
        panel.setAdminKey(QStringLiteral(" \n"));
        panel.setAdminNewUserEmail(QStringLiteral("uusi@example.fi"));
        panel.setAdminNewUserPassword(QStringLiteral("alku-salasana-1"));
        h.desktop.confirmAnswers.enqueue(true);
        h.desktop.promptAnswers.enqueue(QStringLiteral("uusi-salasana-1"));
        const std::function<void()> actions[] = {
            [&]() { panel.loadUsers(); },
            [&]() { panel.createUser(); },
            [&]() { panel.setUserRole(1, QStringLiteral("admin")); },
            [&]() { panel.setUserEnabled(1, false); },
            [&]() { panel.resetUserPassword(1); },
            [&]() { panel.deleteUser(1); }};
        QVERIFY(runToFinish(&panel, actions[action]));
        QCOMPARE(panel.adminError(), QStringLiteral("Syötä admin-avain."));
        QVERIFY(h.peer.requests().isEmpty());
        QVERIFY(h.desktop.prompts.isEmpty());
        QVERIFY(h.desktop.confirmations.isEmpty());
    }

    void keyThatCannotBeSentUsesFlowText_data()
    {
        QTest::addColumn<int>("action");
        QTest::addColumn<QString>("error");
        // clang-format off
        QTest::newRow("role") << 0 << "Roolin päivitys epäonnistui.";
        QTest::newRow("state") << 1 << "Käyttäjän tilan muutos epäonnistui.";
        QTest::newRow("load") << 2 << "Käyttäjien haku epäonnistui.";
        // clang-format on
    }
    void keyThatCannotBeSentUsesFlowText()
    {
        QFETCH(int, action);
        QFETCH(QString, error);
        AuthHarness h;
        h.start();
        AdminPanel panel(h.manager.get(), &h.desktop);
        // A pasted key with a line break inside would split the request's headers.
        panel.setAdminKey(QStringLiteral("key-part-1\r\nX-Admin-Key: other"));
        const std::function<void()> actions[] = {
            [&]() { panel.setUserRole(1, QStringLiteral("user")); },
            [&]() { panel.setUserEnabled(1, true); }, [&]() { panel.loadUsers(); }};
        QVERIFY(runToFinish(&panel, actions[action]));
        QCOMPARE(panel.adminError(), error);
        QVERIFY(h.peer.requests().isEmpty());
        QCOMPARE(h.manager->loadStoredAdminKey(), QString());
    }

    void secondActionIgnoredWhileBusy()
    {
        AuthHarness h;
        h.start();
        AdminPanel panel(h.manager.get(), &h.desktop);
        panel.setAdminKey(QStringLiteral("key-busy-1"));
        h.peer.on("GET", QStringLiteral("/admin/users"), ScriptedResponse::silence());
        QSignalSpy finished(&panel, &AdminPanel::actionFinished);
        panel.loadUsers();
        QTRY_COMPARE(h.peer.heldCount(), 1);
        QVERIFY(panel.adminBusy());
        panel.loadUsers();
        panel.deleteUser(3);
        QVERIFY(h.desktop.confirmations.isEmpty());
        h.clock.advance(std::chrono::seconds(60));
        QTRY_COMPARE(finished.count(), 1);
        QVERIFY(!panel.adminBusy());
        QCOMPARE(panel.adminError(), QStringLiteral("Yhteys auth-palveluun epäonnistui"));
        QCOMPARE(h.peer.requests().size(), 1);
    }

    void logAndErrorsHoldNoAdminKey()
    {
        AuthHarness h;
        h.start();
        AdminPanel panel(h.manager.get(), &h.desktop);
        panel.setAdminKey(QStringLiteral("adm-SECRET-0042"));
        h.peer.on("GET", QStringLiteral("/admin/users"),
                  ScriptedResponse::json(401, R"({"detail":"adm-SECRET-0042 rejected"})"));
        QVERIFY(runToFinish(&panel, [&panel]() { panel.loadUsers(); }));
        QVERIFY(!panel.adminError().contains(QStringLiteral("adm-SECRET-0042")));
        h.peer.on("GET", QStringLiteral("/admin/users"), ScriptedResponse::json(200, kTwoUsers));
        QVERIFY(runToFinish(&panel, [&panel]() { panel.loadUsers(); }));
        h.peer.on("DELETE", QStringLiteral("/admin/users/5"), ScriptedResponse::json(500, {}));
        h.desktop.confirmAnswers.enqueue(true);
        QVERIFY(runToFinish(&panel, [&panel]() { panel.deleteUser(5); }));

        const QString log = AppLog::snapshot(4 << 20);
        QVERIFY(log.contains(QStringLiteral("op=listUsers")));
        QVERIFY(!log.contains(QStringLiteral("adm-SECRET-0042")));
    }
};

VERNALO_TEST_MAIN(AuthAdminTest)
#include "test_auth_admin.moc"
