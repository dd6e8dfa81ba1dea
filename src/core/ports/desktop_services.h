#pragma once

#include <optional>
#include <qcoro/qcorotask.h>
#include <QString>
#include <QStringList>
#include <QUrl>

namespace vernalo {

// A modal question with one text field.
struct TextPromptRequest
{
    QString title;
    QString informativeText;
    QString initialText;
    QString placeholder;
    bool secure = false; // masked input for keys and passwords
    QString acceptButton = QStringLiteral("Tallenna");
    QString cancelButton = QStringLiteral("Peruuta");
};

// A yes/no question; `destructive` marks the accept button as dangerous.
struct ConfirmRequest
{
    QString title;
    QString message;
    QString acceptButton = QStringLiteral("OK");
    QString cancelButton = QStringLiteral("Peruuta");
    bool destructive = false;
};

struct SaveDialogRequest
{
    QString title;
    QString suggestedFileName;
    QString directory; // empty: the dialog's own choice
    QStringList nameFilters; // e.g. "TXT (*.txt)"
};

// What the core needs from the desktop. The Qt implementation lives in src/platform/desktop;
// tests script the answers with FakeDesktopServices.
class DesktopServices
{
public:
    virtual ~DesktopServices() = default;

    // The trimmed-or-not text the user accepted, or no value when cancelled.
    virtual QCoro::Task<std::optional<QString>> promptText(TextPromptRequest request) = 0;
    virtual QCoro::Task<bool> confirm(ConfirmRequest request) = 0;
    virtual QCoro::Task<> showMessage(QString title, QString message) = 0;
    // The chosen path, or no value when cancelled.
    virtual QCoro::Task<std::optional<QString>> chooseSaveFile(SaveDialogRequest request) = 0;

    // Plain text on the clipboard; no value when the clipboard holds no text.
    virtual std::optional<QString> clipboardText() = 0;
    virtual void setClipboardText(const QString &text) = 0;

    virtual bool openUrl(const QUrl &url) = 0;
    // Shows the file selected in the file manager (or at least its folder).
    virtual bool revealInFolder(const QString &path) = 0;
    // The desktop's sound settings, where capture devices and access are managed.
    virtual bool openSoundSettings() = 0;
    virtual void bringToFront() = 0;
    // Starts a new instance of the program and quits this one; when the new instance cannot
    // start, this one keeps running and the reason is returned.
    virtual std::optional<QString> relaunch() = 0;
};

} // namespace vernalo
