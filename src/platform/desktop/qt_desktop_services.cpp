#include "desktop/qt_desktop_services.h"

#include "desktop/sound_settings.h"
#include "foundation/app_log.h"

#include <QClipboard>
#include <QCoreApplication>
#include <qcoro/qcorosignal.h>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDesktopServices>
#include <QFileInfo>
#include <QGuiApplication>
#include <QProcess>
#include <QStandardPaths>

namespace vernalo {

QtDesktopServices::QtDesktopServices(QObject *parent)
    : QObject(parent)
{ }

QCoro::Task<QtDesktopServices::Answer> QtDesktopServices::ask(QString kind, QVariantMap fields)
{
    const int id = m_nextId++;
    ++m_pending;
    // A host may answer synchronously from the signal handler: the awaiter then does not wait.
    Q_EMIT dialogRequested(id, kind, fields);
    const Answer answer = co_await AnswerAwaiter {this, id};
    --m_pending;
    co_return answer;
}

void QtDesktopServices::respond(int requestId, bool accepted, const QString &value)
{
    if (requestId <= 0 || requestId >= m_nextId || m_answers.contains(requestId))
        return;
    m_answers.insert(requestId, Answer {accepted, value});
    Q_EMIT answered(requestId, accepted, value);
    if (const std::coroutine_handle<> waiting = m_waiting.take(requestId))
        waiting.resume();
}

QCoro::Task<std::optional<QString>> QtDesktopServices::promptText(TextPromptRequest request)
{
    QVariantMap fields {{QStringLiteral("title"), request.title},
                        {QStringLiteral("informativeText"), request.informativeText},
                        {QStringLiteral("initialText"), request.initialText},
                        {QStringLiteral("placeholder"), request.placeholder},
                        {QStringLiteral("secure"), request.secure},
                        {QStringLiteral("acceptButton"), request.acceptButton},
                        {QStringLiteral("cancelButton"), request.cancelButton}};
    bringToFront();
    const Answer answer = co_await ask(QStringLiteral("prompt"), fields);
    if (!answer.accepted)
        co_return std::nullopt;
    co_return answer.value;
}

QCoro::Task<bool> QtDesktopServices::confirm(ConfirmRequest request)
{
    QVariantMap fields {{QStringLiteral("title"), request.title},
                        {QStringLiteral("message"), request.message},
                        {QStringLiteral("acceptButton"), request.acceptButton},
                        {QStringLiteral("cancelButton"), request.cancelButton},
                        {QStringLiteral("destructive"), request.destructive}};
    const Answer answer = co_await ask(QStringLiteral("confirm"), fields);
    co_return answer.accepted;
}

QCoro::Task<> QtDesktopServices::showMessage(QString title, QString message)
{
    QVariantMap fields {{QStringLiteral("title"), title}, {QStringLiteral("message"), message}};
    co_await ask(QStringLiteral("message"), fields);
}

QCoro::Task<std::optional<QString>> QtDesktopServices::chooseSaveFile(SaveDialogRequest request)
{
    QString directory = request.directory;
    if (directory.isEmpty())
        directory = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    QVariantMap fields {{QStringLiteral("title"), request.title},
                        {QStringLiteral("suggestedFileName"), request.suggestedFileName},
                        {QStringLiteral("directory"), QUrl::fromLocalFile(directory).toString()},
                        {QStringLiteral("nameFilters"), request.nameFilters}};
    const Answer answer = co_await ask(QStringLiteral("save"), fields);
    if (!answer.accepted || answer.value.isEmpty())
        co_return std::nullopt;
    // File dialogs answer with URLs; the core works with local paths.
    const QUrl url(answer.value);
    co_return url.isLocalFile() ? url.toLocalFile() : answer.value;
}

std::optional<QString> QtDesktopServices::clipboardText()
{
    const QClipboard *clipboard = QGuiApplication::clipboard();
    if (!clipboard)
        return std::nullopt;
    const QString text = clipboard->text();
    if (text.isNull())
        return std::nullopt;
    return text;
}

void QtDesktopServices::setClipboardText(const QString &text)
{
    if (QClipboard *clipboard = QGuiApplication::clipboard())
        clipboard->setText(text);
}

bool QtDesktopServices::openUrl(const QUrl &url)
{
    return QDesktopServices::openUrl(url);
}

bool QtDesktopServices::revealInFolder(const QString &path)
{
    // The freedesktop file-manager interface selects the file; without one, open its folder.
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.FileManager1"),
        QStringLiteral("/org/freedesktop/FileManager1"),
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowItems"));
    call << QStringList {QUrl::fromLocalFile(path).toString()} << QString();
    const QDBusMessage reply = QDBusConnection::sessionBus().call(call, QDBus::Block, 3000);
    if (reply.type() == QDBusMessage::ReplyMessage)
        return true;
    return QDesktopServices::openUrl(QUrl::fromLocalFile(QFileInfo(path).absolutePath()));
}

bool QtDesktopServices::openSoundSettings()
{
    const auto command = soundSettingsCommand(
        [](const QString &program) { return QStandardPaths::findExecutable(program); });
    if (!command)
        return false;
    return QProcess::startDetached(command->program, command->arguments);
}

void QtDesktopServices::bringToFront()
{
    Q_EMIT frontRequested();
}

std::optional<QString> QtDesktopServices::relaunch()
{
    QProcess process;
    process.setProgram(QCoreApplication::applicationFilePath());
    process.setArguments(QCoreApplication::arguments().mid(1));
    if (process.startDetached()) {
        QCoreApplication::quit();
        return std::nullopt;
    }
    AppLog::write(QStringLiteral("relaunch failed program=%1 error=%2")
                      .arg(QCoreApplication::applicationFilePath(), process.errorString()));
    return process.errorString();
}

} // namespace vernalo
