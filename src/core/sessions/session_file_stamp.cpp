#include "sessions/session_file_stamp.h"

#include <QFile>
#include <sys/stat.h>

namespace vernalo {

QString fileStamp(const QString &path)
{
    struct stat info
    {
    };
    if (::stat(QFile::encodeName(path).constData(), &info) != 0)
        return {};
    const auto ns = [](const timespec &t) {
        return static_cast<qint64>(t.tv_sec) * 1000000000LL + t.tv_nsec;
    };
    return QStringLiteral("%1:%2:%3:%4")
        .arg(static_cast<qint64>(info.st_size))
        .arg(ns(info.st_mtim))
        .arg(ns(info.st_ctim))
        .arg(static_cast<quint64>(info.st_ino));
}

qint64 stampModifiedNs(const QString &stamp)
{
    return QStringView(stamp).split(u':').value(1).toLongLong();
}

} // namespace vernalo
