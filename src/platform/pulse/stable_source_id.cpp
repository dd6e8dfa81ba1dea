#include "pulse/stable_source_id.h"

namespace vernalo::pulse {

quint32 stableSourceId(const QString &sourceName)
{
    // FNV-1a over the UTF-8 name: fixed forever, since ids are stored in the configuration.
    quint32 hash = 2166136261u;
    for (const char byte : sourceName.toUtf8()) {
        hash ^= static_cast<quint8>(byte);
        hash *= 16777619u;
    }
    return hash == 0 ? 1u : hash;
}

} // namespace vernalo::pulse
