#include "backend/stt_api_client.h"
#include "support/fake_clock.h"
#include "support/fake_desktop_services.h"
#include "support/loopback_http_peer.h"
#include "support/socket_wait.h"
#include "support/test_environment.h"
#include "updates/semantic_version.h"
#include "updates/update_checker.h"

#include <QNetworkAccessManager>
#include <QtTest>

using namespace vernalo;
using namespace vernalo::test;

namespace {

QCoro::Task<> runCheck(UpdateChecker *checker, QString address, QStringList *statuses,
                       std::optional<UpdateCheckResult> *result)
{
    *result = co_await checker->check(address,
                                      [statuses](const QString &text) { statuses->append(text); });
}

} // namespace

class UpdateCheckerTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void compareVersions_data()
    {
        QTest::addColumn<QString>("a");
        QTest::addColumn<QString>("b");
        QTest::addColumn<int>("expected");

        // clang-format off
        QTest::newRow("missing part is zero") << "1.2" << "1.2.0" << 0;
        QTest::newRow("numeric, not text order") << "1.10" << "1.9" << 1;
        QTest::newRow("suffix part dropped") << "1.2.3-beta" << "1.2" << 0;
        QTest::newRow("leading zeros") << "01.2" << "1.2" << 0;
        QTest::newRow("major decides") << "2.0.0" << "1.9.9" << 1;
        QTest::newRow("older minor") << "1.3.0" << "1.4.0" << -1;
        QTest::newRow("longer and larger") << "1.4.0.1" << "1.4" << 1;
        QTest::newRow("empty parts skipped") << "1..2" << "1.2" << 0;
        QTest::newRow("part with a space dropped") << "1. 2" << "1.2" << -1;
        QTest::newRow("signs allowed") << "+1.-1" << "1.0" << -1;
        QTest::newRow("lone sign dropped") << "1.-.2" << "1.2" << 0;
        QTest::newRow("too large to be a number dropped") << "1.99999999999999999999.3" << "1.3" << 0;
        QTest::newRow("nothing numeric") << "beta" << "" << 0;
        QTest::newRow("prefixed part dropped, later parts move up") << "v2.1" << "1" << 0;
        // clang-format on
    }
    void compareVersions()
    {
        QFETCH(QString, a);
        QFETCH(QString, b);
        QFETCH(int, expected);
        QCOMPARE(compareSemanticVersion(a, b), expected);
        QCOMPARE(compareSemanticVersion(b, a), -expected);
    }

    void check_data()
    {
        QTest::addColumn<QString>("address"); // %1 is the peer's root
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("manifest");
        QTest::addColumn<QString>("running");
        QTest::addColumn<QString>("statusText");
        QTest::addColumn<QString>("opened"); // empty: nothing opened
        QTest::addColumn<bool>("fetched");

        const QString address = QStringLiteral("%1/vernalo/latest-linux.json");
        // clang-format off
        QTest::newRow("newer with download page") << address << 200 << R"({"version":"2.0.0","downloadURL":"https://updates.example.invalid/vernalo-2.0.0.tar.gz"})"_qba << "1.9.9" << "Päivitys saatavilla: 2.0.0 (avaa lataus)" << "https://updates.example.invalid/vernalo-2.0.0.tar.gz" << true;
        QTest::newRow("same version written shorter") << address << 200 << R"({"version":"1.4"})"_qba << "1.4.0" << "Ei uusia päivityksiä (versio 1.4.0)" << "" << true;
        QTest::newRow("older manifest") << address << 200 << R"({"version":"1.3.0","downloadURL":"https://x.invalid/a"})"_qba << "1.4.0" << "Ei uusia päivityksiä (versio 1.4.0)" << "" << true;
        QTest::newRow("unknown running version") << address << 200 << R"({"version":"0.0.1","downloadURL":"https://x.invalid/a"})"_qba << "0.0.0" << "Päivitys saatavilla: 0.0.1 (avaa lataus)" << "https://x.invalid/a" << true;
        QTest::newRow("newer without download page") << address << 200 << R"({"version":"3.1"})"_qba << "3.0" << "Päivitys saatavilla: 3.1" << "" << true;
        QTest::newRow("download page not a web address") << address << 200 << R"({"version":"3.1","downloadURL":"file:///usr/bin/xterm"})"_qba << "3.0" << "Päivitys saatavilla: 3.1" << "" << true;
        QTest::newRow("download page not a URL") << address << 200 << R"({"version":"3.1","downloadURL":"lataa tästä"})"_qba << "3.0" << "Päivitys saatavilla: 3.1" << "" << true;
        QTest::newRow("address of spaces") << "   \n" << 200 << "{}"_qba << "1.0" << "Päivitysfeed URL puuttuu" << "" << false;
        QTest::newRow("address not usable") << "ftp://127.0.0.1/latest-linux.json" << 200 << "{}"_qba << "1.0" << "Päivitystarkistus epäonnistui: Virheellinen päivitysfeed URL" << "" << false;
        QTest::newRow("local file") << "file:///etc/passwd" << 200 << "{}"_qba << "1.0" << "Päivitystarkistus epäonnistui: Virheellinen päivitysfeed URL" << "" << false;
        QTest::newRow("relative address") << "latest-linux.json" << 200 << "{}"_qba << "1.0" << "Päivitystarkistus epäonnistui: Virheellinen päivitysfeed URL" << "" << false;
        QTest::newRow("server error text") << address << 404 << R"({"error":"Ei julkaisuja"})"_qba << "1.0" << "Päivitystarkistus epäonnistui: Ei julkaisuja" << "" << true;
        QTest::newRow("manifest without version") << address << 200 << R"({"downloadURL":"https://x.invalid/a"})"_qba << "1.0" << "Päivitystarkistus epäonnistui: Virheellinen palvelinvaste" << "" << true;
        // clang-format on
    }
    void check()
    {
        QFETCH(QString, address);
        QFETCH(int, status);
        QFETCH(QByteArray, manifest);
        QFETCH(QString, running);
        QFETCH(QString, opened);
        LoopbackHttpPeer peer;
        QVERIFY(peer.start());
        peer.on("GET", QStringLiteral("/vernalo/latest-linux.json"),
                ScriptedResponse::json(status, manifest));
        QNetworkAccessManager network;
        FakeClock clock;
        STTAPIClient client(&network, &clock);
        FakeDesktopServices desktop;
        UpdateChecker checker(&client, &desktop, running);
        QStringList statuses;
        std::optional<UpdateCheckResult> result;
        runCheck(&checker,
                 address.contains(u"%1") ? address.arg(peer.baseUrl().toString()) : address,
                 &statuses, &result);
        QVERIFY(waitUntil([&] { return result.has_value(); }));

        QTEST(result->statusText, "statusText");
        QTEST(!peer.requests().isEmpty(), "fetched");
        QCOMPARE(statuses.size(), address.trimmed().isEmpty() ? 0 : 1);
        const QList<QUrl> expected = opened.isEmpty() ? QList<QUrl> {} : QList {QUrl(opened)};
        QCOMPARE(desktop.openedUrls, expected);
        QCOMPARE(result->openedURL, expected.isEmpty() ? std::nullopt : std::optional(expected[0]));
    }
};

VERNALO_TEST_MAIN(UpdateCheckerTest)
#include "test_update_checker.moc"
