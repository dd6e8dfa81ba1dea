#include "auth/admin_panel.h"

#include "auth/auth_manager.h"
#include "ports/desktop_services.h"

#include <algorithm>
#include <QCollator>
#include <QLocale>

namespace vernalo {

namespace {

const QString kListFallback = QStringLiteral("Käyttäjien haku epäonnistui.");

} // namespace

AdminPanel::AdminPanel(AuthManager *manager, DesktopServices *desktop, QObject *parent)
    : QObject(parent)
    , m_manager(manager)
    , m_desktop(desktop)
{ }

bool AdminPanel::isFeatureEnabledByEnvironment()
{
    return qgetenv("VERNALO_INAPP_ADMIN_ENABLED") == "1";
}

QList<AuthAdminUser> AdminPanel::sortedForDisplay(QList<AuthAdminUser> users)
{
    QCollator collator {QLocale()};
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    std::stable_sort(users.begin(), users.end(),
                     [&collator](const AuthAdminUser &a, const AuthAdminUser &b) {
                         return collator.compare(a.email, b.email) < 0;
                     });
    return users;
}

QVariantMap AdminPanel::rowFor(const AuthAdminUser &user)
{
    QVariantMap row = user.toJson().toVariantMap();
    row.insert(QStringLiteral("id"), user.id);
    row.insert(QStringLiteral("isActive"), user.isActive);
    row.insert(QStringLiteral("statusLabel"),
               user.isActive ? QStringLiteral("aktiivinen") : QStringLiteral("estetty"));
    row.insert(QStringLiteral("canMakeAdmin"), user.role != QLatin1String("admin"));
    row.insert(QStringLiteral("canMakeUser"), user.role != QLatin1String("user"));
    row.insert(QStringLiteral("canEnable"), !user.isActive);
    row.insert(QStringLiteral("canDisable"), user.isActive);
    return row;
}

void AdminPanel::setAdminKey(const QString &key)
{
    if (m_adminKey == key)
        return;
    m_adminKey = key;
    Q_EMIT adminKeyChanged();
}

QVariantList AdminPanel::adminUserRows() const
{
    QVariantList rows;
    for (const AuthAdminUser &user : m_users)
        rows.append(rowFor(user));
    return rows;
}

void AdminPanel::setAdminNewUserEmail(const QString &email)
{
    if (m_newUserEmail == email)
        return;
    m_newUserEmail = email;
    Q_EMIT adminNewUserEmailChanged();
}

void AdminPanel::setAdminNewUserPassword(const QString &password)
{
    if (m_newUserPassword == password)
        return;
    m_newUserPassword = password;
    Q_EMIT adminNewUserPasswordChanged();
}

void AdminPanel::setAdminNewUserRole(const QString &role)
{
    if (m_newUserRole == role)
        return;
    m_newUserRole = role;
    Q_EMIT adminNewUserRoleChanged();
}

void AdminPanel::prepareForDisplay(bool featureEnabled)
{
    if (!m_manager)
        return;
    if (!featureEnabled) {
        m_manager->clearAdminKey();
        setAdminKey({});
    } else if (m_adminKey.isEmpty()) {
        setAdminKey(m_manager->loadStoredAdminKey());
    }
}

void AdminPanel::saveKey()
{
    const QString key = m_adminKey.trimmed();
    if (key.isEmpty() || !m_manager) {
        setError(QStringLiteral("Syötä admin-avain."));
        setMessage({});
    } else {
        m_manager->saveAdminKey(key);
        setAdminKey(key);
        setMessage(QStringLiteral("Admin-avain tallennettu tähän laitteeseen."));
        setError({});
    }
    Q_EMIT actionFinished();
}

void AdminPanel::clearKey()
{
    if (m_manager)
        m_manager->clearAdminKey();
    setAdminKey({});
    setMessage(QStringLiteral("Admin-avain poistettu tästä laitteesta."));
    setError({});
    Q_EMIT actionFinished();
}

void AdminPanel::loadUsers()
{
    if (!m_running)
        runLoadUsers();
}

void AdminPanel::createUser()
{
    if (!m_running)
        runCreateUser();
}

void AdminPanel::setUserRole(qint64 userID, const QString &role)
{
    if (!m_running)
        runSetRole(userID, role);
}

void AdminPanel::setUserEnabled(qint64 userID, bool enabled)
{
    if (!m_running)
        runSetEnabled(userID, enabled);
}

void AdminPanel::resetUserPassword(qint64 userID)
{
    if (!m_running)
        runResetPassword(userID);
}

void AdminPanel::deleteUser(qint64 userID)
{
    if (!m_running)
        runDeleteUser(userID);
}

std::optional<QString> AdminPanel::requireKey()
{
    const QString key = m_adminKey.trimmed();
    if (key.isEmpty() || !m_manager) {
        setError(QStringLiteral("Syötä admin-avain."));
        setMessage({});
        return std::nullopt;
    }
    return key;
}

void AdminPanel::keepKey(const QString &key)
{
    // The key proved itself; only now is it worth keeping.
    m_manager->saveAdminKey(key);
    setAdminKey(key);
}

void AdminPanel::reset()
{
    ++m_epoch;
    m_running = false;
    setAdminKey({});
    setUsers({});
    setMessage({});
    setError({});
    setAdminNewUserEmail({});
    setAdminNewUserPassword({});
    setAdminNewUserRole(QStringLiteral("user"));
    setBusy(false);
}

void AdminPanel::finish()
{
    m_running = false;
    Q_EMIT actionFinished();
}

QCoro::Task<> AdminPanel::runLoadUsers()
{
    QPointer<AdminPanel> self(this);
    m_running = true;
    const std::optional<QString> key = requireKey();
    if (!key) {
        finish();
        co_return;
    }
    setBusy(true);
    setMessage({});
    setError({});
    const quint64 epoch = m_epoch;
    const AuthResult<QList<AuthAdminUser>> result = co_await m_manager->adminListUsers(*key);
    if (!self || epoch != m_epoch)
        co_return;
    if (!m_manager) {
        setBusy(false);
        finish();
        co_return;
    }
    if (result) {
        keepKey(*key);
        setUsers(sortedForDisplay(result.value()));
        setError({});
        setMessage(QStringLiteral("Käyttäjät haettu."));
    } else {
        setMessage({});
        setError(result.failure().description(kListFallback));
    }
    setBusy(false);
    finish();
}

QCoro::Task<> AdminPanel::runCreateUser()
{
    m_running = true;
    const std::optional<QString> key = requireKey();
    if (!key) {
        finish();
        co_return;
    }
    const QString email = m_newUserEmail.trimmed().toLower();
    const QString password = m_newUserPassword.trimmed();
    if (email.isEmpty() || password.isEmpty()) {
        setError(QStringLiteral("Syötä uuden käyttäjän sähköposti ja salasana."));
        setMessage({});
        finish();
        co_return;
    }
    Action action;
    AuthManager *manager = m_manager;
    const QString role = m_newUserRole;
    action.request = [manager, email, password, role](const QString &adminKey) {
        return manager->adminCreateUser(email, password, role, adminKey);
    };
    action.successMessage = QStringLiteral("Käyttäjä luotu: ") + email;
    action.fallback = QStringLiteral("Käyttäjän luonti epäonnistui.");
    action.reloadAfter = true;
    action.onSuccess = [this]() {
        setAdminNewUserEmail({});
        setAdminNewUserPassword({});
    };
    co_await perform(*key, action);
}

QCoro::Task<> AdminPanel::runSetRole(qint64 userID, QString role)
{
    m_running = true;
    const std::optional<QString> key = requireKey();
    if (!key) {
        finish();
        co_return;
    }
    Action action;
    AuthManager *manager = m_manager;
    action.request = [manager, userID, role](const QString &adminKey) {
        return manager->adminSetUserRole(userID, role, adminKey);
    };
    action.successMessage = QStringLiteral("Rooli päivitetty.");
    action.fallback = QStringLiteral("Roolin päivitys epäonnistui.");
    action.reloadAfter = true;
    co_await perform(*key, action);
}

QCoro::Task<> AdminPanel::runSetEnabled(qint64 userID, bool enabled)
{
    m_running = true;
    const std::optional<QString> key = requireKey();
    if (!key) {
        finish();
        co_return;
    }
    Action action;
    AuthManager *manager = m_manager;
    action.request = [manager, userID, enabled](const QString &adminKey) {
        return manager->adminSetUserEnabled(userID, enabled, adminKey);
    };
    action.successMessage =
        enabled ? QStringLiteral("Käyttäjä aktivoitu.") : QStringLiteral("Käyttäjä estetty.");
    action.fallback = QStringLiteral("Käyttäjän tilan muutos epäonnistui.");
    co_await perform(*key, action);
}

QCoro::Task<> AdminPanel::runResetPassword(qint64 userID)
{
    QPointer<AdminPanel> self(this);
    m_running = true;
    const std::optional<QString> key = requireKey();
    if (!key) {
        finish();
        co_return;
    }
    m_desktop->bringToFront();
    TextPromptRequest prompt;
    prompt.title = QStringLiteral("Nollaa salasana");
    prompt.informativeText = QStringLiteral("Anna käyttäjälle uusi salasana.");
    prompt.placeholder = QStringLiteral("Uusi salasana");
    prompt.secure = true;
    const std::optional<QString> answer = co_await m_desktop->promptText(prompt);
    if (!self)
        co_return;
    if (!m_manager) {
        setBusy(false);
        finish();
        co_return;
    }
    const QString password = answer ? answer->trimmed() : QString();
    if (password.isEmpty()) {
        finish();
        co_return;
    }
    Action action;
    AuthManager *manager = m_manager;
    action.request = [manager, userID, password](const QString &adminKey) {
        return manager->adminResetPassword(userID, password, adminKey);
    };
    action.successMessage = QStringLiteral("Salasana nollattu.");
    action.fallback = QStringLiteral("Salasanan nollaus epäonnistui.");
    co_await perform(*key, action);
}

QCoro::Task<> AdminPanel::runDeleteUser(qint64 userID)
{
    QPointer<AdminPanel> self(this);
    m_running = true;
    const std::optional<QString> key = requireKey();
    if (!key) {
        finish();
        co_return;
    }
    m_desktop->bringToFront();
    ConfirmRequest confirmation;
    confirmation.title = QStringLiteral("Poista käyttäjä");
    confirmation.message =
        QStringLiteral("Käyttäjä poistetaan käytöstä ja sen sessiot suljetaan. Jatketaanko?");
    confirmation.acceptButton = QStringLiteral("Jatka");
    confirmation.cancelButton = QStringLiteral("Peruuta");
    confirmation.destructive = true;
    const bool confirmed = co_await m_desktop->confirm(confirmation);
    if (!self)
        co_return;
    if (!m_manager) {
        setBusy(false);
        finish();
        co_return;
    }
    if (!confirmed) {
        finish();
        co_return;
    }
    Action action;
    AuthManager *manager = m_manager;
    action.request = [manager, userID](const QString &adminKey) {
        return manager->adminDeleteUser(userID, adminKey);
    };
    action.successMessage = QStringLiteral("Käyttäjä poistettu.");
    action.fallback = QStringLiteral("Käyttäjän poisto epäonnistui.");
    action.reloadAfter = true;
    co_await perform(*key, action);
}

QCoro::Task<> AdminPanel::perform(QString key, Action action)
{
    QPointer<AdminPanel> self(this);
    setBusy(true);
    setMessage({});
    setError({});
    const quint64 epoch = m_epoch;
    const AuthResult<> result = co_await action.request(key);
    if (!self || epoch != m_epoch)
        co_return;
    if (!m_manager) {
        setBusy(false);
        finish();
        co_return;
    }
    if (!result) {
        setBusy(false);
        setMessage({});
        setError(result.failure().description(action.fallback));
        finish();
        co_return;
    }
    keepKey(key);
    setError({});
    setMessage(action.successMessage);
    if (action.onSuccess)
        action.onSuccess();
    if (action.reloadAfter) {
        co_await reloadQuietly(key);
        if (!self || epoch != m_epoch)
            co_return;
    }
    setBusy(false);
    finish();
}

QCoro::Task<> AdminPanel::reloadQuietly(QString key)
{
    QPointer<AdminPanel> self(this);
    if (!m_manager)
        co_return;
    // The action's own message stays; only a failed reload adds an error line.
    const quint64 epoch = m_epoch;
    const AuthResult<QList<AuthAdminUser>> result = co_await m_manager->adminListUsers(key);
    if (!self || epoch != m_epoch)
        co_return;
    if (result)
        setUsers(sortedForDisplay(result.value()));
    else
        setError(result.failure().description(kListFallback));
}

void AdminPanel::setUsers(QList<AuthAdminUser> users)
{
    if (m_users == users)
        return;
    m_users = std::move(users);
    Q_EMIT adminUsersChanged();
}

void AdminPanel::setMessage(const QString &message)
{
    if (m_message == message)
        return;
    m_message = message;
    Q_EMIT adminMessageChanged();
}

void AdminPanel::setError(const QString &error)
{
    if (m_error == error)
        return;
    m_error = error;
    Q_EMIT adminErrorChanged();
}

void AdminPanel::setBusy(bool busy)
{
    if (m_busy == busy)
        return;
    m_busy = busy;
    Q_EMIT adminBusyChanged();
}

} // namespace vernalo
