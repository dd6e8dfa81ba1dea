#include "hostile_corpus.h"

#include "support/test_environment.h"

#include <algorithm>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QStringDecoder>

namespace vernalo::test {

QList<HostileInput> hostileFiles(const QString &kind)
{
    const QDir root(TestEnvironment::dataPath(QStringLiteral("hostile/") + kind));
    QList<HostileInput> inputs;
    QDirIterator it(root.path(), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            qFatal("cannot read %s", qPrintable(path));
        inputs.append({root.relativeFilePath(path), file.readAll()});
    }
    std::sort(inputs.begin(), inputs.end(),
              [](const HostileInput &a, const HostileInput &b) { return a.name < b.name; });
    if (inputs.isEmpty())
        qFatal("no hostile inputs under %s", qPrintable(root.path()));
    return inputs;
}

QByteArray deepNesting(int depth)
{
    return QByteArray(depth, '[') + '1' + QByteArray(depth, ']');
}

QByteArray unterminatedString(const QByteArray &prefix, qsizetype size)
{
    return prefix + '"' + QByteArray(size, 'a');
}

bool isValidUtf8(const QByteArray &bytes)
{
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = decoder.decode(bytes);
    return !decoder.hasError();
}

} // namespace vernalo::test
