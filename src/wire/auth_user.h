#pragma once

#include <optional>
#include <QJsonObject>
#include <QString>
#include <QVariantMap>

namespace vernalo {

// The signed-in user as the auth service describes it.
struct AuthUser
{
    std::optional<qint64> id;
    QString email;
    std::optional<QString> role;

    bool operator==(const AuthUser &other) const = default;

    // True when the role, trimmed and lower-cased, is "admin".
    bool isAdmin() const;

    // "email" always, "id" and "role" only when present.
    QJsonObject toJson() const;
    // "email" is required; a present value of the wrong type fails the record.
    static std::optional<AuthUser> fromJson(const QJsonValue &value, QString *error = nullptr);

    // The shape the screens bind to: "email", and "id"/"role" when present.
    QVariantMap toVariantMap() const;
};

} // namespace vernalo
