// The user's output and settings actions: the address and key prompts and their defaults, the
// API key from the clipboard, saving and copying the transcript, and the update check.
#include "backend/stt_api_client.h"
#include "foundation/app_log.h"
#include "foundation/build_info.h"
#include "ports/desktop_services.h"
#include "recording/transcription_view_model.h"
#include "sessions/transcript_export_writer.h"
#include "updates/semantic_version.h"
#include "updates/update_checker.h"

#include <QPointer>

namespace vernalo {

namespace {

TextPromptRequest promptFor(int setting, const STTConfiguration &config)
{
    TextPromptRequest request;
    switch (setting) {
    case 0:
        request.title = QStringLiteral("Backend URL");
        request.informativeText = QStringLiteral("Syötä STT-palvelun URL.");
        request.initialText = config.baseURL;
        request.placeholder = QStringLiteral("https://...");
        break;
    case 1:
        request.title = QStringLiteral("API Key");
        request.informativeText = QStringLiteral("Syötä x-api-key.");
        request.initialText = config.apiKey;
        request.placeholder = QStringLiteral("x-api-key");
        request.secure = true;
        break;
    default:
        request.title = QStringLiteral("Päivitysfeed URL");
        request.informativeText =
            QStringLiteral("Syötä päivitysmanifestin osoite (latest-linux.json).");
        request.initialText = config.updateManifestURL;
        request.placeholder = QStringLiteral("https://.../latest-linux.json");
        break;
    }
    return request;
}

} // namespace

void TranscriptionViewModel::promptForBackendURL()
{
    runSettingPrompt(PromptedSetting::BackendURL);
}

void TranscriptionViewModel::promptForAPIKey()
{
    runSettingPrompt(PromptedSetting::APIKey);
}

void TranscriptionViewModel::promptForUpdateManifestURL()
{
    runSettingPrompt(PromptedSetting::UpdateManifestURL);
}

QCoro::Task<> TranscriptionViewModel::runSettingPrompt(PromptedSetting setting)
{
    QPointer<TranscriptionViewModel> self(this);
    m_desktop->bringToFront();
    const TextPromptRequest request = promptFor(static_cast<int>(setting), currentConfig());
    const std::optional<QString> answer = co_await m_desktop->promptText(request);
    if (!self || !answer)
        co_return;
    storePromptedSetting(setting, answer->trimmed());
}

void TranscriptionViewModel::storePromptedSetting(PromptedSetting setting, const QString &value)
{
    switch (setting) {
    case PromptedSetting::BackendURL:
        currentConfig().baseURL = value;
        break;
    case PromptedSetting::APIKey:
        currentConfig().apiKey = value;
        break;
    case PromptedSetting::UpdateManifestURL:
        currentConfig().updateManifestURL = value;
        break;
    }
    saveConfig(true);
}

void TranscriptionViewModel::useDefaultBackendURL()
{
    storePromptedSetting(PromptedSetting::BackendURL, buildinfo::defaultBackendURL());
}

void TranscriptionViewModel::useDefaultSharedAPIKey()
{
    storePromptedSetting(PromptedSetting::APIKey, buildinfo::defaultSharedAPIKey());
}

void TranscriptionViewModel::useDefaultUpdateManifestURL()
{
    storePromptedSetting(PromptedSetting::UpdateManifestURL, buildinfo::defaultUpdateManifestURL());
}

void TranscriptionViewModel::useAPIKeyFromClipboard()
{
    const QString key = m_desktop->clipboardText().value_or(QString()).trimmed();
    if (key.isEmpty()) {
        setStatusText(QStringLiteral("Leikepöydällä ei ole API-avainta"));
        return;
    }
    storePromptedSetting(PromptedSetting::APIKey, key);
}

void TranscriptionViewModel::saveTranscript()
{
    if (!canSave())
        return;
    runSaveTranscript();
}

QCoro::Task<> TranscriptionViewModel::runSaveTranscript()
{
    QPointer<TranscriptionViewModel> self(this);
    TranscriptSnapshot snapshot;
    snapshot.sessionId = m_sessionId;
    snapshot.language = m_settings->language();
    snapshot.sttModel = m_settings->sttModel();
    snapshot.segments = m_segments->segments();
    const ExportOutcome outcome = co_await saveTranscriptWithDialog(
        m_desktop, snapshot, m_settings->exportFormat(), isRecording());
    if (!self)
        co_return;
    if (!outcome.detail.isEmpty())
        AppLog::write(QStringLiteral("Transcript save failed: ") + outcome.detail);
    if (outcome.changesStatus())
        setStatusText(outcome.statusText);
}

void TranscriptionViewModel::copyTranscriptToClipboard()
{
    const ExportOutcome outcome =
        vernalo::copyTranscriptToClipboard(*m_desktop, m_segments->segments());
    if (outcome.changesStatus())
        setStatusText(outcome.statusText);
}

void TranscriptionViewModel::copySessionIdToClipboard()
{
    const ExportOutcome outcome = vernalo::copySessionIdToClipboard(*m_desktop, m_sessionId);
    if (outcome.changesStatus())
        setStatusText(outcome.statusText);
}

int TranscriptionViewModel::compareSemanticVersion(const QString &a, const QString &b) const
{
    return vernalo::compareSemanticVersion(a, b);
}

QString TranscriptionViewModel::currentAppVersion() const
{
    return m_runningVersion.isEmpty() ? UpdateChecker::currentAppVersion() : m_runningVersion;
}

void TranscriptionViewModel::checkForUpdates()
{
    runUpdateCheck(currentConfig().updateManifestURL);
}

QCoro::Task<> TranscriptionViewModel::runUpdateCheck(QString manifestAddress)
{
    QPointer<TranscriptionViewModel> self(this);
    // Each check has its own checker, so two checks in flight stay independent.
    UpdateChecker checker(m_apiClient, m_desktop, currentAppVersion());
    auto onStatus = [self](const QString &text) {
        if (self)
            self->setStatusText(text);
    };
    const UpdateCheckResult result = co_await checker.check(manifestAddress, onStatus);
    if (!self)
        co_return;
    setStatusText(result.statusText);
}

} // namespace vernalo
