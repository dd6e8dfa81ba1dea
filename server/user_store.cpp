#include "user_store.h"

#include "wire/clock.h"

#include <QCryptographicHash>
#include <QRandomGenerator>
#include <QVariant>

namespace vernalo::server {

QByteArray tokenDigest(const QString &token)
{
    return QCryptographicHash::hash(token.toUtf8(), QCryptographicHash::Sha256);
}

QString randomToken()
{
    QByteArray bytes(32, Qt::Uninitialized);
    QRandomGenerator::system()->fillRange(reinterpret_cast<quint32 *>(bytes.data()), 8);
    return QString::fromLatin1(
        bytes.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals));
}

namespace {
const QString kUserColumns = QStringLiteral(
    "id, email, role, is_active, created_at, updated_at, disabled_at, last_login_at");
}

UserStore::UserStore(ServerDatabase &db, Clock &clock, int passwordIterations)
    : m_db(db)
    , m_clock(clock)
    , m_hasher(passwordIterations)
{ }

UserStore::CreateResult UserStore::createUser(const QString &email, const QString &password,
                                              const QString &role, qint64 *newId)
{
    if (findByEmail(email))
        return CreateResult::Exists;
    const QString now = ServerDatabase::timeText(m_clock.now());
    QSqlQuery query = m_db.prepare(QStringLiteral(
        "INSERT INTO users (email, password_hash, role, is_active, created_at, updated_at) "
        "VALUES (?, ?, ?, 1, ?, ?)"));
    query.addBindValue(email);
    query.addBindValue(m_hasher.hash(password));
    query.addBindValue(role);
    query.addBindValue(now);
    query.addBindValue(now);
    if (!m_db.exec(query))
        return CreateResult::Failed;
    if (newId)
        *newId = query.lastInsertId().toLongLong();
    return CreateResult::Created;
}

bool UserStore::ensureUser(const QString &email, const QString &password, const QString &role)
{
    const auto existing = findByEmail(email);
    if (!existing)
        return createUser(email, password, role) == CreateResult::Created;
    if (!existing->isActive)
        setActive(existing->id, true);
    return checkPassword(existing->id, password) || setPassword(existing->id, password);
}

std::optional<UserRecord> UserStore::readOne(QSqlQuery &query) const
{
    if (!m_db.exec(query) || !query.next())
        return std::nullopt;
    UserRecord user;
    user.id = query.value(0).toLongLong();
    user.email = query.value(1).toString();
    user.role = query.value(2).toString();
    user.isActive = query.value(3).toInt() != 0;
    user.createdAt = ServerDatabase::timeFrom(query.value(4)).value_or(QDateTime());
    user.updatedAt = ServerDatabase::timeFrom(query.value(5)).value_or(QDateTime());
    user.disabledAt = ServerDatabase::timeFrom(query.value(6));
    user.lastLoginAt = ServerDatabase::timeFrom(query.value(7));
    return user;
}

std::optional<UserRecord> UserStore::findById(qint64 id) const
{
    QSqlQuery query = m_db.prepare(QStringLiteral("SELECT ") + kUserColumns +
                                   QStringLiteral(" FROM users WHERE id = ?"));
    query.addBindValue(id);
    return readOne(query);
}

std::optional<UserRecord> UserStore::findByEmail(const QString &email) const
{
    QSqlQuery query = m_db.prepare(QStringLiteral("SELECT ") + kUserColumns +
                                   QStringLiteral(" FROM users WHERE email = ?"));
    query.addBindValue(email);
    return readOne(query);
}

QList<UserRecord> UserStore::listUsers() const
{
    QList<UserRecord> users;
    QSqlQuery ids = m_db.prepare(QStringLiteral("SELECT id FROM users ORDER BY id"));
    if (!m_db.exec(ids))
        return users;
    while (ids.next()) {
        if (auto user = findById(ids.value(0).toLongLong()))
            users.append(*user);
    }
    return users;
}

QString UserStore::storedHash(qint64 userId) const
{
    QSqlQuery query = m_db.prepare(QStringLiteral("SELECT password_hash FROM users WHERE id = ?"));
    query.addBindValue(userId);
    if (!m_db.exec(query) || !query.next())
        return {};
    return query.value(0).toString();
}

bool UserStore::checkPassword(qint64 userId, const QString &password)
{
    const QString stored = storedHash(userId);
    if (!PasswordHasher::verify(password, stored))
        return false;
    if (PasswordHasher::iterationsOf(stored) < m_hasher.iterations())
        setPassword(userId, password);
    return true;
}

void UserStore::checkNoPassword(const QString &password)
{
    if (m_decoyHash.isEmpty())
        m_decoyHash = m_hasher.hash(randomToken());
    PasswordHasher::verify(password, m_decoyHash);
}

bool UserStore::touch(qint64 userId, const QString &assignments, const QVariantList &values)
{
    QSqlQuery query = m_db.prepare(QStringLiteral("UPDATE users SET ") + assignments +
                                   QStringLiteral(", updated_at = ? WHERE id = ?"));
    for (const QVariant &value : values)
        query.addBindValue(value);
    query.addBindValue(ServerDatabase::timeText(m_clock.now()));
    query.addBindValue(userId);
    return m_db.exec(query) && query.numRowsAffected() == 1;
}

bool UserStore::setPassword(qint64 userId, const QString &password)
{
    return touch(userId, QStringLiteral("password_hash = ?"), {m_hasher.hash(password)});
}

bool UserStore::setRole(qint64 userId, const QString &role)
{
    return touch(userId, QStringLiteral("role = ?"), {role});
}

bool UserStore::setActive(qint64 userId, bool active)
{
    const QVariant disabledAt =
        active ? QVariant() : QVariant(ServerDatabase::timeText(m_clock.now()));
    const bool changed = touch(userId, QStringLiteral("is_active = ?, disabled_at = ?"),
                               {active ? 1 : 0, disabledAt});
    if (changed && !active)
        revokeTokens(userId);
    return changed;
}

bool UserStore::deleteUser(qint64 userId)
{
    if (!m_db.transaction())
        return false;
    bool ok = true;
    QSqlQuery query;
    for (const char *sql :
         {"DELETE FROM sessions WHERE owner_id = ?", "DELETE FROM auth_tokens WHERE user_id = ?",
          "DELETE FROM users WHERE id = ?"}) {
        query = m_db.prepare(QString::fromLatin1(sql));
        query.addBindValue(userId);
        ok = ok && m_db.exec(query);
    }
    // The user row goes last: its count tells whether the user existed.
    if (ok && query.numRowsAffected() == 1 && m_db.commit())
        return true;
    m_db.rollback();
    return false;
}

void UserStore::recordLogin(qint64 userId)
{
    QSqlQuery query =
        m_db.prepare(QStringLiteral("UPDATE users SET last_login_at = ? WHERE id = ?"));
    query.addBindValue(ServerDatabase::timeText(m_clock.now()));
    query.addBindValue(userId);
    m_db.exec(query);
}

QString UserStore::issueToken(qint64 userId, std::chrono::seconds lifetime)
{
    const QString token = randomToken();
    const QDateTime now = m_clock.now();
    QSqlQuery query = m_db.prepare(QStringLiteral("INSERT INTO auth_tokens (token_hash, user_id, "
                                                  "created_at, expires_at) VALUES (?, ?, ?, ?)"));
    query.addBindValue(tokenDigest(token));
    query.addBindValue(userId);
    query.addBindValue(ServerDatabase::timeText(now));
    query.addBindValue(ServerDatabase::timeText(now.addSecs(lifetime.count())));
    return m_db.exec(query) ? token : QString();
}

std::optional<UserRecord> UserStore::userForToken(const QString &token) const
{
    if (token.isEmpty())
        return std::nullopt;
    QSqlQuery query = m_db.prepare(
        QStringLiteral("SELECT user_id, expires_at FROM auth_tokens WHERE token_hash = ?"));
    query.addBindValue(tokenDigest(token));
    if (!m_db.exec(query) || !query.next())
        return std::nullopt;
    const auto expires = ServerDatabase::timeFrom(query.value(1));
    if (!expires || *expires <= m_clock.now())
        return std::nullopt;
    auto user = findById(query.value(0).toLongLong());
    if (!user || !user->isActive)
        return std::nullopt;
    return user;
}

void UserStore::revokeTokens(qint64 userId, const QString &keepToken)
{
    QSqlQuery query = m_db.prepare(
        QStringLiteral("DELETE FROM auth_tokens WHERE user_id = ? AND token_hash != ?"));
    query.addBindValue(userId);
    query.addBindValue(keepToken.isEmpty() ? QByteArray("-") : tokenDigest(keepToken));
    m_db.exec(query);
}

} // namespace vernalo::server
