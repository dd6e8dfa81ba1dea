#include "auth/admin_panel.h"
#include "auth_harness.h"
#include "support/test_environment.h"
#include "wire/auth_wire_records.h"
#include "wire/wire_coding.h"

#include <QJsonDocument>

using namespace vernalo;
using namespace vernalo::test;

namespace {

QJsonObject object(const QByteArray &json)
{
    return QJsonDocument::fromJson(json).object();
}

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
        QTest::newRow("list, key echoed") << Op::List << usual << 401 << QByteArray(R"({"detail":"key-1234abcd is not valid"})") << "*** is not valid";
        QTest::newRow("list, status 300") << Op::List << usual << 300 << QByteArray(kTwoUsers) << "Käyttäjien haku epäonnistui.";
        QTest::newRow("delete, unreachable") << Op::Delete << usual << 0 << QByteArray() << "Yhteys auth-palveluun epäonnistui";
        QTest::newRow("list without key") << Op::List << QStringList {" \n", "a@b.fi", "pw", "user"} << -1 << QByteArray() << "Syötä admin-avain.";
        QTest::newRow("create, role before key") << Op::Create << QStringList {"", "a@b.fi", "pw", "root"} << -1 << QByteArray() << "Virheellinen rooli.";
        QTest::newRow("reset without password") << Op::ResetPassword << QStringList {"", "", " ", ""} << -1 << QByteArray() << "Syötä uusi salasana.";
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

    // Deleting a user needs a confirmation, resetting a password a new one typed in a secure
    // prompt (sent trimmed); a cancel, or a blank answer, sends nothing.
    void panelAsksFirst_data()
    {
        QTest::addColumn<bool>("reset"); // else delete
        QTest::addColumn<std::optional<QString>>("answer"); // the prompt's; delete: empty confirms
        QTest::addColumn<QByteArray>("sent"); // empty: no request
        const std::optional<QString> cancel;
        // clang-format off
        QTest::newRow("delete confirmed") << false << std::optional<QString>(QString()) << "{}"_qba;
        QTest::newRow("delete cancelled") << false << cancel << QByteArray();
        QTest::newRow("reset cancelled") << true << cancel << QByteArray();
        QTest::newRow("reset blank") << true << std::optional<QString>(QStringLiteral("  \n")) << QByteArray();
        QTest::newRow("reset trimmed") << true << std::optional<QString>(QStringLiteral(" uusi-salasana-9 ")) << R"({"password":"uusi-salasana-9"})"_qba;
        // clang-format on
    }
    void panelAsksFirst()
    {
        QFETCH(bool, reset);
        QFETCH(std::optional<QString>, answer);
        QFETCH(QByteArray, sent);
        PanelRig rig(QStringLiteral("key-ask-1"));
        rig.desktop.promptAnswers.enqueue(answer);
        rig.desktop.confirmAnswers.enqueue(answer.has_value());
        rig.peer.on("POST", QStringLiteral("/admin/users/8/reset-password"),
                    ScriptedResponse::json(200, "{}"));
        rig.peer.on("DELETE", QStringLiteral("/admin/users/8"), ScriptedResponse::json(200, "{}"));
        rig.peer.on(
            "GET", QStringLiteral("/admin/users"),
            ScriptedResponse::json(200, R"({"users":[{"id":3,"email":"anna@example.fi"}]})"));
        QVERIFY(rig.run([reset](AdminPanel &panel) {
            reset ? panel.resetUserPassword(8) : panel.deleteUser(8);
        }));

        QCOMPARE(rig.desktop.prompts.size(), reset ? 1 : 0);
        QCOMPARE(rig.desktop.confirmations.size(), reset ? 0 : 1);
        QVERIFY(reset ? rig.desktop.prompts[0].secure : rig.desktop.frontCount == 1);
        QCOMPARE(rig.peer.requests().isEmpty(), sent.isEmpty());
        if (!sent.isEmpty())
            QCOMPARE(rig.peer.requests()[0].body, reset ? sent : QByteArray());
        // A deletion reloads the list.
        QCOMPARE(rig.panel->adminUsers().size(), !reset && !sent.isEmpty() ? 1 : 0);
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

    // What decodes, re-encoded as it would be written ("-": refused); the re-encoded form reads
    // back the same. Refused server replies are the hostile corpus's.
    void recordDecoding_data()
    {
        QTest::addColumn<QString>("record"); // login reply, admin list entry or stored meta
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<QByteArray>("encoded");
        const QByteArray user = R"("email":"a@b.fi","id":1,)";
        const QByteArray meta =
            R"({"authURL":"auth-x","user":{"email":"a@b.fi"},"verifiedAt":"2026-01-01T00:00:00Z"})";
        // clang-format off
        QTest::newRow("token and user") << "login" << R"({"token":"t","user":{"id":3,"email":"a@b.fi","role":"admin"}})"_qba << R"({"token":"t","user":{"email":"a@b.fi","id":3,"role":"admin"}})"_qba;
        QTest::newRow("id written as whole float") << "login" << R"({"token":"t","user":{"id":3.0,"email":"a@b.fi"}})"_qba << R"({"token":"t","user":{"email":"a@b.fi","id":3}})"_qba;
        QTest::newRow("null user is absent") << "login" << R"({"token":"t","user":null})"_qba << R"({"token":"t"})"_qba;
        QTest::newRow("unknown keys ignored") << "login" << R"({"token":"t","extra":[1,2]})"_qba << R"({"token":"t"})"_qba;
        QTest::newRow("admin: complete") << "admin" << R"({"id":1,"email":"a@b.fi","role":"admin","is_active":false,"created_at":"2026-01-01T00:00:00Z"})"_qba << R"({"created_at":"2026-01-01T00:00:00Z",)" + user + R"("is_active":false,"role":"admin"})";
        QTest::newRow("admin: role missing") << "admin" << R"({"id":1,"email":"a@b.fi"})"_qba << "{" + user + R"("is_active":true,"role":"user"})";
        QTest::newRow("admin: role mistyped") << "admin" << R"({"id":1,"email":"a@b.fi","role":5})"_qba << "{" + user + R"("is_active":true,"role":"user"})";
        QTest::newRow("admin: is_active 0") << "admin" << R"({"id":1,"email":"a@b.fi","is_active":0})"_qba << "{" + user + R"("is_active":false,"role":"user"})";
        QTest::newRow("admin: is_active 2") << "admin" << R"({"id":1,"email":"a@b.fi","is_active":2})"_qba << "{" + user + R"("is_active":true,"role":"user"})";
        QTest::newRow("meta: complete") << "meta" << meta << meta;
        QTest::newRow("meta: no user") << "meta" << R"({"verifiedAt":"2026-01-01T00:00:00Z","authURL":"auth-x"})"_qba << "-"_qba;
        QTest::newRow("meta: no time") << "meta" << R"({"user":{"email":"a@b.fi"},"authURL":"auth-x"})"_qba << "-"_qba;
        QTest::newRow("meta: no address") << "meta" << R"({"user":{"email":"a@b.fi"},"verifiedAt":"2026-01-01T00:00:00Z"})"_qba << "-"_qba;
        QTest::newRow("meta: time as number") << "meta" << R"({"user":{"email":"a@b.fi"},"verifiedAt":5,"authURL":"auth-x"})"_qba << "-"_qba;
        // clang-format on
    }
    void recordDecoding()
    {
        QFETCH(QString, record);
        QFETCH(QByteArray, json);
        QFETCH(QByteArray, encoded);
        const auto reencode = [](const QJsonObject &object, auto decode) {
            const auto decoded = decode(object);
            if (!decoded)
                return QByteArray("-");
            if (!(decode(decoded->toJson()) == decoded))
                return QByteArray("reads back otherwise");
            return wire::compact(decoded->toJson());
        };
        const QJsonObject input = object(json);
        if (record == u"login")
            QCOMPARE(reencode(input,
                              [](const QJsonObject &o) { return AuthLoginResponse::fromJson(o); }),
                     encoded);
        else if (record == u"admin")
            QCOMPARE(
                reencode(input, [](const QJsonObject &o) { return AuthAdminUser::fromJson(o); }),
                encoded);
        else
            QCOMPARE(
                reencode(input, [](const QJsonObject &o) { return StoredAuthMeta::fromJson(o); }),
                encoded);
    }

    void serverErrorText_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("contentType");
        QTest::addColumn<QString>("text"); // "-": no text

        // clang-format off
        QTest::newRow("error before message") << QByteArray(R"({"message":"m","error":"e"})") << 400 << QByteArray("application/json") << "e";
        QTest::newRow("detail first") << QByteArray(R"({"detail":"d","error":"e"})") << 400 << QByteArray("application/json") << "d";
        QTest::newRow("empty detail gives none") << QByteArray(R"({"detail":"","error":"e"})") << 400 << QByteArray("application/json") << "-";
        QTest::newRow("mistyped detail passed over") << QByteArray(R"({"detail":{"loc":["body"]},"error":"e"})") << 422 << QByteArray("application/json") << "e";
        QTest::newRow("plain text") << QByteArray("Tunnus lukittu\n") << 403 << QByteArray("text/plain") << "Tunnus lukittu";
        QTest::newRow("empty body") << QByteArray() << 500 << QByteArray() << "-";
        QTest::newRow("not UTF-8") << QByteArray("\xff\xfe\xfa") << 500 << QByteArray("text/plain") << "-";
        QTest::newRow("HTML page") << QByteArray("<!DOCTYPE html><html><body><h1>502 Bad Gateway</h1></body></html>") << 502 << QByteArray("text/html") << "Palvelinvirhe (502)";
        QTest::newRow("JSON labelled as HTML") << QByteArray(R"({"detail":"d"})") << 401 << QByteArray("text/html; charset=utf-8") << "d";
        QTest::newRow("text starting with a bracket") << QByteArray("<no access>") << 403 << QByteArray("text/plain") << "<no access>";
        // clang-format on
    }
    void serverErrorText()
    {
        QFETCH(QByteArray, body);
        QFETCH(int, status);
        QFETCH(QByteArray, contentType);
        QFETCH(QString, text);
        QCOMPARE(
            AuthManager::parseServerError(body, status, contentType).value_or(QStringLiteral("-")),
            text);
    }

    // The address as typed is trimmed of blanks and trailing slashes and must be a web address;
    // an endpoint replaces its path and drops its fragment ("-": refused). An address that is
    // no usable setting is taken as it is.
    void authAddress_data()
    {
        QTest::addColumn<QString>("input");
        QTest::addColumn<QString>("normalized");
        QTest::addColumn<QString>("endpoint");
        // clang-format off
        QTest::newRow("spaces and slashes") << "  https://auth.example.fi///  " << "https://auth.example.fi" << "https://auth.example.fi/auth/login";
        QTest::newRow("line break") << "https://auth.example.fi/\n" << "https://auth.example.fi" << "https://auth.example.fi/auth/login";
        QTest::newRow("path prefix") << "http://127.0.0.1:8787/api/" << "http://127.0.0.1:8787/api" << "http://127.0.0.1:8787/auth/login";
        QTest::newRow("port and query") << "http://127.0.0.1:9/x?tenant=a" << "http://127.0.0.1:9/x?tenant=a" << "http://127.0.0.1:9/auth/login?tenant=a";
        QTest::newRow("fragment") << "https://auth.example.fi#top" << "https://auth.example.fi#top" << "https://auth.example.fi/auth/login";
        QTest::newRow("only a slash") << "/" << "-" << "-";
        QTest::newRow("only spaces") << "    " << "-" << "-";
        QTest::newRow("no scheme") << "auth.example.fi" << "-" << "-";
        QTest::newRow("not web") << "ftp://auth.example.fi" << "-" << "ftp://auth.example.fi/auth/login";
        QTest::newRow("space inside") << "https://auth example.fi" << "-" << "-";
        QTest::newRow("no host") << "https://" << "-" << "-";
        QTest::newRow("relative") << "relative/path" << "-" << "-";
        // clang-format on
    }
    void authAddress()
    {
        QFETCH(QString, input);
        QFETCH(QString, normalized);
        QFETCH(QString, endpoint);
        const auto setting = AuthManager::normalizeAuthURL(input);
        QCOMPARE(setting.value_or(QStringLiteral("-")), normalized);
        const AuthResult<QUrl> url =
            AuthManager::authEndpoint(QStringLiteral("/auth/login"), setting.value_or(input));
        QCOMPARE(url ? url.value().toString()
                     : QStringLiteral("-") + url.failure().description(QString()),
                 endpoint == u"-" ? QStringLiteral("-Virheellinen auth-osoite") : endpoint);
    }
};

VERNALO_TEST_MAIN(AuthAdminTest)
#include "test_auth_admin.moc"
