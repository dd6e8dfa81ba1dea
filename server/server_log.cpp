#include "server_log.h"

#include <memory>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QMutexLocker>

namespace vernalo::server {

namespace {

QMutex &logMutex()
{
    static QMutex mutex;
    return mutex;
}

// Guarded by logMutex().
std::unique_ptr<QFile> &logFile()
{
    static std::unique_ptr<QFile> file;
    return file;
}

} // namespace

bool ServerLog::open(const QString &path, QString *error)
{
    auto file = std::make_unique<QFile>(path);
    if (!QDir().mkpath(QFileInfo(path).absolutePath()) ||
        !file->open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text)) {
        if (error)
            *error = QStringLiteral("cannot open server log %1: %2").arg(path, file->errorString());
        return false;
    }
    const QMutexLocker lock(&logMutex());
    logFile() = std::move(file);
    return true;
}

void ServerLog::close()
{
    const QMutexLocker lock(&logMutex());
    logFile().reset();
}

QString ServerLog::path()
{
    const QMutexLocker lock(&logMutex());
    return logFile() ? logFile()->fileName() : QString();
}

void ServerLog::write(const QString &message)
{
    const double seconds = static_cast<double>(QDateTime::currentMSecsSinceEpoch()) / 1000.0;
    const QByteArray line =
        (QString::number(seconds, 'f', 3) + QLatin1Char(' ') + message + QLatin1Char('\n'))
            .toUtf8();
    const QMutexLocker lock(&logMutex());
    if (!logFile())
        return;
    // Written through at once: the log is small, and a killed server keeps every line.
    logFile()->write(line);
    logFile()->flush();
}

} // namespace vernalo::server
