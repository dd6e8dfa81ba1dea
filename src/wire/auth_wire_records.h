#pragma once

#include "wire/auth_user.h"

#include <optional>
#include <QJsonObject>
#include <QList>
#include <QString>

namespace vernalo {

// The JSON records exchanged with the auth service, shared by the client and the reference server
// that answers it. Decoders ignore unknown keys; a null value counts as a missing key. Bodies are
// read and written with wire::parseObject and wire::compact (wire/wire_coding.h).

struct AuthLoginRequest
{
    QString email;
    QString password;

    bool operator==(const AuthLoginRequest &other) const = default;
    QJsonObject toJson() const;
    static std::optional<AuthLoginRequest> fromJson(const QJsonObject &object,
                                                    QString *error = nullptr);
};

struct AuthLoginResponse
{
    std::optional<QString> token;
    std::optional<AuthUser> user;

    bool operator==(const AuthLoginResponse &other) const = default;
    QJsonObject toJson() const;
    static std::optional<AuthLoginResponse> fromJson(const QJsonObject &object,
                                                     QString *error = nullptr);
};

struct AuthVerifyResponse
{
    std::optional<bool> ok; // read, never consulted
    std::optional<AuthUser> user;

    bool operator==(const AuthVerifyResponse &other) const = default;
    QJsonObject toJson() const;
    static std::optional<AuthVerifyResponse> fromJson(const QJsonObject &object,
                                                      QString *error = nullptr);
};

struct AuthErrorResponse
{
    std::optional<QString> detail;
    std::optional<QString> error;
    std::optional<QString> message;

    bool operator==(const AuthErrorResponse &other) const = default;
    QJsonObject toJson() const;
    static std::optional<AuthErrorResponse> fromJson(const QJsonObject &object,
                                                     QString *error = nullptr);
};

// Reply of the password operations.
struct AuthMessageResponse
{
    std::optional<bool> ok;
    std::optional<QString> detail;
    std::optional<QString> message;

    bool operator==(const AuthMessageResponse &other) const = default;
    QJsonObject toJson() const;
    static std::optional<AuthMessageResponse> fromJson(const QJsonObject &object,
                                                       QString *error = nullptr);
};

// One user in the admin list. Keys are snake_case on the wire.
struct AuthAdminUser
{
    qint64 id = 0;
    QString email;
    QString role = QStringLiteral("user");
    bool isActive = true;
    std::optional<QString> createdAt;
    std::optional<QString> updatedAt;
    std::optional<QString> disabledAt;
    std::optional<QString> lastLoginAt;

    bool operator==(const AuthAdminUser &other) const = default;
    QJsonObject toJson() const;
    // "id" and "email" are required; every other key falls back when missing or mistyped:
    // role "user", "is_active" read as a number when not a boolean (non-zero is active) and
    // active when neither, the dates absent.
    static std::optional<AuthAdminUser> fromJson(const QJsonValue &value, QString *error = nullptr);
};

struct AuthAdminUsersResponse
{
    QList<AuthAdminUser> users;

    bool operator==(const AuthAdminUsersResponse &other) const = default;
    QJsonObject toJson() const;
    // "users" is required and every entry must decode.
    static std::optional<AuthAdminUsersResponse> fromJson(const QJsonObject &object,
                                                          QString *error = nullptr);
};

struct AuthPasswordResetRequest
{
    QString email;

    bool operator==(const AuthPasswordResetRequest &other) const = default;
    QJsonObject toJson() const;
    static std::optional<AuthPasswordResetRequest> fromJson(const QJsonObject &object,
                                                            QString *error = nullptr);
};

// Sent with both key spellings ("currentPassword" and "current_password", ...) so either
// generation of the service reads it.
struct AuthChangePasswordRequest
{
    QString currentPassword;
    QString newPassword;

    bool operator==(const AuthChangePasswordRequest &other) const = default;
    QJsonObject toJson() const;
    // Accepts either spelling; the lowerCamelCase one wins when both are present.
    static std::optional<AuthChangePasswordRequest> fromJson(const QJsonObject &object,
                                                             QString *error = nullptr);
};

struct AuthAdminCreateUserRequest
{
    QString email;
    QString password;
    QString role;

    bool operator==(const AuthAdminCreateUserRequest &other) const = default;
    QJsonObject toJson() const;
    static std::optional<AuthAdminCreateUserRequest> fromJson(const QJsonObject &object,
                                                              QString *error = nullptr);
};

struct AuthAdminRoleRequest
{
    QString role;

    bool operator==(const AuthAdminRoleRequest &other) const = default;
    QJsonObject toJson() const;
    static std::optional<AuthAdminRoleRequest> fromJson(const QJsonObject &object,
                                                        QString *error = nullptr);
};

struct AuthAdminPasswordRequest
{
    QString password;

    bool operator==(const AuthAdminPasswordRequest &other) const = default;
    QJsonObject toJson() const;
    static std::optional<AuthAdminPasswordRequest> fromJson(const QJsonObject &object,
                                                            QString *error = nullptr);
};

// The two roles a user can have; anything else is refused before a request is made.
bool isKnownAuthRole(const QString &role);

} // namespace vernalo
