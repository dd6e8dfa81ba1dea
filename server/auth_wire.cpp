#include "auth_wire.h"

#include "wire/json_fields.h"

namespace vernalo::server {

namespace {

std::optional<QString> optionalDate(const std::optional<QDateTime> &date)
{
    return date ? std::optional<QString>(toIso8601(*date)) : std::nullopt;
}

} // namespace

AuthUser toAuthUser(const UserRecord &user)
{
    return AuthUser {user.id, user.email, user.role};
}

AuthAdminUser toAuthAdminUser(const UserRecord &user)
{
    AuthAdminUser row;
    row.id = user.id;
    row.email = user.email;
    row.role = user.role;
    row.isActive = user.isActive;
    row.createdAt = toIso8601(user.createdAt);
    row.updatedAt = toIso8601(user.updatedAt);
    row.disabledAt = optionalDate(user.disabledAt);
    row.lastLoginAt = optionalDate(user.lastLoginAt);
    return row;
}

QJsonObject encodeLoginResponse(const QString &token, const UserRecord &user)
{
    return AuthLoginResponse {token, toAuthUser(user)}.toJson();
}

QJsonObject encodeVerifyResponse(const UserRecord &user)
{
    return AuthVerifyResponse {true, toAuthUser(user)}.toJson();
}

QJsonObject encodeMessageResponse(const QString &message)
{
    return AuthMessageResponse {true, std::nullopt, message}.toJson();
}

QJsonObject encodeAdminUsers(const QList<UserRecord> &users)
{
    AuthAdminUsersResponse response;
    for (const UserRecord &user : users)
        response.users.append(toAuthAdminUser(user));
    return response.toJson();
}

QJsonObject encodeCreatedUser(const UserRecord &user)
{
    return {{QStringLiteral("ok"), true}, {QStringLiteral("user"), toAuthAdminUser(user).toJson()}};
}

} // namespace vernalo::server
