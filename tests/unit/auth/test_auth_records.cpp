#include "auth/admin_panel.h"
#include "auth/auth_manager.h"
#include "support/test_environment.h"
#include "wire/auth_wire_records.h"

#include <QJsonDocument>
#include <QtTest>

using namespace vernalo;

namespace {

QJsonObject object(const QByteArray &json)
{
    return QJsonDocument::fromJson(json).object();
}

} // namespace

class AuthRecordsTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void loginReplyDecoding_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<bool>("decodes");
        QTest::addColumn<QString>("token");
        QTest::addColumn<QString>("email");
        QTest::addColumn<qint64>("id"); // -1: absent
        QTest::addColumn<QString>("role"); // "-": absent

        // clang-format off
        QTest::newRow("token and user") << QByteArray(R"({"token":"t","user":{"id":3,"email":"a@b.fi","role":"admin"}})") << true << "t" << "a@b.fi" << qint64(3) << "admin";
        QTest::newRow("id written as whole float") << QByteArray(R"({"token":"t","user":{"id":3.0,"email":"a@b.fi"}})") << true << "t" << "a@b.fi" << qint64(3) << "-";
        QTest::newRow("null user is absent") << QByteArray(R"({"token":"t","user":null})") << true << "t" << "" << qint64(-1) << "-";
        QTest::newRow("unknown keys ignored") << QByteArray(R"({"token":"t","extra":[1,2]})") << true << "t" << "" << qint64(-1) << "-";
        QTest::newRow("token is a number") << QByteArray(R"({"token":123})") << false << "" << "" << qint64(-1) << "-";
        QTest::newRow("user without email") << QByteArray(R"({"token":"t","user":{"id":1}})") << false << "" << "" << qint64(-1) << "-";
        QTest::newRow("user id as text") << QByteArray(R"({"token":"t","user":{"id":"1","email":"a@b.fi"}})") << false << "" << "" << qint64(-1) << "-";
        QTest::newRow("fractional id") << QByteArray(R"({"token":"t","user":{"id":1.5,"email":"a@b.fi"}})") << false << "" << "" << qint64(-1) << "-";
        QTest::newRow("user is a string") << QByteArray(R"({"token":"t","user":"anna"})") << false << "" << "" << qint64(-1) << "-";
        QTest::newRow("role is a number") << QByteArray(R"({"token":"t","user":{"email":"a@b.fi","role":1}})") << false << "" << "" << qint64(-1) << "-";
        // clang-format on
    }
    void loginReplyDecoding()
    {
        QFETCH(QByteArray, json);
        QFETCH(bool, decodes);
        const auto reply = AuthLoginResponse::fromJson(object(json));
        QCOMPARE(reply.has_value(), decodes);
        if (!decodes)
            return;
        QFETCH(QString, token);
        QFETCH(QString, email);
        QFETCH(qint64, id);
        QFETCH(QString, role);
        QCOMPARE(reply->token.value_or(QString()), token);
        QCOMPARE(reply->user ? reply->user->email : QString(), email);
        QCOMPARE(reply->user && reply->user->id ? *reply->user->id : -1, id);
        QCOMPARE(reply->user && reply->user->role ? *reply->user->role : QStringLiteral("-"), role);
        // What a server encodes from the decoded record reads back the same.
        QCOMPARE(AuthLoginResponse::fromJson(reply->toJson()), reply);
    }

    void adminUserDecoding_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<bool>("decodes");
        QTest::addColumn<QString>("role");
        QTest::addColumn<bool>("active");
        QTest::addColumn<QString>("createdAt");

        // clang-format off
        QTest::newRow("complete") << QByteArray(R"({"id":1,"email":"a@b.fi","role":"admin","is_active":false,"created_at":"2026-01-01T00:00:00Z"})") << true << "admin" << false << "2026-01-01T00:00:00Z";
        QTest::newRow("role missing") << QByteArray(R"({"id":1,"email":"a@b.fi"})") << true << "user" << true << "";
        QTest::newRow("role mistyped") << QByteArray(R"({"id":1,"email":"a@b.fi","role":5})") << true << "user" << true << "";
        QTest::newRow("is_active 0") << QByteArray(R"({"id":1,"email":"a@b.fi","is_active":0})") << true << "user" << false << "";
        QTest::newRow("is_active 2") << QByteArray(R"({"id":1,"email":"a@b.fi","is_active":2})") << true << "user" << true << "";
        QTest::newRow("is_active text") << QByteArray(R"({"id":1,"email":"a@b.fi","is_active":"no"})") << true << "user" << true << "";
        QTest::newRow("is_active null") << QByteArray(R"({"id":1,"email":"a@b.fi","is_active":null})") << true << "user" << true << "";
        QTest::newRow("date mistyped") << QByteArray(R"({"id":1,"email":"a@b.fi","created_at":17})") << true << "user" << true << "";
        QTest::newRow("id missing") << QByteArray(R"({"email":"a@b.fi"})") << false << "" << false << "";
        QTest::newRow("id as text") << QByteArray(R"({"id":"1","email":"a@b.fi"})") << false << "" << false << "";
        QTest::newRow("email missing") << QByteArray(R"({"id":1})") << false << "" << false << "";
        // clang-format on
    }
    void adminUserDecoding()
    {
        QFETCH(QByteArray, json);
        QFETCH(bool, decodes);
        const auto user = AuthAdminUser::fromJson(object(json));
        QCOMPARE(user.has_value(), decodes);
        if (!decodes)
            return;
        QFETCH(QString, role);
        QFETCH(bool, active);
        QFETCH(QString, createdAt);
        QCOMPARE(user->role, role);
        QCOMPARE(user->isActive, active);
        QCOMPARE(user->createdAt.value_or(QString()), createdAt);
        QCOMPARE(AuthAdminUser::fromJson(user->toJson()), user);
    }

    void storedMetaNeedsEveryKey_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<bool>("decodes");
        // clang-format off
        QTest::newRow("complete") << QByteArray(R"({"user":{"email":"a@b.fi"},"verifiedAt":"2026-01-01T00:00:00Z","authURL":"auth-x"})") << true;
        QTest::newRow("no user") << QByteArray(R"({"verifiedAt":"2026-01-01T00:00:00Z","authURL":"auth-x"})") << false;
        QTest::newRow("no time") << QByteArray(R"({"user":{"email":"a@b.fi"},"authURL":"auth-x"})") << false;
        QTest::newRow("no address") << QByteArray(R"({"user":{"email":"a@b.fi"},"verifiedAt":"2026-01-01T00:00:00Z"})") << false;
        QTest::newRow("time as number") << QByteArray(R"({"user":{"email":"a@b.fi"},"verifiedAt":5,"authURL":"auth-x"})") << false;
        // clang-format on
    }
    void storedMetaNeedsEveryKey()
    {
        QFETCH(QByteArray, json);
        QFETCH(bool, decodes);
        QCOMPARE(StoredAuthMeta::fromJson(object(json)).has_value(), decodes);
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
        QTest::newRow("message alone") << QByteArray(R"({"message":"m"})") << 400 << QByteArray("application/json") << "m";
        QTest::newRow("no text keys") << QByteArray(R"({"ok":false})") << 400 << QByteArray("application/json") << "-";
        QTest::newRow("empty detail gives none") << QByteArray(R"({"detail":"","error":"e"})") << 400 << QByteArray("application/json") << "-";
        QTest::newRow("mistyped detail passed over") << QByteArray(R"({"detail":{"loc":["body"]},"error":"e"})") << 422 << QByteArray("application/json") << "e";
        QTest::newRow("only mistyped keys") << QByteArray(R"({"detail":[1,2]})") << 422 << QByteArray("application/json") << "-";
        QTest::newRow("JSON list") << QByteArray(R"(["e"])") << 500 << QByteArray("application/json") << "-";
        QTest::newRow("plain text") << QByteArray("Tunnus lukittu\n") << 403 << QByteArray("text/plain") << "Tunnus lukittu";
        QTest::newRow("empty body") << QByteArray() << 500 << QByteArray() << "-";
        QTest::newRow("blank body") << QByteArray(" \n ") << 500 << QByteArray("text/plain") << "-";
        QTest::newRow("not UTF-8") << QByteArray("\xff\xfe\xfa") << 500 << QByteArray("text/plain") << "-";
        QTest::newRow("partial JSON") << QByteArray("{\"detail\":\"x") << 500 << QByteArray("application/json") << "-";
        QTest::newRow("HTML page") << QByteArray("<!DOCTYPE html><html><body><h1>502 Bad Gateway</h1></body></html>") << 502 << QByteArray("text/html") << "Palvelinvirhe (502)";
        QTest::newRow("HTML labelled as text") << QByteArray("\n  <html><head><title>Error</title></head></html>") << 500 << QByteArray("text/plain") << "Palvelinvirhe (500)";
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

    void authURLNormalisation_data()
    {
        QTest::addColumn<QString>("input");
        QTest::addColumn<QString>("normalized"); // "-": not a usable address

        // clang-format off
        QTest::newRow("spaces and slashes") << "  https://auth.example.fi///  " << "https://auth.example.fi";
        QTest::newRow("line break") << "https://auth.example.fi/\n" << "https://auth.example.fi";
        QTest::newRow("path prefix kept") << "http://127.0.0.1:8787/api/" << "http://127.0.0.1:8787/api";
        QTest::newRow("only a slash") << "/" << "-";
        QTest::newRow("only spaces") << "    " << "-";
        QTest::newRow("no scheme") << "auth.example.fi" << "-";
        QTest::newRow("not web") << "ftp://auth.example.fi" << "-";
        QTest::newRow("space inside") << "https://auth example.fi" << "-";
        QTest::newRow("no host") << "https://" << "-";
        // clang-format on
    }
    void authURLNormalisation()
    {
        QFETCH(QString, input);
        QFETCH(QString, normalized);
        QCOMPARE(AuthManager::normalizeAuthURL(input).value_or(QStringLiteral("-")), normalized);
    }

    void endpointReplacesPath_data()
    {
        QTest::addColumn<QString>("base");
        QTest::addColumn<QString>("url"); // "-": invalidURL

        // clang-format off
        QTest::newRow("origin") << "https://auth.example.fi" << "https://auth.example.fi/auth/login";
        QTest::newRow("prefix dropped") << "https://auth.example.fi/v2/tenant" << "https://auth.example.fi/auth/login";
        QTest::newRow("port and query kept") << "http://127.0.0.1:9/x?tenant=a" << "http://127.0.0.1:9/auth/login?tenant=a";
        QTest::newRow("fragment dropped") << "https://auth.example.fi#top" << "https://auth.example.fi/auth/login";
        QTest::newRow("no host") << "relative/path" << "-";
        QTest::newRow("empty") << "" << "-";
        // clang-format on
    }
    void endpointReplacesPath()
    {
        QFETCH(QString, base);
        QFETCH(QString, url);
        const AuthResult<QUrl> endpoint =
            AuthManager::authEndpoint(QStringLiteral("/auth/login"), base);
        if (url == QLatin1String("-")) {
            QVERIFY(!endpoint);
            QCOMPARE(endpoint.failure().description(QString()),
                     QStringLiteral("Virheellinen auth-osoite"));
        } else {
            QVERIFY(endpoint);
            QCOMPARE(endpoint.value().toString(), url);
        }
    }

    void userListOrder()
    {
        auto user = [](qint64 id, const char *email) {
            AuthAdminUser u;
            u.id = id;
            u.email = QString::fromUtf8(email);
            return u;
        };
        const QList<AuthAdminUser> sorted = AdminPanel::sortedForDisplay(
            {user(1, "pekka@x.fi"), user(2, "Anna@x.fi"), user(3, "bertta@x.fi"),
             user(4, "anna@x.fi"), user(5, "Aarne@x.fi")});
        QList<qint64> ids;
        for (const auto &u : sorted)
            ids << u.id;
        // Case does not split the list; equal addresses keep the service's order.
        QCOMPARE(ids, (QList<qint64> {5, 2, 4, 3, 1}));
    }
};

VERNALO_TEST_MAIN(AuthRecordsTest)
#include "test_auth_records.moc"
