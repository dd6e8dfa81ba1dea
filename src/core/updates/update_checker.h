#pragma once

#include "wire/app_update_manifest.h"

#include <functional>
#include <optional>
#include <qcoro/qcorotask.h>
#include <QString>
#include <QUrl>

namespace vernalo {

class DesktopServices;
class STTAPIClient;

struct UpdateCheckResult
{
    enum class Outcome { missingAddress, failed, upToDate, updateAvailable };

    Outcome outcome = Outcome::failed;
    QString statusText;
    std::optional<AppUpdateManifest> manifest;
    // The download page handed to the desktop, when one was.
    std::optional<QUrl> openedURL;
};

// The update check behind "Tarkista päivitykset": fetches the manifest, compares its version
// with the running one, and opens the download page of a newer version in the browser. Nothing
// is downloaded or installed by the program itself.
class UpdateChecker
{
public:
    // Pointers are not owned and must outlive every check.
    UpdateChecker(STTAPIClient *client, DesktopServices *desktop,
                  QString runningVersion = currentAppVersion());

    // The version of this build, "0.0.0" when the build did not record one.
    static QString currentAppVersion();

    // `onStatus` receives the progress line before the fetch starts; the result carries the
    // final status line. Never throws.
    QCoro::Task<UpdateCheckResult> check(QString manifestAddress,
                                         std::function<void(const QString &)> onStatus = {});

private:
    STTAPIClient *m_client;
    DesktopServices *m_desktop;
    QString m_runningVersion;
};

} // namespace vernalo
