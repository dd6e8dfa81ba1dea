#include "auth/change_password_flow.h"
#include "auth/password_reset_flow.h"
#include "auth_harness.h"
#include "support/test_environment.h"

#include <QJsonDocument>

using namespace vernalo;
using namespace vernalo::test;

namespace {

const QString kResetPath = QStringLiteral("/auth/request-password-reset");
const QString kResetSecondPath = QStringLiteral("/auth/forgot-password");
const QString kChangePath = QStringLiteral("/auth/change-password");
const QString kChangeSecondPath = QStringLiteral("/auth/change_password");

QString outcome(const AuthResult<QString> &result)
{
    return result ? result.value() : QStringLiteral("error: ") + result.failure().description({});
}

} // namespace

class AuthAccountTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // The password reset and change: their requests, the text their answers give, and the older
    // path a service without the first one is asked on, with exactly the same request.
    void passwordCall_data()
    {
        QTest::addColumn<QString>("op");
        QTest::addColumn<int>("firstStatus");
        QTest::addColumn<QByteArray>("firstBody");
        QTest::addColumn<QByteArray>("contentType");
        QTest::addColumn<int>("secondStatus"); // 0: the second path must not be tried
        QTest::addColumn<QByteArray>("secondBody");
        QTest::addColumn<QString>("outcome");
        const QByteArray json = "application/json";
        // clang-format off
        QTest::newRow("reset: message") << "reset" << 200 << QByteArray(R"({"ok":true,"message":"Ohje lähetetty"})") << json << 0 << QByteArray() << "Ohje lähetetty";
        QTest::newRow("reset: message before detail") << "reset" << 200 << QByteArray(R"({"detail":"d","message":"m"})") << json << 0 << QByteArray() << "m";
        QTest::newRow("reset: plain text") << "reset" << 200 << QByteArray("ok") << QByteArray("text/plain") << 0 << QByteArray() << "ok";
        QTest::newRow("reset: empty body") << "reset" << 200 << QByteArray() << json << 0 << QByteArray() << "Palautusohje lähetetty.";
        QTest::newRow("reset: HTML page") << "reset" << 200 << QByteArray("<html><body>Portal</body></html>") << QByteArray("text/html") << 0 << QByteArray() << "Palautusohje lähetetty.";
        QTest::newRow("reset: older service") << "reset" << 404 << QByteArray(R"({"detail":"Not Found"})") << json << 200 << QByteArray(R"({"message":"toinen polku"})") << "toinen polku";
        QTest::newRow("reset: neither path") << "reset" << 404 << QByteArray() << json << 404 << QByteArray(R"({"detail":"Not Found"})") << "error: Salasanan palautus ei ole käytössä auth-palvelussa.";
        QTest::newRow("reset: older path fails") << "reset" << 404 << QByteArray() << json << 500 << QByteArray() << "error: Salasanan palautus epäonnistui.";
        QTest::newRow("reset: server error is final") << "reset" << 500 << QByteArray(R"({"detail":"SMTP ei vastaa"})") << json << 0 << QByteArray() << "error: SMTP ei vastaa";
        QTest::newRow("reset: proxy page") << "reset" << 502 << QByteArray("<!DOCTYPE html><html></html>") << QByteArray("text/html") << 0 << QByteArray() << "error: Palvelinvirhe (502)";
        QTest::newRow("change: message") << "change" << 200 << QByteArray(R"({"message":"Vaihdettu"})") << json << 0 << QByteArray() << "Vaihdettu";
        QTest::newRow("change: plain text ignored") << "change" << 200 << QByteArray("done") << QByteArray("text/plain") << 0 << QByteArray() << "Salasana päivitetty.";
        QTest::newRow("change: older service") << "change" << 404 << QByteArray() << json << 200 << QByteArray(R"({"detail":"ok vanha"})") << "ok vanha";
        QTest::newRow("change: wrong current password") << "change" << 401 << QByteArray(R"({"detail":"Nykyinen salasana on väärä"})") << json << 0 << QByteArray() << "error: Nykyinen salasana on väärä";
        QTest::newRow("change: reply echoes the new password") << "change" << 400 << QByteArray(R"({"detail":"uusi-salasana-42 on liian heikko"})") << json << 0 << QByteArray() << "error: *** on liian heikko";
        // clang-format on
    }
    void passwordCall()
    {
        QFETCH(QString, op);
        QFETCH(int, firstStatus);
        QFETCH(QByteArray, firstBody);
        QFETCH(QByteArray, contentType);
        QFETCH(int, secondStatus);
        QFETCH(QByteArray, secondBody);
        QFETCH(QString, outcome);
        const bool change = op == u"change";
        const QString first = change ? kChangePath : kResetPath;
        const QString second = change ? kChangeSecondPath : kResetSecondPath;
        AuthHarness h;
        h.start();
        if (change)
            QVERIFY(h.signIn("tok-change-2024"));
        h.peer.clearRequests();
        h.peer.on("POST", first, ScriptedResponse::withType(firstStatus, firstBody, contentType));
        h.peer.on("POST", second,
                  ScriptedResponse::json(secondStatus ? secondStatus : 500, secondBody));

        const auto result = change
            ? QCoro::waitFor(h.manager->changePassword(QStringLiteral(" vanha-salasana "),
                                                       QStringLiteral("uusi-salasana-42\n")))
            : QCoro::waitFor(
                  h.manager->requestPasswordReset(QStringLiteral("  Anna@Example.FI\n")));
        QCOMPARE(::outcome(result), outcome);
        const auto firstCalls = h.sent(first);
        const auto secondCalls = h.sent(second);
        QCOMPARE(firstCalls.size(), 1);
        QCOMPARE(secondCalls.size(), secondStatus ? 1 : 0);
        for (const RecordedRequest &sent : secondCalls + firstCalls) {
            QCOMPARE(sent.body,
                     change
                         ? QByteArray(R"({"currentPassword":"vanha-salasana","current_password":)"
                                      R"("vanha-salasana","newPassword":"uusi-salasana-42",)"
                                      R"("new_password":"uusi-salasana-42"})")
                         : QByteArray(R"({"email":"anna@example.fi"})"));
            QCOMPARE(sent.header("Content-Type"), QByteArray("application/json"));
            QCOMPARE(sent.header("X-VN-App-Context"), QByteArray("vernalo-mac"));
            QCOMPARE(sent.header("Authorization"),
                     change ? QByteArray("Bearer tok-change-2024") : QByteArray());
        }
        // The sign-in state is not touched by the outcome.
        QCOMPARE(h.manager->isAuthenticated(), change);
    }

    void refusedBeforeAnyRequest_data()
    {
        QTest::addColumn<bool>("signedIn");
        QTest::addColumn<QString>("operation");
        QTest::addColumn<QString>("first");
        QTest::addColumn<QString>("second");
        QTest::addColumn<QString>("error");
        // clang-format off
        QTest::newRow("reset without e-mail") << true << "reset" << " \n" << "" << "Syötä sähköpostiosoite.";
        QTest::newRow("change without new") << true << "change" << "vanha" << "" << "Syötä nykyinen ja uusi salasana.";
        QTest::newRow("blank fields before session") << false << "change" << "" << "" << "Syötä nykyinen ja uusi salasana.";
        // clang-format on
    }
    void refusedBeforeAnyRequest()
    {
        QFETCH(bool, signedIn);
        QFETCH(QString, operation);
        QFETCH(QString, first);
        QFETCH(QString, second);
        QFETCH(QString, error);
        AuthHarness h;
        h.start();
        if (signedIn)
            QVERIFY(h.signIn());
        h.peer.clearRequests();
        const auto result = operation == QLatin1String("reset")
            ? QCoro::waitFor(h.manager->requestPasswordReset(first))
            : QCoro::waitFor(h.manager->changePassword(first, second));
        QCOMPARE(outcome(result), QStringLiteral("error: ") + error);
        QVERIFY(h.peer.requests().isEmpty());
    }

    void changePasswordSheet_data()
    {
        QTest::addColumn<QString>("current");
        QTest::addColumn<QString>("replacement");
        QTest::addColumn<QString>("confirmation");
        QTest::addColumn<bool>("sent");
        QTest::addColumn<QString>("error");

        // clang-format off
        QTest::newRow("accepted") << "vanha-salasana" << "uusi-salasana" << "uusi-salasana" << true << "";
        QTest::newRow("confirmation with spaces") << "vanha" << "  uusi-salasana" << "uusi-salasana \n" << true << "";
        QTest::newRow("nine characters") << "vanha" << "123456789" << "123456789" << false << "Uuden salasanan minimipituus on 10 merkkiä.";
        QTest::newRow("nine accented, eighteen code units") << "vanha" << QString::fromUtf8("e\u0301e\u0301e\u0301e\u0301e\u0301e\u0301e\u0301e\u0301e\u0301") << QString::fromUtf8("e\u0301e\u0301e\u0301e\u0301e\u0301e\u0301e\u0301e\u0301e\u0301") << false << "Uuden salasanan minimipituus on 10 merkkiä.";
        QTest::newRow("confirmation differs") << "vanha" << "uusi-salasana" << "uusi-salasanA" << false << "Uusi salasana ei täsmää.";
        QTest::newRow("service refuses") << "vaara" << "uusi-salasana" << "uusi-salasana" << true << "Nykyinen salasana on väärä";
        // clang-format on
    }
    void changePasswordSheet()
    {
        QFETCH(QString, current);
        QFETCH(QString, replacement);
        QFETCH(QString, confirmation);
        QFETCH(bool, sent);
        QFETCH(QString, error);
        AuthHarness h;
        h.start();
        QVERIFY(h.signIn());
        h.peer.clearRequests();
        const bool refuses = current == QLatin1String("vaara");
        h.peer.on("POST", kChangePath,
                  refuses
                      ? ScriptedResponse::json(401, R"({"detail":"Nykyinen salasana on väärä"})")
                      : ScriptedResponse::json(200, R"({"message":"Salasana vaihdettu"})"));

        ChangePasswordFlow sheet(h.manager.get());
        sheet.setChangeCurrentPassword(current);
        sheet.setChangeNewPassword(replacement);
        sheet.setChangeConfirmPassword(confirmation);
        QSignalSpy busy(&sheet, &ChangePasswordFlow::isChangingPasswordChanged);
        QVERIFY(runToFinish(&sheet, [&sheet]() { sheet.submit(); }));

        QCOMPARE(h.peer.requests().size(), sent ? 1 : 0);
        QCOMPARE(busy.count(), sent ? 2 : 0);
        QVERIFY(!sheet.isChangingPassword());
        QCOMPARE(sheet.changePasswordError(), error);
        const bool succeeded = sent && error.isEmpty();
        QCOMPARE(sheet.changePasswordMessage(),
                 succeeded ? QStringLiteral("Salasana vaihdettu") : QString());
        // Fields are emptied only when the change went through.
        QCOMPARE(sheet.changeNewPassword().isEmpty(), succeeded);
        QCOMPARE(sheet.changeConfirmPassword().isEmpty(), succeeded);
    }

    void forgotPasswordSheetSendsOnce()
    {
        AuthHarness h;
        h.start();
        h.peer.on("POST", kResetPath, ScriptedResponse::silence());
        PasswordResetFlow sheet(h.manager.get());
        sheet.setResetEmail(QStringLiteral("anna@example.fi"));
        QSignalSpy finished(&sheet, &PasswordResetFlow::actionFinished);
        sheet.send();
        QTRY_COMPARE(h.peer.heldCount(), 1);
        QVERIFY(sheet.isSendingReset());
        sheet.send();
        h.clock.advance(std::chrono::seconds(60));
        QTRY_COMPARE(finished.count(), 1);
        QCOMPARE(h.peer.requests().size(), 1);
        QCOMPARE(sheet.resetError(), QStringLiteral("Yhteys auth-palveluun epäonnistui"));
    }
};

VERNALO_TEST_MAIN(AuthAccountTest)
#include "test_auth_account.moc"
