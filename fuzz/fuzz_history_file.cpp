// One file of the local session history, as listing and loading read it.

#include "fuzz_support.h"
#include "sessions/saved_session.h"

using namespace vernalo;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArray file = fuzz::inputBytes(data, size);
    QString error;
    const auto session = SavedSession::decode(file, &error);
    const auto row = SavedSessionListItem::decode(file);
    // The picker lists exactly the files that can be opened: a listed file that fails to load,
    // or a loadable one that never shows, would hide or break a stored meeting.
    FUZZ_CHECK(session.has_value() == row.has_value(), file);
    if (!session) {
        FUZZ_CHECK(!error.isEmpty(), file);
        return 0;
    }
    FUZZ_CHECK(*row == SavedSessionListItem::from(*session), file);
    // Writing a loaded session back loses nothing.
    const QByteArray again = session->encode();
    const auto reread = SavedSession::decode(again);
    FUZZ_CHECK(reread && *reread == *session, file + " -> " + again);
    return 0;
}
