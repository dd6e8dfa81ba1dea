#pragma once

// The bad-input corpus under tests/data/hostile/<kind>, plus the big inputs that are made at
// run time rather than committed.

#include "support/test_environment.h"

#include <algorithm>
#include <QByteArray>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QList>
#include <QString>
#include <QStringDecoder>

namespace vernalo::test {

struct HostileInput
{
    QString name; // path below the kind's folder, e.g. "create/array.json"
    QByteArray bytes;
};

// Every file below tests/data/hostile/<kind>, sorted by name.
inline QList<HostileInput> hostileFiles(const QString &kind)
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

// `depth` nested arrays around a number: far deeper than any parser should follow.
inline QByteArray deepNesting(int depth)
{
    return QByteArray(depth, '[') + '1' + QByteArray(depth, ']');
}

// `prefix` followed by a string value of `size` letters that never ends.
inline QByteArray unterminatedString(const QByteArray &prefix, qsizetype size)
{
    return prefix + '"' + QByteArray(size, 'a');
}

// Whether the bytes are UTF-8 that a WebSocket text frame can carry unchanged.
inline bool isValidUtf8(const QByteArray &bytes)
{
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = decoder.decode(bytes);
    return !decoder.hasError();
}

} // namespace vernalo::test
