#include "password_hasher.h"

#include <openssl/evp.h>
#include <QRandomGenerator>
#include <QStringList>

namespace vernalo::server {

namespace {
constexpr int kSaltBytes = 16;
constexpr int kKeyBytes = 32;
constexpr int kMaxIterations = 10'000'000;
const QString kScheme = QStringLiteral("pbkdf2-sha256");

// OpenSSL's PBKDF2 runs the 600 000 iterations several times faster than a portable HMAC loop,
// which matters for every sign-in and for the decoy check of unknown accounts.
QByteArray derive(const QString &password, const QByteArray &salt, int iterations)
{
    const QByteArray secret = password.toUtf8();
    QByteArray key(kKeyBytes, Qt::Uninitialized);
    const int ok = PKCS5_PBKDF2_HMAC(secret.constData(), int(secret.size()),
                                     reinterpret_cast<const unsigned char *>(salt.constData()),
                                     int(salt.size()), iterations, EVP_sha256(), kKeyBytes,
                                     reinterpret_cast<unsigned char *>(key.data()));
    return ok == 1 ? key : QByteArray();
}
} // namespace

PasswordHasher::PasswordHasher(int iterations)
    : m_iterations(qBound(1, iterations, kMaxIterations))
{ }

QString PasswordHasher::hash(const QString &password) const
{
    QByteArray salt(kSaltBytes, Qt::Uninitialized);
    QRandomGenerator::system()->fillRange(reinterpret_cast<quint32 *>(salt.data()), kSaltBytes / 4);
    const QByteArray key = derive(password, salt, m_iterations);
    return kScheme + QLatin1Char('$') + QString::number(m_iterations) + QLatin1Char('$') +
        QString::fromLatin1(salt.toBase64()) + QLatin1Char('$') +
        QString::fromLatin1(key.toBase64());
}

bool PasswordHasher::verify(const QString &password, const QString &stored)
{
    const QStringList parts = stored.split(QLatin1Char('$'));
    if (parts.size() != 4 || parts[0] != kScheme)
        return false;
    bool ok = false;
    const int iterations = parts[1].toInt(&ok);
    if (!ok || iterations < 1 || iterations > kMaxIterations)
        return false;
    const auto salt = QByteArray::fromBase64Encoding(parts[2].toLatin1(),
                                                     QByteArray::AbortOnBase64DecodingErrors);
    const auto key = QByteArray::fromBase64Encoding(parts[3].toLatin1(),
                                                    QByteArray::AbortOnBase64DecodingErrors);
    if (!salt || !key || salt.decoded.isEmpty() || key.decoded.size() != kKeyBytes)
        return false;
    return constantTimeEquals(derive(password, salt.decoded, iterations), key.decoded);
}

int PasswordHasher::iterationsOf(const QString &stored)
{
    const QStringList parts = stored.split(QLatin1Char('$'));
    return parts.size() == 4 && parts[0] == kScheme ? parts[1].toInt() : 0;
}

bool constantTimeEquals(const QByteArray &a, const QByteArray &b)
{
    if (a.size() != b.size())
        return false;
    unsigned char difference = 0;
    for (qsizetype i = 0; i < a.size(); ++i)
        difference |= static_cast<unsigned char>(a[i] ^ b[i]);
    return difference == 0;
}

} // namespace vernalo::server
