#include "auth/password_reset_flow.h"

#include "auth/auth_manager.h"

namespace vernalo {

PasswordResetFlow::PasswordResetFlow(AuthManager *manager, QObject *parent)
    : QObject(parent)
    , m_manager(manager)
{ }

void PasswordResetFlow::setResetEmail(const QString &email)
{
    if (m_resetEmail == email)
        return;
    m_resetEmail = email;
    Q_EMIT resetEmailChanged();
}

void PasswordResetFlow::send()
{
    if (m_isSendingReset)
        return;
    run();
}

QCoro::Task<> PasswordResetFlow::run()
{
    QPointer<PasswordResetFlow> self(this);
    const QString email = m_resetEmail.trimmed();
    if (email.isEmpty() || !m_manager) {
        setError(QStringLiteral("Syötä sähköpostiosoite."));
        setMessage({});
        Q_EMIT actionFinished();
        co_return;
    }
    setSending(true);
    setMessage({});
    setError({});
    const quint64 epoch = m_epoch;
    const AuthResult<QString> result = co_await m_manager->requestPasswordReset(email);
    if (!self || epoch != m_epoch)
        co_return;
    if (result)
        setMessage(result.value());
    else
        setError(result.failure().description(QStringLiteral("Palautuspyyntö epäonnistui.")));
    setSending(false);
    Q_EMIT actionFinished();
}

void PasswordResetFlow::reset()
{
    ++m_epoch;
    setResetEmail({});
    setMessage({});
    setError({});
    setSending(false);
}

void PasswordResetFlow::setSending(bool sending)
{
    if (m_isSendingReset == sending)
        return;
    m_isSendingReset = sending;
    Q_EMIT isSendingResetChanged();
}

void PasswordResetFlow::setMessage(const QString &message)
{
    if (m_resetMessage == message)
        return;
    m_resetMessage = message;
    Q_EMIT resetMessageChanged();
}

void PasswordResetFlow::setError(const QString &error)
{
    if (m_resetError == error)
        return;
    m_resetError = error;
    Q_EMIT resetErrorChanged();
}

} // namespace vernalo
