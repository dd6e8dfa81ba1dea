#pragma once

#include <qcoro/qcorotask.h>
#include <QObject>
#include <QPointer>
#include <QString>

namespace vernalo {

class AuthManager;

// The change-password sheet of the main window: the three password fields, the rules checked
// before any request (both given, confirmation equal, at least ten characters as the user sees
// them), one message line and one error line.
class ChangePasswordFlow : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QString changeCurrentPassword READ changeCurrentPassword WRITE
                   setChangeCurrentPassword NOTIFY changeCurrentPasswordChanged)
    Q_PROPERTY(QString changeNewPassword READ changeNewPassword WRITE setChangeNewPassword NOTIFY
                   changeNewPasswordChanged)
    Q_PROPERTY(QString changeConfirmPassword READ changeConfirmPassword WRITE
                   setChangeConfirmPassword NOTIFY changeConfirmPasswordChanged)
    Q_PROPERTY(QString changePasswordMessage READ changePasswordMessage NOTIFY
                   changePasswordMessageChanged)
    Q_PROPERTY(
        QString changePasswordError READ changePasswordError NOTIFY changePasswordErrorChanged)
    Q_PROPERTY(bool isChangingPassword READ isChangingPassword NOTIFY isChangingPasswordChanged)

public:
    static constexpr int kMinimumPasswordLength = 10;

    explicit ChangePasswordFlow(AuthManager *manager, QObject *parent = nullptr);

    QString changeCurrentPassword() const { return m_current; }
    void setChangeCurrentPassword(const QString &value);
    QString changeNewPassword() const { return m_new; }
    void setChangeNewPassword(const QString &value);
    QString changeConfirmPassword() const { return m_confirm; }
    void setChangeConfirmPassword(const QString &value);
    QString changePasswordMessage() const { return m_message; }
    QString changePasswordError() const { return m_error; }
    bool isChangingPassword() const { return m_busy; }

    // Ignored while a change is already running.
    Q_INVOKABLE void submit();
    // Back to an empty sheet (closed, or the user signed out); a change still running is
    // ignored when it answers.
    Q_INVOKABLE void reset();

    // Characters as the user perceives them (grapheme clusters), not code units or bytes.
    static int perceivedLength(const QString &text);

Q_SIGNALS:
    void changeCurrentPasswordChanged();
    void changeNewPasswordChanged();
    void changeConfirmPasswordChanged();
    void changePasswordMessageChanged();
    void changePasswordErrorChanged();
    void isChangingPasswordChanged();
    void actionFinished();

private:
    QCoro::Task<> run();
    void refuse(const QString &error);
    void setBusy(bool busy);
    void setMessage(const QString &message);
    void setError(const QString &error);

    QPointer<AuthManager> m_manager;
    QString m_current;
    QString m_new;
    QString m_confirm;
    QString m_message;
    QString m_error;
    bool m_busy = false;
    quint64 m_epoch = 0;
};

} // namespace vernalo
