#include "color_scheme.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusReply>
#include <QDBusVariant>

namespace vernalo {

namespace {

const QString kPortalService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString kPortalPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString kSettingsInterface = QStringLiteral("org.freedesktop.portal.Settings");
const QString kAppearance = QStringLiteral("org.freedesktop.appearance");
const QString kColorSchemeKey = QStringLiteral("color-scheme");

// The portal answers 1 for "prefer dark", 2 for "prefer light" and 0 for no preference.
bool prefersDark(const QVariant &value)
{
    QVariant inner = value;
    while (inner.canConvert<QDBusVariant>() && inner.userType() == qMetaTypeId<QDBusVariant>())
        inner = inner.value<QDBusVariant>().variant();
    return inner.toUInt() == 1;
}

} // namespace

ColorScheme::ColorScheme(QObject *parent)
    : QObject(parent)
{
    const QString forced = qEnvironmentVariable("VERNALO_COLOR_SCHEME");
    if (!forced.isEmpty()) {
        m_dark = forced == QLatin1String("dark");
        return;
    }
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return;
    QDBusMessage read = QDBusMessage::createMethodCall(kPortalService, kPortalPath,
                                                       kSettingsInterface, QStringLiteral("Read"));
    read << kAppearance << kColorSchemeKey;
    const QDBusMessage reply = bus.call(read, QDBus::Block, 1000);
    if (reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty())
        m_dark = prefersDark(reply.arguments().first());
    bus.connect(kPortalService, kPortalPath, kSettingsInterface, QStringLiteral("SettingChanged"),
                this, SLOT(portalSettingChanged(QString, QString, QDBusVariant)));
}

void ColorScheme::portalSettingChanged(const QString &group, const QString &key,
                                       const QDBusVariant &value)
{
    if (group == kAppearance && key == kColorSchemeKey)
        setDark(prefersDark(value.variant()));
}

void ColorScheme::setDark(bool dark)
{
    if (dark == m_dark)
        return;
    m_dark = dark;
    emit changed();
}

} // namespace vernalo
