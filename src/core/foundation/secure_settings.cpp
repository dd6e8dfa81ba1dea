#include "foundation/secure_settings.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>

namespace vernalo {

namespace {

QString defaultSettingsPath()
{
    const QString configRoot = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    return configRoot + QStringLiteral("/Kestrova/Vernalo.conf");
}

constexpr auto kOwnerOnlyFile = QFileDevice::ReadOwner | QFileDevice::WriteOwner;
constexpr auto kOwnerOnlyDir = QFileDevice::ReadOwner | QFileDevice::WriteOwner
                               | QFileDevice::ExeOwner;

} // namespace

SecureSettings::SecureSettings()
    : SecureSettings(defaultSettingsPath())
{
}

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

QVariant SecureSettings::value(const QString &key, const QVariant &fallback) const
{
    return m_settings->value(key, fallback);
}

bool SecureSettings::contains(const QString &key) const { return m_settings->contains(key); }

void SecureSettings::setValue(const QString &key, const QVariant &value)
{
    m_settings->setValue(key, value);
    sync();
}

void SecureSettings::remove(const QString &key)
{
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

QString SecureSettings::fileName() const { return m_settings->fileName(); }

} // namespace vernalo
