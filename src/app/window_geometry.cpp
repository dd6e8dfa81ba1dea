#include "window_geometry.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QScreen>
#include <QSettings>

namespace vernalo {

namespace {
const QString kGeometryKey = QStringLiteral("window/geometry");
const QString kMaximizedKey = QStringLiteral("window/maximized");
} // namespace

WindowGeometry::WindowGeometry(QWindow *window, QObject *parent)
    : QObject(parent)
    , m_window(window)
{
    restore();
    connect(qApp, &QCoreApplication::aboutToQuit, this, &WindowGeometry::save);
    connect(window, &QWindow::visibleChanged, this, [this](bool visible) {
        if (!visible)
            save();
    });
}

WindowGeometry::~WindowGeometry()
{
    save();
}

void WindowGeometry::restore()
{
    const QSettings settings;
    const QRect stored = settings.value(kGeometryKey).toRect();
    if (!m_window || !stored.isValid())
        return;
    bool onScreen = false;
    for (const QScreen *screen : QGuiApplication::screens())
        onScreen = onScreen || screen->availableGeometry().intersects(stored);
    if (onScreen)
        m_window->setGeometry(stored);
    else
        m_window->resize(stored.size());
    if (settings.value(kMaximizedKey).toBool())
        m_window->setWindowState(Qt::WindowMaximized);
}

void WindowGeometry::save() const
{
    if (!m_window)
        return;
    QSettings settings;
    const bool maximized = m_window->windowStates().testFlag(Qt::WindowMaximized);
    settings.setValue(kMaximizedKey, maximized);
    if (!maximized)
        settings.setValue(kGeometryKey, m_window->geometry());
}

} // namespace vernalo
