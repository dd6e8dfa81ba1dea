#include "auth/stored_auth_meta.h"

#include "wire/json_fields.h"
#include "wire/wire_coding.h"

namespace vernalo {

QJsonObject StoredAuthMeta::toJson() const
{
    return {{QStringLiteral("user"), user.toJson()},
            {QStringLiteral("verifiedAt"), verifiedAt},
            {QStringLiteral("authURL"), authURL}};
}

std::optional<StoredAuthMeta> StoredAuthMeta::fromJson(const QJsonObject &object, QString *error)
{
    JsonReader reader(object);
    StoredAuthMeta meta;
    if (!reader.has("user")) {
        reader.fail(QStringLiteral("user: missing"));
    } else {
        QString userError;
        if (auto user = AuthUser::fromJson(object.value(QStringLiteral("user")), &userError))
            meta.user = *user;
        else
            reader.fail(userError);
    }
    meta.verifiedAt = reader.requireString("verifiedAt");
    meta.authURL = reader.requireString("authURL");
    return wire::finish(reader, meta, error);
}

} // namespace vernalo
