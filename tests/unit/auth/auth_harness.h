#pragma once

#include "auth/auth_manager.h"
#include "foundation/secure_settings.h"
#include "support/fake_clock.h"
#include "support/fake_desktop_services.h"
#include "support/loopback_http_peer.h"
#include "wire/wire_coding.h"

#include <memory>
#include <qcoro/qcorotask.h>
#include <QFile>
#include <QNetworkAccessManager>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QtTest>

namespace vernalo::test {

// One auth service peer, a settings file of its own, fake time and desktop, and the manager
// under test. Member order is destruction order in reverse: the manager goes first.
struct AuthHarness
{
    QTemporaryDir dir;
    LoopbackHttpPeer peer;
    QNetworkAccessManager network;
    FakeClock clock;
    FakeDesktopServices desktop;
    std::unique_ptr<SecureSettings> settings;
    std::unique_ptr<AuthManager> manager;

    AuthHarness()
    {
        peer.start();
        settings = std::make_unique<SecureSettings>(settingsPath());
        settings->setValue(QLatin1String(AuthManager::kAuthURLKey), peer.baseUrl().toString());
    }

    QString settingsPath() const { return dir.filePath(QStringLiteral("settings.conf")); }
    QByteArray settingsFileBytes() const
    {
        QFile file(settingsPath());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    // Creates the manager and lets its start-up restore finish.
    AuthManager *start()
    {
        manager.reset();
        manager = std::make_unique<AuthManager>(settings.get(), &network, &desktop, &clock);
        (void)QTest::qWaitFor([this]() { return !manager->isChecking(); }, 10000);
        return manager.get();
    }

    bool signIn(const QByteArray &token = "tok-0123456789abcdef", bool remember = true,
                const QByteArray &role = "user")
    {
        peer.enqueue(
            "POST", QStringLiteral("/auth/login"),
            ScriptedResponse::json(200,
                                   R"({"token":")" + token +
                                       R"(","user":{"id":7,"email":"anna@example.fi","role":")" +
                                       role + R"("}})"));
        return QCoro::waitFor(manager->login(QStringLiteral("anna@example.fi"),
                                             QStringLiteral("salasana-123"), remember));
    }

    // A stored session as a previous run would have left it; no meta when no age is given.
    void storeSession(const QString &token, std::optional<qint64> metaAgeSeconds,
                      const QString &metaURL = {})
    {
        settings->setValue(QLatin1String(AuthManager::kRememberSessionKey), true);
        settings->setValue(QLatin1String(AuthManager::kSessionTokenKey), token);
        if (!metaAgeSeconds)
            return;
        StoredAuthMeta meta;
        meta.user = AuthUser {7, QStringLiteral("anna@example.fi"), QStringLiteral("user")};
        meta.verifiedAt = clock.now().addSecs(-*metaAgeSeconds).toString(Qt::ISODate);
        meta.authURL = metaURL.isEmpty() ? peer.baseUrl().toString() : metaURL;
        settings->setValue(QLatin1String(AuthManager::kAuthMetaKey),
                           QString::fromUtf8(wire::compact(meta.toJson())));
    }
};

// An address on this machine where nothing listens: connections are refused at once.
inline QString closedPortURL()
{
    QTcpServer server;
    server.listen(QHostAddress::LocalHost, 0);
    const quint16 port = server.serverPort();
    server.close();
    return QStringLiteral("http://127.0.0.1:%1").arg(port);
}

// Runs a screen action and waits until the object reports it finished.
template<typename Object, typename Action> bool runToFinish(Object *object, Action action)
{
    QSignalSpy spy(object, &Object::actionFinished);
    action();
    return !spy.isEmpty() || spy.wait(10000);
}

} // namespace vernalo::test
