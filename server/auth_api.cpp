#include "auth_api.h"

#include "auth_wire.h"
#include "password_hasher.h"
#include "server_log.h"
#include "stt_api.h"
#include "user_store.h"
#include "wire/json_fields.h"

#include <QTextBoundaryFinder>

namespace vernalo::server {

namespace {

int perceivedLength(const QString &text)
{
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    int count = 0;
    while (finder.toNextBoundary() != -1)
        ++count;
    return count;
}

// Reads a request body with the client's own record. A body the record refuses (a field
// missing or of the wrong type) reads as empty fields, which the handlers answer with the
// Finnish text that names what to fill in.
template<typename Request> Request readRequest(const QJsonObject &body)
{
    return Request::fromJson(body).value_or(Request {});
}

HttpReply tooShort()
{
    return HttpReply::error(
        400,
        QStringLiteral("Salasanan minimipituus on %1 merkkiä.").arg(AuthApi::kMinPasswordLength));
}

QString addressKey(const HttpRequest &request, const char *what)
{
    return QString::fromLatin1(what) + QStringLiteral("@") + request.remoteAddress.toString();
}

HttpReply tooManyAttempts(std::chrono::seconds wait)
{
    HttpReply reply = HttpReply::error(
        429,
        QStringLiteral("Liian monta epäonnistunutta yritystä. Yritä uudelleen %1 s kuluttua.")
            .arg(wait.count()));
    reply.headers.append({QByteArrayLiteral("Retry-After"), QByteArray::number(wait.count())});
    return reply;
}

} // namespace

AuthApi::AuthApi(UserStore &users, QString adminKey, Clock &clock,
                 std::function<void(qint64)> userBlocked)
    : m_users(users)
    , m_adminKey(std::move(adminKey))
    , m_userBlocked(std::move(userBlocked))
    , m_throttle(clock)
{ }

void AuthApi::registerRoutes(HttpRouter &router)
{
    using Args = const QStringList &;
    router.add("POST", QStringLiteral("/auth/login"),
               [this](const HttpRequest &r, Args) { return login(r); });
    router.add("POST", QStringLiteral("/auth/verify"),
               [this](const HttpRequest &r, Args) { return verify(r); });
    for (const char *path : {"/auth/request-password-reset", "/auth/forgot-password"})
        router.add("POST", QString::fromLatin1(path),
                   [this](const HttpRequest &r, Args) { return requestPasswordReset(r); });
    for (const char *path : {"/auth/change-password", "/auth/change_password"})
        router.add("POST", QString::fromLatin1(path),
                   [this](const HttpRequest &r, Args) { return changePassword(r); });
    router.add("GET", QStringLiteral("/admin/users"),
               [this](const HttpRequest &r, Args) { return listUsers(r); });
    router.add("POST", QStringLiteral("/admin/users"),
               [this](const HttpRequest &r, Args) { return createUser(r); });
    for (const char *path : {"/admin/users/{}/role", "/admin/users/{}/set-role"})
        router.add("POST", QString::fromLatin1(path),
                   [this](const HttpRequest &r, Args a) { return setRole(r, a[0]); });
    router.add("POST", QStringLiteral("/admin/users/{}/enable"),
               [this](const HttpRequest &r, Args a) { return setEnabled(r, a[0], true); });
    router.add("POST", QStringLiteral("/admin/users/{}/disable"),
               [this](const HttpRequest &r, Args a) { return setEnabled(r, a[0], false); });
    router.add("DELETE", QStringLiteral("/admin/users/{}"),
               [this](const HttpRequest &r, Args a) { return deleteUser(r, a[0]); });
    router.add("POST", QStringLiteral("/admin/users/{}/reset-password"),
               [this](const HttpRequest &r, Args a) { return resetPassword(r, a[0]); });
}

std::optional<UserRecord> AuthApi::bearerUser(const HttpRequest &request, QString *token) const
{
    const QByteArray header = request.header("authorization").trimmed();
    if (!header.startsWith("Bearer "))
        return std::nullopt;
    *token = QString::fromUtf8(header.mid(7)).trimmed();
    return m_users.userForToken(*token);
}

HttpReply AuthApi::login(const HttpRequest &request)
{
    QJsonObject body;
    if (auto bad = SttApi::readJsonObject(request, &body))
        return *bad;
    const auto login = readRequest<AuthLoginRequest>(body);
    const QString email = login.email.trimmed().toLower();
    const QString password = login.password.trimmed();
    if (email.isEmpty() || password.isEmpty())
        return HttpReply::error(400, QStringLiteral("Syötä sähköposti ja salasana."));
    const QString accountKey = QStringLiteral("login:") + email;
    const QStringList keys {accountKey, addressKey(request, "login")};
    if (const auto wait = m_throttle.waitFor(keys))
        return tooManyAttempts(*wait);
    // Every path spends one password check, so the time does not tell which accounts exist. A
    // disabled account is judged without its password, which it must not confirm.
    const auto user = m_users.findByEmail(email);
    if (user && !user->isActive) {
        m_users.checkNoPassword(password);
        m_throttle.failed(keys);
        return HttpReply::error(403, QStringLiteral("Käyttäjätunnus on estetty."));
    }
    if (!user)
        m_users.checkNoPassword(password);
    if (!user || !m_users.checkPassword(user->id, password)) {
        m_throttle.failed(keys);
        ServerLog::write(QStringLiteral("server login rejected"));
        return HttpReply::error(401, QStringLiteral("Väärä sähköposti tai salasana."));
    }
    m_throttle.succeeded(accountKey);
    const QString token = m_users.issueToken(user->id, kTokenLifetime);
    if (token.isEmpty())
        return HttpReply::error(500, QStringLiteral("Kirjautuminen epäonnistui."));
    m_users.recordLogin(user->id);
    ServerLog::write(QStringLiteral("server login user=") + QString::number(user->id));
    return HttpReply::json(200, encodeLoginResponse(token, *user));
}

HttpReply AuthApi::verify(const HttpRequest &request)
{
    QString token;
    const auto user = bearerUser(request, &token);
    if (!user)
        return HttpReply::error(401, QStringLiteral("Istunto on vanhentunut. Kirjaudu uudelleen."));
    return HttpReply::json(200, encodeVerifyResponse(*user));
}

HttpReply AuthApi::requestPasswordReset(const HttpRequest &request)
{
    QJsonObject body;
    if (auto bad = SttApi::readJsonObject(request, &body))
        return *bad;
    const QString email = readRequest<AuthPasswordResetRequest>(body).email.trimmed().toLower();
    if (email.isEmpty())
        return HttpReply::error(400, QStringLiteral("Syötä sähköpostiosoite."));
    // This server sends no mail; the answer is the same whether the address exists or not, so
    // it cannot be used to find accounts.
    ServerLog::write(
        QStringLiteral("server password reset requested known=") +
        (m_users.findByEmail(email) ? QStringLiteral("true") : QStringLiteral("false")));
    return HttpReply::json(200,
                           encodeMessageResponse(QStringLiteral(
                               "Jos osoite on rekisteröity, palautusohje on lähetetty.")));
}

HttpReply AuthApi::changePassword(const HttpRequest &request)
{
    QString token;
    const auto user = bearerUser(request, &token);
    if (!user)
        return HttpReply::error(401, QStringLiteral("Istunto on vanhentunut. Kirjaudu uudelleen."));
    QJsonObject body;
    if (auto bad = SttApi::readJsonObject(request, &body))
        return *bad;
    const auto change = readRequest<AuthChangePasswordRequest>(body);
    const QString current = change.currentPassword.trimmed();
    const QString next = change.newPassword.trimmed();
    if (current.isEmpty() || next.isEmpty())
        return HttpReply::error(400, QStringLiteral("Syötä nykyinen ja uusi salasana."));
    const QString accountKey = QStringLiteral("change:") + QString::number(user->id);
    const QStringList keys {accountKey, addressKey(request, "change")};
    if (const auto wait = m_throttle.waitFor(keys))
        return tooManyAttempts(*wait);
    if (!m_users.checkPassword(user->id, current)) {
        m_throttle.failed(keys);
        return HttpReply::error(403, QStringLiteral("Nykyinen salasana on väärä."));
    }
    m_throttle.succeeded(accountKey);
    if (perceivedLength(next) < kMinPasswordLength)
        return tooShort();
    if (!m_users.setPassword(user->id, next))
        return HttpReply::error(500, QStringLiteral("Salasanan vaihto epäonnistui."));
    // Other devices must sign in again with the new password.
    m_users.revokeTokens(user->id, token);
    return HttpReply::json(200, encodeMessageResponse(QStringLiteral("Salasana vaihdettu.")));
}

std::optional<HttpReply> AuthApi::checkAdmin(const HttpRequest &request)
{
    if (m_adminKey.isEmpty())
        return HttpReply::error(
            403, QStringLiteral("Käyttäjähallinta ei ole käytössä tällä palvelimella."));
    const QStringList keys {addressKey(request, "admin")};
    if (const auto wait = m_throttle.waitFor(keys))
        return tooManyAttempts(*wait);
    const QByteArray given = request.header("x-admin-key").trimmed();
    if (!constantTimeEquals(tokenDigest(QString::fromUtf8(given)), tokenDigest(m_adminKey))) {
        m_throttle.failed(keys);
        return HttpReply::error(401, QStringLiteral("Virheellinen admin-avain."));
    }
    return std::nullopt;
}

std::optional<qint64> AuthApi::userIdArg(const QString &arg) const
{
    bool ok = false;
    const qint64 id = arg.toLongLong(&ok);
    if (!ok || !m_users.findById(id))
        return std::nullopt;
    return id;
}

HttpReply AuthApi::listUsers(const HttpRequest &request)
{
    if (auto denied = checkAdmin(request))
        return *denied;
    return HttpReply::json(200, encodeAdminUsers(m_users.listUsers()));
}

HttpReply AuthApi::createUser(const HttpRequest &request)
{
    if (auto denied = checkAdmin(request))
        return *denied;
    QJsonObject body;
    if (auto bad = SttApi::readJsonObject(request, &body))
        return *bad;
    // Without a role the new user is a plain user.
    if (!body.value(QStringLiteral("role")).isString())
        body.insert(QStringLiteral("role"), QStringLiteral("user"));
    const auto create = readRequest<AuthAdminCreateUserRequest>(body);
    const QString email = create.email.trimmed().toLower();
    const QString password = create.password.trimmed();
    QString role = create.role.trimmed().toLower();
    if (role.isEmpty())
        role = QStringLiteral("user");
    if (email.isEmpty() || password.isEmpty())
        return HttpReply::error(400, QStringLiteral("Syötä sähköposti ja salasana."));
    if (!email.contains(QLatin1Char('@')))
        return HttpReply::error(400, QStringLiteral("Virheellinen sähköpostiosoite."));
    if (!isKnownAuthRole(role))
        return HttpReply::error(400, QStringLiteral("Virheellinen rooli."));
    if (perceivedLength(password) < kMinPasswordLength)
        return tooShort();
    qint64 id = 0;
    switch (m_users.createUser(email, password, role, &id)) {
    case UserStore::CreateResult::Exists:
        return HttpReply::error(409, QStringLiteral("Käyttäjä on jo olemassa: ") + email);
    case UserStore::CreateResult::Failed:
        return HttpReply::error(500, QStringLiteral("Käyttäjän luonti epäonnistui."));
    case UserStore::CreateResult::Created:
        break;
    }
    ServerLog::write(QStringLiteral("server admin created user=") + QString::number(id));
    return HttpReply::json(201, encodeCreatedUser(*m_users.findById(id)));
}

HttpReply AuthApi::setRole(const HttpRequest &request, const QString &idText)
{
    if (auto denied = checkAdmin(request))
        return *denied;
    const auto id = userIdArg(idText);
    // Not 404: clients read a 404 on this path as "role changes not offered here" and retry on
    // the other path, which would hide the real reason.
    if (!id)
        return HttpReply::error(422, QStringLiteral("Käyttäjää ei löydy."));
    QJsonObject body;
    if (auto bad = SttApi::readJsonObject(request, &body))
        return *bad;
    const QString role = readRequest<AuthAdminRoleRequest>(body).role.trimmed().toLower();
    if (!isKnownAuthRole(role))
        return HttpReply::error(400, QStringLiteral("Virheellinen rooli."));
    if (!m_users.setRole(*id, role))
        return HttpReply::error(500, QStringLiteral("Roolin vaihto epäonnistui."));
    return HttpReply::json(200, encodeMessageResponse(QStringLiteral("Rooli päivitetty.")));
}

HttpReply AuthApi::setEnabled(const HttpRequest &request, const QString &idText, bool enabled)
{
    if (auto denied = checkAdmin(request))
        return *denied;
    const auto id = userIdArg(idText);
    if (!id)
        return HttpReply::error(404, QStringLiteral("Käyttäjää ei löydy."));
    if (!enabled)
        m_userBlocked(*id);
    if (!m_users.setActive(*id, enabled))
        return HttpReply::error(500, QStringLiteral("Käyttäjän tilan muutos epäonnistui."));
    return HttpReply::json(200,
                           encodeMessageResponse(enabled ? QStringLiteral("Käyttäjä aktivoitu.")
                                                         : QStringLiteral("Käyttäjä estetty.")));
}

HttpReply AuthApi::deleteUser(const HttpRequest &request, const QString &idText)
{
    if (auto denied = checkAdmin(request))
        return *denied;
    const auto id = userIdArg(idText);
    if (!id)
        return HttpReply::error(404, QStringLiteral("Käyttäjää ei löydy."));
    m_userBlocked(*id);
    if (!m_users.deleteUser(*id))
        return HttpReply::error(500, QStringLiteral("Käyttäjän poisto epäonnistui."));
    ServerLog::write(QStringLiteral("server admin deleted user=") + QString::number(*id));
    return HttpReply::json(200, encodeMessageResponse(QStringLiteral("Käyttäjä poistettu.")));
}

HttpReply AuthApi::resetPassword(const HttpRequest &request, const QString &idText)
{
    if (auto denied = checkAdmin(request))
        return *denied;
    const auto id = userIdArg(idText);
    if (!id)
        return HttpReply::error(404, QStringLiteral("Käyttäjää ei löydy."));
    QJsonObject body;
    if (auto bad = SttApi::readJsonObject(request, &body))
        return *bad;
    const QString password = readRequest<AuthAdminPasswordRequest>(body).password.trimmed();
    if (password.isEmpty())
        return HttpReply::error(400, QStringLiteral("Syötä uusi salasana."));
    if (perceivedLength(password) < kMinPasswordLength)
        return tooShort();
    if (!m_users.setPassword(*id, password))
        return HttpReply::error(500, QStringLiteral("Salasanan nollaus epäonnistui."));
    m_users.revokeTokens(*id);
    return HttpReply::json(200, encodeMessageResponse(QStringLiteral("Salasana nollattu.")));
}

} // namespace vernalo::server
