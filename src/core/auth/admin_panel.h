#pragma once

#include "auth/auth_request_error.h"
#include "wire/auth_wire_records.h"

#include <functional>
#include <optional>
#include <qcoro/qcorotask.h>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QVariantList>

namespace vernalo {

class AuthManager;
class DesktopServices;

// The user administration panel of the main window: the admin key field and its storage, the
// user list, the new-user fields and every row action, with one message line, one error line
// and a busy flag. Confirmation before deleting and the new password for a reset are asked
// through DesktopServices. The key is stored only after a call with it succeeded.
class AdminPanel : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QString adminKey READ adminKey WRITE setAdminKey NOTIFY adminKeyChanged)
    Q_PROPERTY(QVariantList adminUsers READ adminUserRows NOTIFY adminUsersChanged)
    Q_PROPERTY(QString adminMessage READ adminMessage NOTIFY adminMessageChanged)
    Q_PROPERTY(QString adminError READ adminError NOTIFY adminErrorChanged)
    Q_PROPERTY(bool adminBusy READ adminBusy NOTIFY adminBusyChanged)
    Q_PROPERTY(QString adminNewUserEmail READ adminNewUserEmail WRITE setAdminNewUserEmail NOTIFY
                   adminNewUserEmailChanged)
    Q_PROPERTY(QString adminNewUserPassword READ adminNewUserPassword WRITE setAdminNewUserPassword
                   NOTIFY adminNewUserPasswordChanged)
    Q_PROPERTY(QString adminNewUserRole READ adminNewUserRole WRITE setAdminNewUserRole NOTIFY
                   adminNewUserRoleChanged)

public:
    AdminPanel(AuthManager *manager, DesktopServices *desktop, QObject *parent = nullptr);

    // The in-app administration is offered only when VERNALO_INAPP_ADMIN_ENABLED is exactly "1".
    static bool isFeatureEnabledByEnvironment();
    // Users sorted by e-mail, case-insensitively in the user's locale, ascending.
    static QList<AuthAdminUser> sortedForDisplay(QList<AuthAdminUser> users);
    // One row as the screen shows it: the record's fields, "statusLabel" ("aktiivinen" or
    // "estetty") and which row buttons apply.
    static QVariantMap rowFor(const AuthAdminUser &user);

    QString adminKey() const { return m_adminKey; }
    void setAdminKey(const QString &key);
    const QList<AuthAdminUser> &adminUsers() const { return m_users; }
    QVariantList adminUserRows() const;
    QString adminMessage() const { return m_message; }
    QString adminError() const { return m_error; }
    bool adminBusy() const { return m_busy; }
    QString adminNewUserEmail() const { return m_newUserEmail; }
    void setAdminNewUserEmail(const QString &email);
    QString adminNewUserPassword() const { return m_newUserPassword; }
    void setAdminNewUserPassword(const QString &password);
    QString adminNewUserRole() const { return m_newUserRole; }
    void setAdminNewUserRole(const QString &role);

    // When the main window is shown: fills an empty key field from storage, or, with the
    // feature off, forgets the stored key and empties the field.
    Q_INVOKABLE void prepareForDisplay(bool featureEnabled);
    Q_INVOKABLE void saveKey();
    Q_INVOKABLE void clearKey();
    // Forgets everything on screen (the panel closed, or the user signed out): typed key, list,
    // lines and new-user fields; the stored key stays. A request still running is ignored.
    Q_INVOKABLE void reset();

    // Request actions; each is ignored while another action of the panel is running.
    Q_INVOKABLE void loadUsers();
    Q_INVOKABLE void createUser();
    Q_INVOKABLE void setUserRole(qint64 userID, const QString &role);
    Q_INVOKABLE void setUserEnabled(qint64 userID, bool enabled);
    Q_INVOKABLE void resetUserPassword(qint64 userID);
    Q_INVOKABLE void deleteUser(qint64 userID);

Q_SIGNALS:
    void adminKeyChanged();
    void adminUsersChanged();
    void adminMessageChanged();
    void adminErrorChanged();
    void adminBusyChanged();
    void adminNewUserEmailChanged();
    void adminNewUserPasswordChanged();
    void adminNewUserRoleChanged();
    // After every action that was not ignored, when its outcome is on the lines.
    void actionFinished();

private:
    using Request = std::function<QCoro::Task<AuthResult<>>(const QString &key)>;
    struct Action
    {
        Request request;
        QString successMessage;
        QString fallback;
        bool reloadAfter = false;
        std::function<void()> onSuccess;
    };

    std::optional<QString> requireKey();
    QCoro::Task<> runLoadUsers();
    QCoro::Task<> runCreateUser();
    QCoro::Task<> runSetRole(qint64 userID, QString role);
    QCoro::Task<> runSetEnabled(qint64 userID, bool enabled);
    QCoro::Task<> runResetPassword(qint64 userID);
    QCoro::Task<> runDeleteUser(qint64 userID);
    QCoro::Task<> perform(QString key, Action action);
    QCoro::Task<> reloadQuietly(QString key);
    void keepKey(const QString &key);
    void finish();

    void setUsers(QList<AuthAdminUser> users);
    void setMessage(const QString &message);
    void setError(const QString &error);
    void setBusy(bool busy);

    QPointer<AuthManager> m_manager;
    DesktopServices *m_desktop;
    QString m_adminKey;
    QList<AuthAdminUser> m_users;
    QString m_message;
    QString m_error;
    bool m_busy = false;
    // Covers a whole action, including its confirmation or prompt.
    bool m_running = false;
    quint64 m_epoch = 0;
    QString m_newUserEmail;
    QString m_newUserPassword;
    QString m_newUserRole = QStringLiteral("user");
};

} // namespace vernalo
