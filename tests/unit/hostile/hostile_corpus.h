#pragma once

// The bad-input corpus under tests/data/hostile/<kind>, plus the big inputs that are made at
// run time rather than committed.

#include <QByteArray>
#include <QList>
#include <QString>

namespace vernalo::test {

struct HostileInput
{
    QString name; // path below the kind's folder, e.g. "create/array.json"
    QByteArray bytes;
};

// Every file below tests/data/hostile/<kind>, sorted by name.
QList<HostileInput> hostileFiles(const QString &kind);

// `depth` nested arrays around a number: far deeper than any parser should follow.
QByteArray deepNesting(int depth);

// `prefix` followed by a string value of `size` letters that never ends.
QByteArray unterminatedString(const QByteArray &prefix, qsizetype size);

// Whether the bytes are UTF-8 that a WebSocket text frame can carry unchanged.
bool isValidUtf8(const QByteArray &bytes);

} // namespace vernalo::test
