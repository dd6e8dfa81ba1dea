#pragma once

#include <chrono>
#include <QString>

namespace vernalo {

// The desktop keyring (the Secret Service on Linux desktops) through QtKeychain, used
// synchronously: each call waits for the keyring's answer, at most the given time. Secrets are
// few and written rarely, so a short wait beats tracking writes in flight.
class KeyringSecrets
{
public:
    enum class Outcome { ok, missing, unavailable };

    explicit KeyringSecrets(QString service,
                            std::chrono::milliseconds limit = std::chrono::seconds(3));
    virtual ~KeyringSecrets() = default;

    virtual Outcome read(const QString &account, QString *value) const;
    virtual bool write(const QString &account, const QString &value) const;
    virtual bool remove(const QString &account) const;

private:
    QString m_service;
    std::chrono::milliseconds m_limit;
};

} // namespace vernalo
