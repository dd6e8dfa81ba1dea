#pragma once

#include <functional>
#include <qcoro/qcorotask.h>
#include <QObject>
#include <QString>

class QQmlApplicationEngine;

namespace vernalo {

class AppContext;

// Drives the running application through its screens the way a user would (sign in, record a
// few seconds, stop) and writes a PNG of the window at each stop: the documentation pictures.
// Controls are found by object name and pressed through their own signals; nothing is
// positioned by coordinates.
class ScreenshotTour : public QObject
{
    Q_OBJECT
public:
    struct Options
    {
        QString outputDirectory;
        QString email;
        QString password;
        int recordingSeconds = 8;
        int timeoutSeconds = 30; // for each step that waits on the backend
    };

    ScreenshotTour(QQmlApplicationEngine *engine, AppContext *context, Options options,
                   QObject *parent = nullptr);

    // The files written, in order; an empty list and `error` set when a step did not arrive.
    QCoro::Task<QStringList> run();
    QString error() const { return m_error; }

private:
    QObject *find(const QString &name) const;
    QString currentScreen() const;
    QCoro::Task<bool> waitUntil(std::function<bool()> condition, QString what);
    QCoro::Task<bool> shoot(QString fileName);
    bool press(const QString &buttonName);

    QQmlApplicationEngine *m_engine;
    AppContext *m_context;
    Options m_options;
    QStringList m_written;
    QString m_error;
};

} // namespace vernalo
