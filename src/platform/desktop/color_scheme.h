#pragma once

#include <QDBusVariant>
#include <QObject>

namespace vernalo {

// Whether the desktop prefers dark windows, read from the desktop portal's appearance setting
// and followed while the app runs. VERNALO_COLOR_SCHEME=dark|light decides instead (screenshots
// and tests); without a portal the answer is light.
class ColorScheme : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool dark READ isDark NOTIFY changed)

public:
    explicit ColorScheme(QObject *parent = nullptr);

    bool isDark() const { return m_dark; }

Q_SIGNALS:
    void changed();

private Q_SLOTS:
    void portalSettingChanged(const QString &group, const QString &key, const QDBusVariant &value);

private:
    void setDark(bool dark);

    bool m_dark = false;
};

} // namespace vernalo
