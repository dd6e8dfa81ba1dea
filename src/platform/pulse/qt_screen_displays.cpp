#include "pulse/pulse_audio_system.h"

#include <QGuiApplication>
#include <QScreen>

namespace vernalo {

QList<AudioDisplayInfo> qtScreenDisplays()
{
    if (!qobject_cast<QGuiApplication *>(QCoreApplication::instance()))
        return {};
    QList<AudioDisplayInfo> displays;
    quint32 id = 0;
    for (const QScreen *screen : QGuiApplication::screens()) {
        const QSize size = screen->size();
        displays.append({++id, size.width(), size.height()});
    }
    return displays;
}

} // namespace vernalo
