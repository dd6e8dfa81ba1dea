#pragma once

#include <memory>
#include <QHash>
#include <QString>
#include <QVariant>

class QSettings;

namespace vernalo {

class KeyringSecrets;

// The program's defaults store: one INI file that holds the configuration, the session token
// and the admin key. Because of those secrets the file is kept owner-only (0600) inside an
// owner-only folder, and every change is written through at once. With a keyring attached the
// secrets (session token, admin key, API key) live there instead, under the same keys here.
class SecureSettings
{
public:
    static constexpr auto kKeyringService = "com.kestrova.vernalo.auth";
    // The backend API key, kept apart from the configuration once a keyring holds it.
    static constexpr auto kApiKeySecretKey = "vernalo.secret.api_key";

    // The user's store: $XDG_CONFIG_HOME/Kestrova/Vernalo.conf.
    SecureSettings();
    // A store at an explicit path (tests, separate profiles).
    explicit SecureSettings(const QString &filePath);
    ~SecureSettings();

    SecureSettings(const SecureSettings &) = delete;
    SecureSettings &operator=(const SecureSettings &) = delete;

    QVariant value(const QString &key, const QVariant &fallback = {}) const;
    bool contains(const QString &key) const;
    void setValue(const QString &key, const QVariant &value);
    void remove(const QString &key);

    // Writes pending changes and restores the owner-only mode; false when the write failed.
    bool sync();
    QString fileName() const;

    // Keeps the secrets in the keyring from now on when it answers, moving any found in the
    // file there (removed from the file only once the keyring holds them). False, with one log
    // line, when no keyring answers: the file keeps them.
    bool attachKeyring(std::unique_ptr<KeyringSecrets> keyring);
    bool usesKeyring() const { return m_keyring != nullptr; }

private:
    void harden();
    // The keyring account of a secret key; empty for every other key.
    static QString accountOf(const QString &key);

    std::unique_ptr<QSettings> m_settings;
    std::unique_ptr<KeyringSecrets> m_keyring;
    // What the keyring holds, read once when attached.
    QHash<QString, QString> m_secrets;
};

} // namespace vernalo
