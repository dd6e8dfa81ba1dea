#pragma once

#include <qcoro/qcorotask.h>
#include <QObject>
#include <QPointer>
#include <QString>

namespace vernalo {

class AuthManager;

// The forgot-password sheet of the sign-in screen: one e-mail field, one message line and one
// error line. The screen binds the fields and calls send().
class PasswordResetFlow : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QString resetEmail READ resetEmail WRITE setResetEmail NOTIFY resetEmailChanged)
    Q_PROPERTY(bool isSendingReset READ isSendingReset NOTIFY isSendingResetChanged)
    Q_PROPERTY(QString resetMessage READ resetMessage NOTIFY resetMessageChanged)
    Q_PROPERTY(QString resetError READ resetError NOTIFY resetErrorChanged)

public:
    explicit PasswordResetFlow(AuthManager *manager, QObject *parent = nullptr);

    QString resetEmail() const { return m_resetEmail; }
    void setResetEmail(const QString &email);
    bool isSendingReset() const { return m_isSendingReset; }
    QString resetMessage() const { return m_resetMessage; }
    QString resetError() const { return m_resetError; }

    // Ignored while a request is already running.
    Q_INVOKABLE void send();
    // Back to an empty sheet (closed, or the user signed out); a request still running is
    // ignored when it answers.
    Q_INVOKABLE void reset();

Q_SIGNALS:
    void resetEmailChanged();
    void isSendingResetChanged();
    void resetMessageChanged();
    void resetErrorChanged();
    // After every send() that was not ignored, when its outcome is on the lines.
    void actionFinished();

private:
    QCoro::Task<> run();
    void setSending(bool sending);
    void setMessage(const QString &message);
    void setError(const QString &error);

    QPointer<AuthManager> m_manager;
    QString m_resetEmail;
    bool m_isSendingReset = false;
    QString m_resetMessage;
    QString m_resetError;
    quint64 m_epoch = 0;
};

} // namespace vernalo
