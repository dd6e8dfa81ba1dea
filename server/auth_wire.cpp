#include "auth_wire.h"

#include "foundation/json_fields.h"

#include <QJsonArray>

namespace vernalo::server {

QJsonObject encodeAuthUser(const UserRecord &user)
{
    return {{QStringLiteral("id"), user.id},
            {QStringLiteral("email"), user.email},
            {QStringLiteral("role"), user.role}};
}

QJsonObject encodeLoginResponse(const QString &token, const UserRecord &user)
{
    return {{QStringLiteral("token"), token}, {QStringLiteral("user"), encodeAuthUser(user)}};
}

QJsonObject encodeVerifyResponse(const UserRecord &user)
{
    return {{QStringLiteral("ok"), true}, {QStringLiteral("user"), encodeAuthUser(user)}};
}

QJsonObject encodeMessageResponse(const QString &message)
{
    return {{QStringLiteral("ok"), true}, {QStringLiteral("message"), message}};
}

QJsonObject encodeAdminUser(const UserRecord &user)
{
    QJsonObject object {{QStringLiteral("id"), user.id},
                        {QStringLiteral("email"), user.email},
                        {QStringLiteral("role"), user.role},
                        {QStringLiteral("is_active"), user.isActive},
                        {QStringLiteral("created_at"), toIso8601(user.createdAt)},
                        {QStringLiteral("updated_at"), toIso8601(user.updatedAt)}};
    if (user.disabledAt)
        object.insert(QStringLiteral("disabled_at"), toIso8601(*user.disabledAt));
    if (user.lastLoginAt)
        object.insert(QStringLiteral("last_login_at"), toIso8601(*user.lastLoginAt));
    return object;
}

QJsonObject encodeAdminUsers(const QList<UserRecord> &users)
{
    QJsonArray array;
    for (const UserRecord &user : users)
        array.append(encodeAdminUser(user));
    return {{QStringLiteral("users"), array}};
}

} // namespace vernalo::server
