#pragma once

#include <QJsonObject>
#include <QString>
#include <QStringList>

namespace vernalo {

// What stands in for a removed secret.
inline constexpr auto kRedactedMarker = "[redacted]";

// Removes secrets from text that leaves the machine (diagnostics for support):
// - every occurrence of each known secret (and of its trimmed and percent-encoded forms) of at
//   least 4 characters, longest first, so a secret that contains another goes whole;
// - the value after a secret-named key ("password=", "x-api-key: ", "\"adminKey\":\"",
//   "Authorization: Bearer ") whether or not the value is known;
// - the password part of credentials in an address ("https://user:pw@host").
// Shorter known secrets are ignored: replacing every "abc" would wreck the text and hide little.
QString redactSecrets(const QString &text, const QStringList &secrets);

// The same rule applied to every string value (at any depth) of a JSON object.
QJsonObject redactSecrets(const QJsonObject &object, const QStringList &secrets);

} // namespace vernalo
