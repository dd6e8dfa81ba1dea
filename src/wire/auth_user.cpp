#include "wire/auth_user.h"

#include "wire/json_fields.h"

namespace vernalo {

bool AuthUser::isAdmin() const
{
    return role && role->trimmed().toLower() == QLatin1String("admin");
}

QJsonObject AuthUser::toJson() const
{
    QJsonObject object;
    if (id)
        object.insert(QStringLiteral("id"), static_cast<double>(*id));
    object.insert(QStringLiteral("email"), email);
    if (role)
        object.insert(QStringLiteral("role"), *role);
    return object;
}

std::optional<AuthUser> AuthUser::fromJson(const QJsonValue &value, QString *error)
{
    if (!value.isObject()) {
        if (error)
            *error = QStringLiteral("user: expected object");
        return std::nullopt;
    }
    JsonReader reader(value.toObject());
    AuthUser user;
    user.id = reader.optionalInt("id");
    user.email = reader.requireString("email");
    user.role = reader.optionalString("role");
    if (!reader.ok()) {
        if (error)
            *error = QStringLiteral("user.") + reader.error();
        return std::nullopt;
    }
    return user;
}

QVariantMap AuthUser::toVariantMap() const
{
    QVariantMap map;
    if (id)
        map.insert(QStringLiteral("id"), *id);
    map.insert(QStringLiteral("email"), email);
    if (role)
        map.insert(QStringLiteral("role"), *role);
    return map;
}

} // namespace vernalo
