#include "sessions/atomic_file.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <unistd.h>

namespace vernalo {

std::optional<QString> syncDirectory(const QString &directory)
{
    const QByteArray native = QFile::encodeName(directory);
    const int fd = ::open(native.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return QStringLiteral("open folder: %1").arg(QString::fromLocal8Bit(std::strerror(errno)));
    int result;
    do {
        result = ::fsync(fd);
    } while (result != 0 && errno == EINTR);
    const int syncError = result == 0 ? 0 : errno;
    ::close(fd);
    // Some file systems cannot flush a folder at all; that is not a failed write.
    if (syncError != 0 && syncError != EINVAL && syncError != EROFS)
        return QStringLiteral("sync folder: %1")
            .arg(QString::fromLocal8Bit(std::strerror(syncError)));
    return std::nullopt;
}

std::optional<QString> writeFileAtomically(const QString &path, const QByteArray &content)
{
    QSaveFile file(path);
    // Writing in place would defeat the point: a crash could leave half a file.
    file.setDirectWriteFallback(false);
    if (!file.open(QIODevice::WriteOnly))
        return QStringLiteral("open: %1").arg(file.errorString());
    if (file.write(content) != content.size()) {
        const QString error = file.errorString();
        file.cancelWriting();
        return QStringLiteral("write: %1").arg(error);
    }
    // commit() flushes the temporary file to disk before it renames it over the target.
    if (!file.commit())
        return QStringLiteral("commit: %1").arg(file.errorString());
    return syncDirectory(QFileInfo(path).absolutePath());
}

} // namespace vernalo
