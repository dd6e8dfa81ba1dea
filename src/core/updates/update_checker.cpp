#include "updates/update_checker.h"

#include "backend/api_client_error.h"
#include "backend/stt_api_client.h"
#include "foundation/build_info.h"
#include "foundation/text.h"
#include "ports/desktop_services.h"
#include "updates/semantic_version.h"

namespace vernalo {

namespace {

// Only web pages are opened: a manifest must not be able to make the desktop open a local file
// or run a handler for some other scheme.
std::optional<QUrl> downloadPage(const std::optional<QString> &text)
{
    if (!text)
        return std::nullopt;
    const QUrl url(trimmedInput(*text), QUrl::StrictMode);
    if (!url.isValid() || !(url.scheme() == u"https" || url.scheme() == u"http") ||
        url.host().isEmpty())
        return std::nullopt;
    return url;
}

} // namespace

UpdateChecker::UpdateChecker(STTAPIClient *client, DesktopServices *desktop, QString runningVersion)
    : m_client(client)
    , m_desktop(desktop)
    , m_runningVersion(std::move(runningVersion))
{ }

QString UpdateChecker::currentAppVersion()
{
    const QString version = buildinfo::version();
    return version.isEmpty() ? QStringLiteral("0.0.0") : version;
}

QCoro::Task<UpdateCheckResult> UpdateChecker::check(QString manifestAddress,
                                                    std::function<void(const QString &)> onStatus)
{
    UpdateCheckResult result;
    const QString address = trimmedInput(manifestAddress);
    if (address.isEmpty()) {
        result.outcome = UpdateCheckResult::Outcome::missingAddress;
        result.statusText = QStringLiteral("Päivitysfeed URL puuttuu");
        co_return result;
    }
    if (onStatus)
        onStatus(QStringLiteral("Tarkistetaan päivitykset..."));

    // The checker's members are read before the await only; it may be gone afterwards.
    STTAPIClient *client = m_client;
    DesktopServices *desktop = m_desktop;
    const QString running = m_runningVersion;

    std::optional<APIClientError> failure;
    try {
        result.manifest = co_await client->fetchUpdateManifest(address);
    } catch (const APIClientError &error) {
        failure = error;
    }
    if (failure) {
        result.outcome = UpdateCheckResult::Outcome::failed;
        result.statusText =
            QStringLiteral("Päivitystarkistus epäonnistui: ") + failure->localizedDescription();
        co_return result;
    }

    const QString latest = result.manifest->version;
    if (compareSemanticVersion(latest, running) <= 0) {
        result.outcome = UpdateCheckResult::Outcome::upToDate;
        result.statusText = QStringLiteral("Ei uusia päivityksiä (versio %1)").arg(running);
        co_return result;
    }
    result.outcome = UpdateCheckResult::Outcome::updateAvailable;
    if (const auto page = downloadPage(result.manifest->downloadURL)) {
        result.statusText = QStringLiteral("Päivitys saatavilla: %1 (avaa lataus)").arg(latest);
        result.openedURL = page;
        if (desktop)
            desktop->openUrl(*page);
    } else {
        result.statusText = QStringLiteral("Päivitys saatavilla: %1").arg(latest);
    }
    co_return result;
}

} // namespace vernalo
