#pragma once

#include "password_hasher.h"
#include "server_database.h"

#include <optional>
#include <QDateTime>
#include <QList>
#include <QString>

namespace vernalo {
class Clock;
}

namespace vernalo::server {

struct UserRecord
{
    qint64 id = 0;
    QString email;
    QString role;
    bool isActive = true;
    QDateTime createdAt;
    QDateTime updatedAt;
    std::optional<QDateTime> disabledAt;
    std::optional<QDateTime> lastLoginAt;
};

// Users and their sign-in tokens. Passwords are kept only as salted hashes and tokens only as
// SHA-256 digests, so a copied database file reveals neither.
class UserStore
{
public:
    UserStore(ServerDatabase &db, Clock &clock, int passwordIterations);

    enum class CreateResult { Created, Exists, Failed };
    CreateResult createUser(const QString &email, const QString &password, const QString &role,
                            qint64 *newId = nullptr);
    // Creates the user, or gives an existing one this password and re-enables it.
    bool ensureUser(const QString &email, const QString &password, const QString &role);

    std::optional<UserRecord> findById(qint64 id) const;
    std::optional<UserRecord> findByEmail(const QString &email) const;
    QList<UserRecord> listUsers() const;
    // A correct password stored with fewer iterations than this server uses is hashed anew.
    bool checkPassword(qint64 userId, const QString &password);
    // Spends the time of one password check, so an unknown account answers as slowly as a
    // known one.
    void checkNoPassword(const QString &password);
    bool setPassword(qint64 userId, const QString &password);
    bool setRole(qint64 userId, const QString &role);
    bool setActive(qint64 userId, bool active);
    // The user, their tokens and their sessions, in one transaction.
    bool deleteUser(qint64 userId);
    void recordLogin(qint64 userId);

    // A fresh random bearer token valid for the given time.
    QString issueToken(qint64 userId, std::chrono::seconds lifetime);
    // The active user owning an unexpired token.
    std::optional<UserRecord> userForToken(const QString &token) const;
    void revokeTokens(qint64 userId, const QString &keepToken = QString());

private:
    std::optional<UserRecord> readOne(QSqlQuery &query) const;
    QString storedHash(qint64 userId) const;
    bool touch(qint64 userId, const QString &assignments, const QVariantList &values);

    ServerDatabase &m_db;
    Clock &m_clock;
    PasswordHasher m_hasher;
    QString m_decoyHash;
};

QByteArray tokenDigest(const QString &token);
// 32 random bytes, URL-safe Base64 without padding.
QString randomToken();

} // namespace vernalo::server
