#pragma once

#include <QObject>
#include <QPointer>
#include <QWindow>

namespace vernalo {

// Remembers the main window's place, size and maximised state across runs. A stored place that
// no longer lies on any screen (a monitor was unplugged) is ignored and only the size is kept.
class WindowGeometry : public QObject
{
    Q_OBJECT

public:
    explicit WindowGeometry(QWindow *window, QObject *parent = nullptr);
    ~WindowGeometry() override;

    void restore();
    void save() const;

private:
    QPointer<QWindow> m_window;
};

} // namespace vernalo
