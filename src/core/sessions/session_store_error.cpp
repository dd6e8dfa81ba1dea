#include "sessions/session_store_error.h"

namespace vernalo {

QString SessionStoreError::description() const
{
    switch (kind) {
    case Kind::UnsafeId:
        return QStringLiteral("Session tunniste ei kelpaa tiedostonimeksi");
    case Kind::WriteFailed:
        return QStringLiteral("Session tallennus epäonnistui");
    case Kind::RemoveFailed:
        return QStringLiteral("Session poisto epäonnistui");
    case Kind::ListFailed:
        return QStringLiteral("Sessiokansion lukeminen epäonnistui");
    }
    return {};
}

} // namespace vernalo
