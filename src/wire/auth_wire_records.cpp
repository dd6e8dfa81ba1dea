#include "wire/auth_wire_records.h"

#include "wire/json_fields.h"
#include "wire/wire_coding.h"

#include <cmath>
#include <QJsonArray>

namespace vernalo {

namespace {

using wire::finish;
using wire::insertOptional;

// A nested user: absent when missing or null, a failure of the whole record when malformed.
std::optional<AuthUser> optionalUser(JsonReader &reader, const QJsonObject &object)
{
    if (!reader.has("user"))
        return std::nullopt;
    QString error;
    auto user = AuthUser::fromJson(object.value(QStringLiteral("user")), &error);
    if (!user)
        reader.fail(error);
    return user;
}

// Lenient optional date text of an admin user: anything but a string is absent.
std::optional<QString> lenientString(const QJsonObject &object, const char *key)
{
    const QJsonValue value = object.value(QLatin1String(key));
    return value.isString() ? std::optional<QString>(value.toString()) : std::nullopt;
}

} // namespace

QJsonObject AuthLoginRequest::toJson() const
{
    return {{QStringLiteral("email"), email}, {QStringLiteral("password"), password}};
}

std::optional<AuthLoginRequest> AuthLoginRequest::fromJson(const QJsonObject &object,
                                                           QString *error)
{
    JsonReader reader(object);
    AuthLoginRequest request;
    request.email = reader.requireString("email");
    request.password = reader.requireString("password");
    return finish(reader, request, error);
}

QJsonObject AuthLoginResponse::toJson() const
{
    QJsonObject object;
    insertOptional(object, "token", token);
    if (user)
        object.insert(QStringLiteral("user"), user->toJson());
    return object;
}

std::optional<AuthLoginResponse> AuthLoginResponse::fromJson(const QJsonObject &object,
                                                             QString *error)
{
    JsonReader reader(object);
    AuthLoginResponse response;
    response.token = reader.optionalString("token");
    response.user = optionalUser(reader, object);
    return finish(reader, response, error);
}

QJsonObject AuthVerifyResponse::toJson() const
{
    QJsonObject object;
    if (ok)
        object.insert(QStringLiteral("ok"), *ok);
    if (user)
        object.insert(QStringLiteral("user"), user->toJson());
    return object;
}

std::optional<AuthVerifyResponse> AuthVerifyResponse::fromJson(const QJsonObject &object,
                                                               QString *error)
{
    JsonReader reader(object);
    AuthVerifyResponse response;
    response.ok = reader.optionalBool("ok");
    response.user = optionalUser(reader, object);
    return finish(reader, response, error);
}

QJsonObject AuthErrorResponse::toJson() const
{
    QJsonObject object;
    insertOptional(object, "detail", detail);
    insertOptional(object, "error", error);
    insertOptional(object, "message", message);
    return object;
}

std::optional<AuthErrorResponse> AuthErrorResponse::fromJson(const QJsonObject &object,
                                                             QString *error)
{
    JsonReader reader(object);
    AuthErrorResponse response;
    response.detail = reader.optionalString("detail");
    response.error = reader.optionalString("error");
    response.message = reader.optionalString("message");
    return finish(reader, response, error);
}

QJsonObject AuthMessageResponse::toJson() const
{
    QJsonObject object;
    if (ok)
        object.insert(QStringLiteral("ok"), *ok);
    insertOptional(object, "detail", detail);
    insertOptional(object, "message", message);
    return object;
}

std::optional<AuthMessageResponse> AuthMessageResponse::fromJson(const QJsonObject &object,
                                                                 QString *error)
{
    JsonReader reader(object);
    AuthMessageResponse response;
    response.ok = reader.optionalBool("ok");
    response.detail = reader.optionalString("detail");
    response.message = reader.optionalString("message");
    return finish(reader, response, error);
}

QJsonObject AuthAdminUser::toJson() const
{
    QJsonObject object {{QStringLiteral("id"), static_cast<double>(id)},
                        {QStringLiteral("email"), email},
                        {QStringLiteral("role"), role},
                        {QStringLiteral("is_active"), isActive}};
    insertOptional(object, "created_at", createdAt);
    insertOptional(object, "updated_at", updatedAt);
    insertOptional(object, "disabled_at", disabledAt);
    insertOptional(object, "last_login_at", lastLoginAt);
    return object;
}

std::optional<AuthAdminUser> AuthAdminUser::fromJson(const QJsonValue &value, QString *error)
{
    if (!value.isObject()) {
        if (error)
            *error = QStringLiteral("user: expected object");
        return std::nullopt;
    }
    const QJsonObject object = value.toObject();
    JsonReader reader(object);
    AuthAdminUser user;
    user.id = reader.requireInt("id");
    user.email = reader.requireString("email");
    if (!reader.ok()) {
        if (error)
            *error = reader.error();
        return std::nullopt;
    }
    const QJsonValue role = object.value(QStringLiteral("role"));
    if (role.isString())
        user.role = role.toString();
    const QJsonValue active = object.value(QStringLiteral("is_active"));
    if (active.isBool()) {
        user.isActive = active.toBool();
    } else if (active.isDouble() && std::trunc(active.toDouble()) == active.toDouble()) {
        user.isActive = active.toDouble() != 0.0;
    }
    user.createdAt = lenientString(object, "created_at");
    user.updatedAt = lenientString(object, "updated_at");
    user.disabledAt = lenientString(object, "disabled_at");
    user.lastLoginAt = lenientString(object, "last_login_at");
    return user;
}

QJsonObject AuthAdminUsersResponse::toJson() const
{
    return {{QStringLiteral("users"), wire::writeList(users)}};
}

std::optional<AuthAdminUsersResponse> AuthAdminUsersResponse::fromJson(const QJsonObject &object,
                                                                       QString *error)
{
    JsonReader reader(object);
    const QJsonArray array = reader.requireArray("users");
    AuthAdminUsersResponse response;
    for (qsizetype index = 0; reader.ok() && index < array.size(); ++index) {
        QString userError;
        auto user = AuthAdminUser::fromJson(array.at(index), &userError);
        if (!user)
            reader.fail(QStringLiteral("users[%1].%2").arg(index).arg(userError));
        else
            response.users.append(*user);
    }
    return finish(reader, response, error);
}

QJsonObject AuthPasswordResetRequest::toJson() const
{
    return {{QStringLiteral("email"), email}};
}

std::optional<AuthPasswordResetRequest>
AuthPasswordResetRequest::fromJson(const QJsonObject &object, QString *error)
{
    JsonReader reader(object);
    AuthPasswordResetRequest request;
    request.email = reader.requireString("email");
    return finish(reader, request, error);
}

QJsonObject AuthChangePasswordRequest::toJson() const
{
    return {{QStringLiteral("currentPassword"), currentPassword},
            {QStringLiteral("newPassword"), newPassword},
            {QStringLiteral("current_password"), currentPassword},
            {QStringLiteral("new_password"), newPassword}};
}

std::optional<AuthChangePasswordRequest>
AuthChangePasswordRequest::fromJson(const QJsonObject &object, QString *error)
{
    JsonReader reader(object);
    const auto camelCurrent = reader.optionalString("currentPassword");
    const auto camelNew = reader.optionalString("newPassword");
    const auto snakeCurrent = reader.optionalString("current_password");
    const auto snakeNew = reader.optionalString("new_password");
    AuthChangePasswordRequest request;
    if (reader.ok() && !(camelCurrent || snakeCurrent))
        reader.fail(QStringLiteral("currentPassword: missing"));
    if (reader.ok() && !(camelNew || snakeNew))
        reader.fail(QStringLiteral("newPassword: missing"));
    request.currentPassword = camelCurrent.value_or(snakeCurrent.value_or(QString()));
    request.newPassword = camelNew.value_or(snakeNew.value_or(QString()));
    return finish(reader, request, error);
}

QJsonObject AuthAdminCreateUserRequest::toJson() const
{
    return {{QStringLiteral("email"), email},
            {QStringLiteral("password"), password},
            {QStringLiteral("role"), role}};
}

std::optional<AuthAdminCreateUserRequest>
AuthAdminCreateUserRequest::fromJson(const QJsonObject &object, QString *error)
{
    JsonReader reader(object);
    AuthAdminCreateUserRequest request;
    request.email = reader.requireString("email");
    request.password = reader.requireString("password");
    request.role = reader.requireString("role");
    return finish(reader, request, error);
}

QJsonObject AuthAdminRoleRequest::toJson() const
{
    return {{QStringLiteral("role"), role}};
}

std::optional<AuthAdminRoleRequest> AuthAdminRoleRequest::fromJson(const QJsonObject &object,
                                                                   QString *error)
{
    JsonReader reader(object);
    AuthAdminRoleRequest request;
    request.role = reader.requireString("role");
    return finish(reader, request, error);
}

QJsonObject AuthAdminPasswordRequest::toJson() const
{
    return {{QStringLiteral("password"), password}};
}

std::optional<AuthAdminPasswordRequest>
AuthAdminPasswordRequest::fromJson(const QJsonObject &object, QString *error)
{
    JsonReader reader(object);
    AuthAdminPasswordRequest request;
    request.password = reader.requireString("password");
    return finish(reader, request, error);
}

bool isKnownAuthRole(const QString &role)
{
    return role == QLatin1String("user") || role == QLatin1String("admin");
}

} // namespace vernalo
