#pragma once

#include "wire/auth_user.h"

#include <optional>
#include <QJsonObject>
#include <QString>

namespace vernalo {

// The last successful sign-in or verification, kept between runs in the settings store (never
// sent to the service).
struct StoredAuthMeta
{
    AuthUser user;
    QString verifiedAt; // ISO 8601 UTC, whole seconds, trailing "Z"
    QString authURL;

    bool operator==(const StoredAuthMeta &other) const = default;
    QJsonObject toJson() const;
    // All three keys are required.
    static std::optional<StoredAuthMeta> fromJson(const QJsonObject &object,
                                                  QString *error = nullptr);
};

} // namespace vernalo
