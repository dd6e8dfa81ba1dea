#include "support/fake_desktop_services.h"

namespace vernalo::test {

QCoro::Task<std::optional<QString>> FakeDesktopServices::promptText(TextPromptRequest request)
{
    prompts.append(request);
    co_return promptAnswers.isEmpty() ? std::nullopt : promptAnswers.dequeue();
}

QCoro::Task<bool> FakeDesktopServices::confirm(ConfirmRequest request)
{
    confirmations.append(request);
    co_return confirmAnswers.isEmpty() ? false : confirmAnswers.dequeue();
}

QCoro::Task<> FakeDesktopServices::showMessage(QString title, QString message)
{
    messages.append({title, message});
    co_return;
}

QCoro::Task<std::optional<QString>> FakeDesktopServices::chooseSaveFile(SaveDialogRequest request)
{
    saveDialogs.append(request);
    co_return saveAnswers.isEmpty() ? std::nullopt : saveAnswers.dequeue();
}

bool FakeDesktopServices::openUrl(const QUrl &url)
{
    openedUrls.append(url);
    return openSucceeds;
}

bool FakeDesktopServices::revealInFolder(const QString &path)
{
    revealedPaths.append(path);
    return openSucceeds;
}

bool FakeDesktopServices::openSoundSettings()
{
    ++soundSettingsOpened;
    return openSucceeds;
}

} // namespace vernalo::test
