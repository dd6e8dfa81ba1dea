#include "auth/admin_panel.h"
#include "auth/auth_manager.h"
#include "support/test_environment.h"
#include "wire/auth_wire_records.h"
#include "wire/wire_coding.h"

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
        QTest::newRow("admin: is_active text") << "admin" << R"({"id":1,"email":"a@b.fi","is_active":"no"})"_qba << "{" + user + R"("is_active":true,"role":"user"})";
        QTest::newRow("admin: date mistyped") << "admin" << R"({"id":1,"email":"a@b.fi","created_at":17})"_qba << "{" + user + R"("is_active":true,"role":"user"})";
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
