// The stored configuration text, as the configuration store reads it at start-up.

#include "foundation/stt_configuration.h"
#include "fuzz_support.h"

using namespace vernalo;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArray stored = fuzz::inputBytes(data, size);
    QString error;
    const auto config = STTConfiguration::decode(stored, &error);
    if (!config) {
        // The reason goes into the log line of the fallback to defaults.
        FUZZ_CHECK(!error.isEmpty(), stored);
        return 0;
    }
    // Values already kept in range stay as they are when saved and loaded again.
    const QByteArray again = config->encode();
    const auto reread = STTConfiguration::decode(again);
    FUZZ_CHECK(reread && *reread == *config, stored + " -> " + again);
    return 0;
}
