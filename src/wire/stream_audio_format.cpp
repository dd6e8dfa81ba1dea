#include "wire/stream_audio_format.h"

#include <cstdlib>
#include <QtEndian>

namespace vernalo {

double estimatePCM16Level(const QByteArray &data)
{
    const qsizetype samples = data.size() / 2;
    if (samples < 1)
        return 0.0;
    const auto *bytes = reinterpret_cast<const uchar *>(data.constData());
    qint64 sum = 0;
    for (qsizetype i = 0; i < samples; ++i)
        sum += std::abs(static_cast<int>(qFromLittleEndian<qint16>(bytes + 2 * i)));
    return static_cast<double>(sum) / 32768.0 / static_cast<double>(samples);
}

} // namespace vernalo
