// Bodies of the STT backend's REST interface, the stream's client messages and the auth
// service's replies. The first byte picks the record; the rest is the body, decoded as the
// client (or the reference server) decodes it.

#include "auth/auth_manager.h"
#include "backend/health_status_texts.h"
#include "fuzz_support.h"
#include "wire/auth_wire_records.h"
#include "wire/health_response.h"
#include "wire/session_records.h"
#include "wire/stream_messages.h"
#include "wire/summary_records.h"
#include "wire/wire_coding.h"

using namespace vernalo;

namespace {

// A refused body says why; an accepted one survives being written and read again unchanged,
// so the reference server and the client agree on every record either of them accepts.
template<typename Record> void decodeAndRewrite(const QByteArray &body)
{
    QString error;
    const auto record = wire::decode<Record>(body, &error);
    if (!record) {
        FUZZ_CHECK(!error.isEmpty(), body);
        return;
    }
    const QByteArray again = wire::compact(record->toJson());
    const auto reread = wire::decode<Record>(again);
    FUZZ_CHECK(reread && *reread == *record, body + " -> " + again);
}

QByteArray frameOf(const StreamClientMessage &message)
{
    if (const auto *start = std::get_if<StreamStartMessage>(&message.value))
        return wire::compact(start->toJson());
    if (const auto *audio = std::get_if<StreamClientMessage::Audio>(&message.value))
        return StreamClientMessage::audioFrame(audio->pcm);
    return StreamClientMessage::stopFrame();
}

void clientMessage(const QByteArray &frame)
{
    const auto message = StreamClientMessage::parse(frame);
    if (!message)
        return;
    const QByteArray again = frameOf(*message);
    const auto reread = StreamClientMessage::parse(again);
    FUZZ_CHECK(reread && *reread == *message, frame + " -> " + again);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size == 0)
        return 0;
    const QByteArray body = fuzz::inputBytes(data + 1, size - 1);
    switch (data[0] % 15) {
    case 0:
        decodeAndRewrite<STTSessionCreateResponse>(body);
        break;
    case 1:
        decodeAndRewrite<ServerTranscriptResponse>(body);
        break;
    case 2:
        decodeAndRewrite<SessionMetaResponse>(body);
        break;
    case 3:
        decodeAndRewrite<SessionListResponse>(body);
        break;
    case 4:
        if (const auto health = wire::decode<HealthResponse>(body)) {
            // The labels are shown in the settings; they must be computable for any answer.
            FUZZ_CHECK(!memoAIStatusLabel(*health).isEmpty(), body);
            FUZZ_CHECK(!connectionTestStatusText(*health).isEmpty(), body);
        }
        decodeAndRewrite<HealthResponse>(body);
        break;
    case 5:
        decodeAndRewrite<SummaryPayload>(body);
        break;
    case 6:
        decodeAndRewrite<STTSessionCreateRequest>(body);
        break;
    case 7:
        decodeAndRewrite<SummaryGenerateRequest>(body);
        break;
    case 8:
        clientMessage(body);
        break;
    case 9:
        decodeAndRewrite<AuthLoginResponse>(body);
        break;
    case 10:
        decodeAndRewrite<AuthVerifyResponse>(body);
        break;
    case 11:
        decodeAndRewrite<AuthAdminUsersResponse>(body);
        break;
    case 12:
        decodeAndRewrite<AuthErrorResponse>(body);
        break;
    case 13:
        decodeAndRewrite<StoredAuthMeta>(body);
        break;
    default:
        // The text an error reply puts on the screen is never blank and never padded.
        if (const auto text = AuthManager::parseServerError(body, 500))
            FUZZ_CHECK(!text->isEmpty() && *text == text->trimmed(), body);
        break;
    }
    return 0;
}
