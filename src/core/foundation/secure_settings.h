#pragma once

#include <QString>
#include <QVariant>

#include <memory>

class QSettings;

namespace vernalo {

// The program's defaults store: one INI file that holds the configuration, the session token
// and the admin key. Because of those secrets the file is kept owner-only (0600) inside an
// owner-only folder, and every change is written through at once.
class SecureSettings
{
public:
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

private:
    void harden();

    std::unique_ptr<QSettings> m_settings;
};

} // namespace vernalo
