#include "auth/auth_request_error.h"

namespace vernalo {

QString AuthRequestError::localizedDescription() const
{
    switch (m_kind) {
    case Kind::Server:
        return m_message;
    case Kind::InvalidURL:
        return QStringLiteral("Virheellinen auth-osoite");
    case Kind::Offline:
        return QStringLiteral("Yhteys auth-palveluun epäonnistui");
    }
    return m_message;
}

} // namespace vernalo
