#pragma once

#include <QByteArray>
#include <QString>

namespace vernalo::server {

// Salted PBKDF2-SHA256 password hashes in one self-describing text:
// "pbkdf2-sha256$<iterations>$<salt base64>$<key base64>". The iteration count travels with
// each hash, so raising it later keeps old hashes verifiable.
class PasswordHasher
{
public:
    explicit PasswordHasher(int iterations = 600000);

    QString hash(const QString &password) const;
    // False for a wrong password and for any malformed stored text.
    static bool verify(const QString &password, const QString &stored);
    // The iteration count of a stored hash; 0 when malformed.
    static int iterationsOf(const QString &stored);
    int iterations() const { return m_iterations; }

private:
    int m_iterations;
};

// Compares without an early exit, so the time does not reveal how much of a secret matched.
bool constantTimeEquals(const QByteArray &a, const QByteArray &b);

} // namespace vernalo::server
