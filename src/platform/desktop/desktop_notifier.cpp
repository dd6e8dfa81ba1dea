#include "desktop_notifier.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QVariantMap>

namespace vernalo {

bool DesktopNotifier::notify(const QString &title, const QString &body)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return false;
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.Notifications"),
        QStringLiteral("/org/freedesktop/Notifications"),
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("Notify"));
    const QVariantMap hints {
        {QStringLiteral("desktop-entry"), QStringLiteral("com.kestrova.vernalo")}};
    call << QStringLiteral("Vernalo") << uint(0) << QStringLiteral("com.kestrova.vernalo") << title
         << body << QStringList() << hints << int(-1);
    return bus.send(call);
}

} // namespace vernalo
