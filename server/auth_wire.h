#pragma once

#include "user_store.h"

#include <QJsonObject>

namespace vernalo::server {

// JSON of the auth service as the server writes it. Kept in this one file so it can follow the
// client's auth records closely.

// {"id", "email", "role"}: the signed-in user.
QJsonObject encodeAuthUser(const UserRecord &user);
// {"token", "user"}
QJsonObject encodeLoginResponse(const QString &token, const UserRecord &user);
// {"ok": true, "user"}
QJsonObject encodeVerifyResponse(const UserRecord &user);
// {"ok": true, "message"}
QJsonObject encodeMessageResponse(const QString &message);
// One row of the user administration list, with snake_case keys.
QJsonObject encodeAdminUser(const UserRecord &user);
QJsonObject encodeAdminUsers(const QList<UserRecord> &users);

} // namespace vernalo::server
