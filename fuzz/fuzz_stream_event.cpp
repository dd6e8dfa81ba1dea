// One server frame of the live stream, as the stream client hands it to StreamEvent::parse.

#include "fuzz_support.h"
#include "wire/stream_event.h"
#include "wire/wire_coding.h"

using namespace vernalo;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArray frame = fuzz::inputBytes(data, size);
    const auto event = StreamEvent::parse(frame, fuzz::fixedNow());
    if (!event)
        return 0;
    // An accepted event written back as the reference server writes it must read the same, or
    // a final would change its time or speaker on its way through the server.
    const QByteArray again = wire::compact(event->toJson());
    const auto reread = StreamEvent::parse(again, fuzz::fixedNow());
    FUZZ_CHECK(reread && *reread == *event, frame + " -> " + again);
    // A final always carries a usable time: the transcript orders and de-duplicates by it.
    if (const auto *final = event->final())
        FUZZ_CHECK(final->timestamp.isValid(), frame);
    return 0;
}
