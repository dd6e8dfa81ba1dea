#include "auth/change_password_flow.h"

#include "auth/auth_manager.h"

#include <QTextBoundaryFinder>

namespace vernalo {

ChangePasswordFlow::ChangePasswordFlow(AuthManager *manager, QObject *parent)
    : QObject(parent)
    , m_manager(manager)
{ }

void ChangePasswordFlow::setChangeCurrentPassword(const QString &value)
{
    if (m_current == value)
        return;
    m_current = value;
    Q_EMIT changeCurrentPasswordChanged();
}

void ChangePasswordFlow::setChangeNewPassword(const QString &value)
{
    if (m_new == value)
        return;
    m_new = value;
    Q_EMIT changeNewPasswordChanged();
}

void ChangePasswordFlow::setChangeConfirmPassword(const QString &value)
{
    if (m_confirm == value)
        return;
    m_confirm = value;
    Q_EMIT changeConfirmPasswordChanged();
}

int ChangePasswordFlow::perceivedLength(const QString &text)
{
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    int count = 0;
    while (finder.toNextBoundary() > 0)
        ++count;
    return count;
}

void ChangePasswordFlow::submit()
{
    if (m_busy)
        return;
    run();
}

void ChangePasswordFlow::refuse(const QString &error)
{
    setError(error);
    Q_EMIT actionFinished();
}

QCoro::Task<> ChangePasswordFlow::run()
{
    QPointer<ChangePasswordFlow> self(this);
    setMessage({});
    setError({});
    const QString current = m_current.trimmed();
    const QString replacement = m_new.trimmed();
    const QString confirmation = m_confirm.trimmed();
    if (current.isEmpty() || replacement.isEmpty()) {
        refuse(QStringLiteral("Syötä nykyinen ja uusi salasana."));
        co_return;
    }
    if (replacement != confirmation) {
        refuse(QStringLiteral("Uusi salasana ei täsmää."));
        co_return;
    }
    if (perceivedLength(replacement) < kMinimumPasswordLength) {
        refuse(QStringLiteral("Uuden salasanan minimipituus on 10 merkkiä."));
        co_return;
    }
    if (!m_manager) {
        refuse(QStringLiteral("Salasanan vaihto epäonnistui."));
        co_return;
    }

    setBusy(true);
    const quint64 epoch = m_epoch;
    const AuthResult<QString> result = co_await m_manager->changePassword(current, replacement);
    if (!self || epoch != m_epoch)
        co_return;
    if (result) {
        setMessage(result.value());
        setError({});
        setChangeCurrentPassword({});
        setChangeNewPassword({});
        setChangeConfirmPassword({});
    } else {
        setMessage({});
        setError(result.failure().description(QStringLiteral("Salasanan vaihto epäonnistui.")));
    }
    setBusy(false);
    Q_EMIT actionFinished();
}

void ChangePasswordFlow::setBusy(bool busy)
{
    if (m_busy == busy)
        return;
    m_busy = busy;
    Q_EMIT isChangingPasswordChanged();
}

void ChangePasswordFlow::setMessage(const QString &message)
{
    if (m_message == message)
        return;
    m_message = message;
    Q_EMIT changePasswordMessageChanged();
}

void ChangePasswordFlow::setError(const QString &error)
{
    if (m_error == error)
        return;
    m_error = error;
    Q_EMIT changePasswordErrorChanged();
}

void ChangePasswordFlow::reset()
{
    ++m_epoch;
    setChangeCurrentPassword({});
    setChangeNewPassword({});
    setChangeConfirmPassword({});
    setMessage({});
    setError({});
    setBusy(false);
}

} // namespace vernalo
