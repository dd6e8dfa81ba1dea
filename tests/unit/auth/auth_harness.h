#pragma once

// Shared by the auth tests and the hostile auth answers: one auth service peer, a settings file
// of its own, fake time and desktop, and the manager under test.

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

inline const QString kEmail = QStringLiteral("anna@example.fi");
inline const QString kPassword = QStringLiteral("salasana-123");

// Member order is destruction order in reverse: the manager goes first.
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
        settings = std::make_unique<SecureSettings>(dir.filePath(QStringLiteral("settings.conf")));
        set(AuthManager::kAuthURLKey, peer.baseUrl().toString());
    }

    QByteArray settingsFileBytes() const
    {
        settings->sync();
        QFile file(dir.filePath(QStringLiteral("settings.conf")));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    void set(const char *key, const QVariant &value)
    {
        settings->setValue(QLatin1String(key), value);
    }
    QString stored(const char *key) const { return settings->value(QLatin1String(key)).toString(); }
    QList<RecordedRequest> sent(const QString &path, const QByteArray &method = "POST") const
    {
        return peer.requestsTo(method, path);
    }

    // Creates the manager; with `settle` also lets its start-up check finish.
    bool start(bool settle = true)
    {
        manager.reset();
        manager = std::make_unique<AuthManager>(settings.get(), &network, &desktop, &clock);
        return !settle || QTest::qWaitFor([this]() { return !manager->isChecking(); }, 10000);
    }

    bool login(const QString &email = kEmail, const QString &password = kPassword)
    {
        return QCoro::waitFor(manager->login(email, password));
    }

    bool signIn(const QByteArray &token = "tok-0123456789abcdef", bool remember = true,
                const QByteArray &role = "user")
    {
        peer.enqueue("POST", QStringLiteral("/auth/login"),
                     ScriptedResponse::json(200,
                                            R"({"token":")" + token +
                                                R"(","user":{"id":7,"email":")" + kEmail.toUtf8() +
                                                R"(","role":")" + role + R"("}})"));
        return QCoro::waitFor(manager->login(kEmail, kPassword, remember));
    }

    // A stored session as a previous run would have left it; no meta when no age is given.
    void storeSession(const QString &token, std::optional<qint64> metaAgeSeconds,
                      const QString &metaURL = {}, const QString &role = QStringLiteral("user"))
    {
        set(AuthManager::kRememberSessionKey, true);
        set(AuthManager::kSessionTokenKey, token);
        if (!metaAgeSeconds)
            return;
        StoredAuthMeta meta;
        meta.user = AuthUser {7, kEmail, role};
        meta.verifiedAt = clock.now().addSecs(-*metaAgeSeconds).toString(Qt::ISODate);
        meta.authURL = metaURL.isEmpty() ? peer.baseUrl().toString() : metaURL;
        set(AuthManager::kAuthMetaKey, QString::fromUtf8(wire::compact(meta.toJson())));
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
