#include "foundation/secure_settings.h"

#include "foundation/app_log.h"
#include "foundation/keyring_secrets.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>

namespace vernalo {

namespace {

QString defaultSettingsPath()
{
    const QString configRoot =
        QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    return configRoot + QStringLiteral("/Kestrova/Vernalo.conf");
}

constexpr auto kOwnerOnlyFile = QFileDevice::ReadOwner | QFileDevice::WriteOwner;
constexpr auto kOwnerOnlyDir =
    QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner;

} // namespace

SecureSettings::SecureSettings()
    : SecureSettings(defaultSettingsPath())
{ }

SecureSettings::SecureSettings(const QString &filePath)
{
    const QFileInfo info(filePath);
    QDir().mkpath(info.absolutePath());
    // Create the file owner-only before QSettings ever writes it, so it never exists with the
    // umask's mode.
    if (!info.exists()) {
        QFile file(filePath);
        if (file.open(QIODevice::WriteOnly))
            file.setPermissions(kOwnerOnlyFile);
    }
    m_settings = std::make_unique<QSettings>(filePath, QSettings::IniFormat);
    harden();
}

SecureSettings::~SecureSettings()
{
    sync();
}

void SecureSettings::harden()
{
    const QFileInfo info(m_settings->fileName());
    QFile::setPermissions(info.absolutePath(), kOwnerOnlyDir);
    if (info.exists())
        QFile::setPermissions(info.absoluteFilePath(), kOwnerOnlyFile);
}

QString SecureSettings::accountOf(const QString &key)
{
    // The auth keys are written out here: the settings know nothing of the auth code.
    if (key == u"vernalo.auth.session_token")
        return QStringLiteral("session_token");
    if (key == u"vernalo.auth.admin_key")
        return QStringLiteral("admin_key");
    if (key == QLatin1String(kApiKeySecretKey))
        return QStringLiteral("api_key");
    return {};
}

bool SecureSettings::attachKeyring(std::unique_ptr<KeyringSecrets> keyring)
{
    const QString keys[] = {QStringLiteral("vernalo.auth.session_token"),
                            QStringLiteral("vernalo.auth.admin_key"),
                            QLatin1String(kApiKeySecretKey)};
    QHash<QString, QString> held;
    for (const QString &key : keys) {
        QString secret;
        const auto outcome = keyring->read(accountOf(key), &secret);
        if (outcome == KeyringSecrets::Outcome::unavailable) {
            AppLog::write(QStringLiteral("keyring unavailable, secrets stay in the settings file"));
            return false;
        }
        if (outcome == KeyringSecrets::Outcome::ok)
            held.insert(key, secret);
    }
    // Every secret reaches the keyring before any leaves the file: a keyring that refuses the
    // second one must not take the first with it.
    QStringList moved;
    for (const QString &key : keys) {
        if (!m_settings->contains(key))
            continue;
        const QString secret = m_settings->value(key).toString();
        if (!keyring->write(accountOf(key), secret)) {
            AppLog::write(QStringLiteral("keyring refused a secret, secrets stay in the settings "
                                         "file"));
            return false;
        }
        held.insert(key, secret);
        moved.append(key);
    }
    for (const QString &key : std::as_const(moved))
        m_settings->remove(key);
    sync();
    m_keyring = std::move(keyring);
    m_secrets = held;
    AppLog::write(QStringLiteral("keyring in use moved=%1").arg(moved.size()));
    return true;
}

QVariant SecureSettings::value(const QString &key, const QVariant &fallback) const
{
    if (m_keyring && m_secrets.contains(key))
        return m_secrets.value(key);
    return m_settings->value(key, fallback);
}

bool SecureSettings::contains(const QString &key) const
{
    return (m_keyring && m_secrets.contains(key)) || m_settings->contains(key);
}

void SecureSettings::setValue(const QString &key, const QVariant &value)
{
    const QString account = m_keyring ? accountOf(key) : QString();
    if (!account.isEmpty()) {
        const QString secret = value.toString();
        if (m_secrets.value(key) == secret && m_secrets.contains(key))
            return;
        if (m_keyring->write(account, secret)) {
            m_secrets.insert(key, secret);
            if (m_settings->contains(key)) {
                m_settings->remove(key);
                sync();
            }
            return;
        }
        // Nothing is lost when the keyring refuses: the file keeps this one.
        m_secrets.remove(key);
    }
    m_settings->setValue(key, value);
    sync();
}

void SecureSettings::remove(const QString &key)
{
    const QString account = m_keyring ? accountOf(key) : QString();
    if (!account.isEmpty() && m_secrets.remove(key) > 0)
        m_keyring->remove(account);
    m_settings->remove(key);
    sync();
}

bool SecureSettings::sync()
{
    // QSettings replaces the file through a temporary one; the folder is owner-only, and the
    // new file gets its owner-only mode back right after.
    m_settings->sync();
    harden();
    return m_settings->status() == QSettings::NoError;
}

QString SecureSettings::fileName() const
{
    return m_settings->fileName();
}

} // namespace vernalo
