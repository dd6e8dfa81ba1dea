#pragma once

#include <QByteArray>
#include <QList>
#include <QtEndian>

namespace vernalo::test {

inline QByteArray pcm16(const QList<int> &samples)
{
    QByteArray out(samples.size() * 2, Qt::Uninitialized);
    for (qsizetype i = 0; i < samples.size(); ++i)
        qToLittleEndian<qint16>(static_cast<qint16>(samples[i]), out.data() + 2 * i);
    return out;
}

// A chunk of bytes / 2 samples of one value (an odd byte count ends in a lone zero byte).
inline QByteArray constantChunk(int sample, qsizetype bytes)
{
    QByteArray out = pcm16(QList<int>(bytes / 2, sample));
    if (bytes % 2)
        out.append('\0');
    return out;
}

inline QList<int> samplesOf(const QByteArray &data)
{
    QList<int> out;
    for (qsizetype i = 0; i + 1 < data.size(); i += 2)
        out << qFromLittleEndian<qint16>(data.constData() + i);
    return out;
}

} // namespace vernalo::test
