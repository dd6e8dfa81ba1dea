#pragma once

#include "user_store.h"
#include "wire/auth_user.h"
#include "wire/auth_wire_records.h"

#include <QJsonObject>

namespace vernalo::server {

// The auth service's JSON on the server side: the shared auth records (vernalo_wire), filled from
// the server's user records. Requests are read with the same records (see AuthApi).

AuthUser toAuthUser(const UserRecord &user);
// One row of the user administration list.
AuthAdminUser toAuthAdminUser(const UserRecord &user);

QJsonObject encodeLoginResponse(const QString &token, const UserRecord &user);
QJsonObject encodeVerifyResponse(const UserRecord &user);
// The confirmation of a password or administration operation.
QJsonObject encodeMessageResponse(const QString &message);
QJsonObject encodeAdminUsers(const QList<UserRecord> &users);
// {"ok": true, "user": the new user's administration row}
QJsonObject encodeCreatedUser(const UserRecord &user);

} // namespace vernalo::server
