#include "audio/running_processes.h"

#include <QDir>
#include <QFile>

namespace vernalo {

namespace {
// The kernel keeps this many characters of a program's name in comm.
constexpr qsizetype kCommLength = 15;

QByteArray readSmall(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.read(4096) : QByteArray();
}
} // namespace

bool isProcessRunning(const QString &binary, const QString &procRoot)
{
    const QString name = binary.trimmed();
    if (name.isEmpty() || name.contains(u'/'))
        return false;
    const QByteArray wanted = name.toUtf8();
    const QDir root(procRoot);
    const QStringList entries = root.entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &entry : entries) {
        bool isPid = false;
        entry.toLongLong(&isPid);
        if (!isPid)
            continue;
        const QString folder = root.filePath(entry);
        const QByteArray argv0 = readSmall(folder + QStringLiteral("/cmdline")).split('\0').first();
        if (!argv0.isEmpty() && argv0.mid(argv0.lastIndexOf('/') + 1) == wanted)
            return true;
        const QByteArray comm = readSmall(folder + QStringLiteral("/comm")).trimmed();
        if (!comm.isEmpty() && comm == wanted.left(kCommLength))
            return true;
    }
    return false;
}

} // namespace vernalo
