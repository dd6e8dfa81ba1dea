#pragma once

#include "ports/desktop_services.h"

#include <QList>
#include <QQueue>
#include <QStringList>
#include <QUrl>

namespace vernalo::test {

// DesktopServices with scripted answers. Each prompt, confirmation and save dialog takes the
// next queued answer (cancel when none is queued) and records the request it was shown.
class FakeDesktopServices final : public DesktopServices
{
public:
    QCoro::Task<std::optional<QString>> promptText(TextPromptRequest request) override;
    QCoro::Task<bool> confirm(ConfirmRequest request) override;
    QCoro::Task<> showMessage(QString title, QString message) override;
    QCoro::Task<std::optional<QString>> chooseSaveFile(SaveDialogRequest request) override;

    std::optional<QString> clipboardText() override { return clipboard; }
    void setClipboardText(const QString &text) override { clipboard = text; }

    bool openUrl(const QUrl &url) override;
    bool revealInFolder(const QString &path) override;
    bool openSoundSettings() override;
    void bringToFront() override { ++frontCount; }
    std::optional<QString> relaunch() override
    {
        ++relaunchCount;
        return relaunchError;
    }

    // Scripted answers, consumed in order.
    QQueue<std::optional<QString>> promptAnswers;
    QQueue<bool> confirmAnswers;
    QQueue<std::optional<QString>> saveAnswers;
    bool openSucceeds = true;

    // What the code under test asked for.
    QList<TextPromptRequest> prompts;
    QList<ConfirmRequest> confirmations;
    QList<QPair<QString, QString>> messages;
    QList<SaveDialogRequest> saveDialogs;
    QList<QUrl> openedUrls;
    QStringList revealedPaths;
    int soundSettingsOpened = 0;
    int frontCount = 0;
    int relaunchCount = 0;
    std::optional<QString> relaunchError;
    std::optional<QString> clipboard;
};

} // namespace vernalo::test
