#pragma once

#include "attempt_throttle.h"
#include "http_router.h"

#include <chrono>
#include <functional>
#include <optional>

namespace vernalo {
class Clock;
}

namespace vernalo::server {

class UserStore;
struct UserRecord;

// The authentication service: sign-in, token verification, password reset request and change,
// and the user administration behind the admin key. Both generations of the paths the client
// may use are served.
class AuthApi
{
public:
    // adminKey empty: the administration routes answer 403. userBlocked runs before a user is
    // disabled or deleted, to end what they still have running.
    AuthApi(UserStore &users, QString adminKey, Clock &clock,
            std::function<void(qint64 userId)> userBlocked);

    void registerRoutes(HttpRouter &router);

    static constexpr std::chrono::hours kTokenLifetime {24 * 14};
    static constexpr int kMinPasswordLength = 10;

private:
    std::optional<UserRecord> bearerUser(const HttpRequest &request, QString *token) const;
    std::optional<HttpReply> checkAdmin(const HttpRequest &request);
    std::optional<qint64> userIdArg(const QString &arg) const;

    HttpReply login(const HttpRequest &request);
    HttpReply verify(const HttpRequest &request);
    HttpReply requestPasswordReset(const HttpRequest &request);
    HttpReply changePassword(const HttpRequest &request);
    HttpReply listUsers(const HttpRequest &request);
    HttpReply createUser(const HttpRequest &request);
    HttpReply setRole(const HttpRequest &request, const QString &id);
    HttpReply setEnabled(const HttpRequest &request, const QString &id, bool enabled);
    HttpReply deleteUser(const HttpRequest &request, const QString &id);
    HttpReply resetPassword(const HttpRequest &request, const QString &id);

    UserStore &m_users;
    QString m_adminKey;
    std::function<void(qint64)> m_userBlocked;
    AttemptThrottle m_throttle;
};

} // namespace vernalo::server
