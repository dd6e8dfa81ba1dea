// Diagnostics for support: the record of settings and live state, the zip package made by hand,
// the JSON file written by itself when system audio falls back, finding, opening and showing
// the newest file, and the support message that names it.
#include "audio/microphone_capture.h"
#include "audio/outgoing_audio_pipeline.h"
#include "auth/auth_manager.h"
#include "backend/stt_api_client.h"
#include "diagnostics/diagnostics_archive.h"
#include "diagnostics/off_main_thread.h"
#include "diagnostics/secret_redaction.h"
#include "foundation/app_log.h"
#include "foundation/secure_settings.h"
#include "ports/desktop_services.h"
#include "recording/recording_permissions.h"
#include "recording/transcription_view_model.h"
#include "sessions/atomic_file.h"
#include "sessions/transcript_export_writer.h"
#include "wire/clock.h"

#include <algorithm>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QPointer>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QUrl>

namespace vernalo {

namespace {

const QString kPackagePrefix = QStringLiteral("vernalo-diagnoosi");

bool isDiagnosticsFileName(const QString &name)
{
    const QString lower = name.toLower();
    return lower.startsWith(kPackagePrefix) &&
        (lower.endsWith(QLatin1String(".zip")) || lower.endsWith(QLatin1String(".json")));
}

} // namespace

QString TranscriptionViewModel::micStatusLabel() const
{
    QString choice;
    if (m_sources->selectedInputDeviceID() == 0) {
        choice = m_sources->recommendedInputDeviceName().isEmpty()
            ? QStringLiteral("Auto")
            : QStringLiteral("Auto (suositus: %1)").arg(m_sources->recommendedInputDeviceName());
    } else {
        const auto it = std::find_if(m_sources->availableInputDevices().begin(),
                                     m_sources->availableInputDevices().end(),
                                     [this](const AudioInputDeviceOption &o) {
                                         return o.id == m_sources->selectedInputDeviceID();
                                     });
        choice = it != m_sources->availableInputDevices().end()
            ? it->name
            : QStringLiteral("Laite %1 (ei saatavilla)").arg(m_sources->selectedInputDeviceID());
    }
    const QString active = m_microphone ? m_microphone->activeInputDeviceName() : QString();
    if (!active.isEmpty())
        choice += QStringLiteral("; käytössä: ") + active;
    return choice + QStringLiteral("; ") + m_permissions->microphonePermissionSummary();
}

QString TranscriptionViewModel::selectedSystemDisplayName() const
{
    if (m_sources->selectedSystemDisplayID() == 0)
        return QStringLiteral("Auto (ensimmäinen näyttö)");
    for (const SystemAudioDisplayOption &display : m_sources->availableSystemDisplays()) {
        if (display.id == m_sources->selectedSystemDisplayID())
            return display.name;
    }
    return QStringLiteral("Näyttö %1 (ei saatavilla)").arg(m_sources->selectedSystemDisplayID());
}

DiagnosticExportPayload TranscriptionViewModel::makeDiagnosticPayload(
    const std::optional<SessionMetaResponse> &sessionMeta,
    const std::optional<ServerTranscriptResponse> &transcript) const
{
    DiagnosticExportPayload payload;
    payload.createdAt = m_clock->now();
    payload.sessionId = m_sessionId;

    DiagnosticConfigSnapshot &config = payload.config;
    config.baseURL = currentConfig().baseURL;
    config.apiKeyMasked = apiKeyMasked(currentConfig().apiKey);
    config.updateManifestURL = currentConfig().updateManifestURL;
    config.defaultLanguage = currentConfig().defaultLanguage;
    config.defaultModel = currentConfig().defaultModel;
    config.allowSystemFallback = m_settings->allowSystemFallback();
    config.mixedPreset = rawValue(m_settings->mixedPreset());
    config.mixedMicGain = m_settings->mix().micGain;
    config.mixedSystemGain = m_settings->mix().systemGain;
    config.mixedAutoDuckEnabled = m_settings->mix().autoDuckEnabled;
    config.mixedDuckingStrength = m_settings->mix().duckingStrength;
    config.mixedLimiterEnabled = m_settings->mix().limiterEnabled;

    DiagnosticRuntimeSnapshot &runtime = payload.runtime;
    runtime.language = m_settings->language();
    runtime.sttModel = m_settings->sttModel();
    runtime.inputMode = rawValue(m_settings->inputMode());
    runtime.micLabel = micStatusLabel();
    runtime.systemDisplay = selectedSystemDisplayName();
    runtime.systemApplication = m_sources->selectedSystemApplicationBundleID().isEmpty()
        ? QStringLiteral("auto")
        : m_sources->selectedSystemApplicationBundleID();
    runtime.isStartingRecording = isStartingRecording();
    runtime.isRecording = isRecording();
    runtime.isResumingRecording = isResumingRecording();
    runtime.isPaused = isPaused();
    runtime.audioFramesSent = audioFramesSent();
    runtime.outgoingAudioLevel = outgoingAudioLevel();
    runtime.outgoingAudioPeak = outgoingAudioPeak();
    runtime.micFramesSeen = m_pipeline->micFramesSeen();
    runtime.micAudioLevel = m_pipeline->micAudioLevel();
    runtime.micAudioPeak = m_pipeline->micAudioPeak();
    runtime.systemRawSamplesSeen = m_pipeline->systemRawSamplesSeen();
    runtime.systemFramesSeen = m_pipeline->systemFramesSeen();
    runtime.systemAudioLevel = m_pipeline->systemAudioLevel();
    runtime.systemAudioPeak = m_pipeline->systemAudioPeak();
    runtime.rawWithoutPCMStreak = m_health.rawWithoutPCMStreak;
    runtime.hasAttemptedSystemFallback = m_health.hasAttemptedSystemFallback;
    runtime.hasAttemptedMixedMicrophoneRestart = m_health.hasAttemptedMixedMicrophoneRestart;
    runtime.hasAttemptedMicrophoneDeviceFallback = m_health.hasAttemptedMicrophoneDeviceFallback;

    payload.sessionMeta = sessionMeta;
    payload.transcript = transcript;
    payload.logTail = AppLog::snapshot(kDiagnosticLogTailBytes);
    return payload;
}

QStringList TranscriptionViewModel::diagnosticSecrets() const
{
    QStringList secrets {currentConfig().apiKey, currentConfig().authToken.value_or(QString())};
    if (SecureSettings *settings = m_configStore->settings()) {
        for (const char *key : {AuthManager::kSessionTokenKey, AuthManager::kAdminKeyStorageKey})
            secrets.append(settings->value(QLatin1String(key)).toString());
    }
    if (m_diagnosticSecretsProvider)
        secrets.append(m_diagnosticSecretsProvider());
    return secrets;
}

QString TranscriptionViewModel::diagnosticsDirectory() const
{
    return m_autoExportDirectory.isEmpty() ? defaultAutoExportDirectory() : m_autoExportDirectory;
}

void TranscriptionViewModel::exportDiagnosticsPackage()
{
    // One package at a time: two in the same second would share the temporary zip's name.
    if (m_support->isExportingPackage())
        return;
    setStatusText(QStringLiteral("Kootaan diagnostiikka..."));
    runDiagnosticsExport(currentConfig(), m_sessionId);
}

QCoro::Task<> TranscriptionViewModel::runDiagnosticsExport(STTConfiguration config,
                                                           QString sessionId)
{
    QPointer<TranscriptionViewModel> self(this);
    m_support->setExportingPackage(true);
    std::optional<SessionMetaResponse> meta;
    std::optional<ServerTranscriptResponse> transcript;
    if (!sessionId.isEmpty()) {
        try {
            meta = co_await m_apiClient->getSessionMeta(config, sessionId);
        } catch (const std::exception &) { }
        if (!self)
            co_return;
        try {
            transcript = co_await m_apiClient->getTranscript(config, sessionId);
        } catch (const std::exception &) { }
        if (!self)
            co_return;
    }

    DiagnosticExportPayload payload = makeDiagnosticPayload(meta, transcript);
    // The server's data belongs to the session the export started with.
    payload.sessionId = sessionId;
    const QString localTranscript = transcriptText();
    const QStringList secrets = diagnosticSecrets();
    const QDateTime now = m_clock->now();
    // The package holds the transcript and the log: it is built where only this user can look.
    const QTemporaryDir workDir(QDir::tempPath() + QStringLiteral("/vernalo-diagnostics-XXXXXX"));
    const QString tempFolder = workDir.isValid() ? workDir.path() : QDir::tempPath();
    auto pack = [payload, localTranscript, secrets, now, tempFolder] {
        return DiagnosticsArchive::create(
            DiagnosticsArchive::entries(payload, localTranscript, secrets), kPackagePrefix, now,
            tempFolder);
    };
    // The work is named: g++ 12 mishandles temporaries inside a co_await expression.
    const DiagnosticsArchive::Result archive =
        co_await runOffMainThread<DiagnosticsArchive::Result>(std::move(pack));
    if (!self) {
        QFile::remove(archive.path);
        co_return;
    }
    if (!archive.ok()) {
        AppLog::write(QStringLiteral("diagnostics package failed: ") + archive.error);
        setStatusText(QStringLiteral("Diagnostiikan tallennus epäonnistui"));
        m_support->setExportingPackage(false);
        co_return;
    }

    SaveDialogRequest request;
    request.title = QStringLiteral("Tallenna diagnostiikka");
    request.suggestedFileName = QFileInfo(archive.path).fileName();
    request.nameFilters = {QStringLiteral("Zip (*.zip)")};
    const std::optional<QString> chosen = co_await m_desktop->chooseSaveFile(request);
    QFile file(archive.path);
    const bool read = file.open(QIODevice::ReadOnly);
    const QByteArray bytes = read ? file.readAll() : QByteArray();
    file.close();
    QFile::remove(archive.path);
    if (!self)
        co_return;
    m_support->setExportingPackage(false);
    if (!chosen || chosen->isEmpty()) {
        setStatusText(QStringLiteral("Diagnostiikka peruttu"));
        co_return;
    }
    // Replaced atomically: a failed copy leaves the file the user chose to overwrite intact.
    const std::optional<QString> error = read
        ? writeFileAtomically(*chosen, bytes)
        : std::optional<QString>(QStringLiteral("temporary package vanished"));
    if (error) {
        AppLog::write(
            QStringLiteral("diagnostics save failed path=%1 error=%2").arg(*chosen, *error));
        setStatusText(QStringLiteral("Diagnostiikan tallennus epäonnistui"));
        co_return;
    }
    m_support->rememberDiagnosticsFile(*chosen);
    setStatusText(QStringLiteral("Diagnostiikka tallennettu: ") +
                  m_support->lastDiagnosticsFileName());
}

void TranscriptionViewModel::autoExportFallbackDiagnostics(
    const QString &reason, const std::optional<SessionMetaResponse> &sessionMeta)
{
    // Set before the task starts, so two fallbacks in a row export once.
    if (m_health.hasAutoExportedFallbackDiagnostics)
        return;
    m_health.hasAutoExportedFallbackDiagnostics = true;
    runAutoDiagnosticsExport(diagnosticReasonSlug(reason), sessionMeta, currentConfig(),
                             m_sessionId);
}

QCoro::Task<>
TranscriptionViewModel::runAutoDiagnosticsExport(QString slug,
                                                 std::optional<SessionMetaResponse> sessionMeta,
                                                 STTConfiguration config, QString sessionId)
{
    QPointer<TranscriptionViewModel> self(this);
    m_support->changeAutoDiagnosticsJobs(+1);
    std::optional<ServerTranscriptResponse> transcript;
    if (!sessionId.isEmpty()) {
        try {
            transcript = co_await m_apiClient->getTranscript(config, sessionId);
        } catch (const std::exception &) { }
        if (!self)
            co_return;
    }
    DiagnosticExportPayload payload = makeDiagnosticPayload(sessionMeta, transcript);
    payload.sessionId = sessionId;
    const QStringList secrets = diagnosticSecrets();
    const QString folder = diagnosticsDirectory();
    const QString path = folder + QStringLiteral("/vernalo-diagnoosi-auto-") + slug + u'-' +
        diagnosticFileTimestamp(m_clock->now()) + QStringLiteral(".json");
    auto write = [payload, secrets, folder, path]() -> std::optional<QString> {
        const QByteArray json = encodeDiagnosticJson(redactSecrets(payload.toJson(), secrets));
        if (!QDir().mkpath(folder))
            return QStringLiteral("cannot create folder ") + folder;
        return writeFileAtomically(path, json);
    };
    const std::optional<QString> error =
        co_await runOffMainThread<std::optional<QString>>(std::move(write));
    if (!self)
        co_return;
    m_support->changeAutoDiagnosticsJobs(-1);
    if (error) {
        AppLog::write(QStringLiteral("auto diagnostic export failed: ") + *error);
        co_return;
    }
    AppLog::write(QStringLiteral("auto diagnostic exported path=") + path);
    m_support->rememberDiagnosticsFile(path);
    const QString name = m_support->lastDiagnosticsFileName();
    if (!diagnosticHint().isEmpty())
        setDiagnosticHint(diagnosticHint() + QStringLiteral(" (Diagnoosi: ") + name + u')');
    else
        setDiagnosticHint(QStringLiteral("Automaattinen diagnostiikka tallennettu: ") + name);
}

std::optional<QString> TranscriptionViewModel::latestDiagnosticsFromDownloads() const
{
    const QString folder = m_autoExportDirectory.isEmpty()
        ? QStandardPaths::writableLocation(QStandardPaths::DownloadLocation)
        : m_autoExportDirectory;
    if (folder.isEmpty())
        return std::nullopt;
    QFileInfoList candidates;
    for (const QFileInfo &info : QDir(folder).entryInfoList(QDir::Files)) {
        if (isDiagnosticsFileName(info.fileName()))
            candidates.append(info);
    }
    if (candidates.isEmpty())
        return std::nullopt;
    // Newest first; a file without a date counts as the oldest; within one second the name
    // (which carries the time) decides, so the choice never depends on the listing order.
    const auto newer = [](const QFileInfo &a, const QFileInfo &b) {
        const QDateTime at = a.lastModified();
        const QDateTime bt = b.lastModified();
        if (at.isValid() != bt.isValid())
            return at.isValid();
        if (at != bt)
            return at > bt;
        return a.fileName() > b.fileName();
    };
    return std::min_element(candidates.begin(), candidates.end(), newer)->absoluteFilePath();
}

std::optional<QString> TranscriptionViewModel::resolveLatestDiagnosticsPath() const
{
    if (!m_support->lastDiagnosticsPath().isEmpty() &&
        QFileInfo(m_support->lastDiagnosticsPath()).isFile())
        return m_support->lastDiagnosticsPath();
    return latestDiagnosticsFromDownloads();
}

std::optional<QString> TranscriptionViewModel::resolveLatestDiagnosticsForAction()
{
    const std::optional<QString> path = resolveLatestDiagnosticsPath();
    if (!path) {
        setStatusText(QStringLiteral("Diagnostiikkatiedostoa ei löytynyt"));
        return std::nullopt;
    }
    m_support->rememberDiagnosticsFile(*path);
    return path;
}

void TranscriptionViewModel::openLatestDiagnostics()
{
    const std::optional<QString> path = resolveLatestDiagnosticsForAction();
    if (!path)
        return;
    if (!m_desktop->openUrl(QUrl::fromLocalFile(*path))) {
        setStatusText(QStringLiteral("Tiedoston avaaminen epäonnistui: ") +
                      m_support->lastDiagnosticsFileName());
        return;
    }
    setStatusText(QStringLiteral("Avattiin: ") + m_support->lastDiagnosticsFileName());
}

void TranscriptionViewModel::revealLatestDiagnosticsInFileManager()
{
    const std::optional<QString> path = resolveLatestDiagnosticsForAction();
    if (!path)
        return;
    if (!m_desktop->revealInFolder(*path)) {
        setStatusText(QStringLiteral("Tiedostonhallinnan avaaminen epäonnistui: ") +
                      m_support->lastDiagnosticsFileName());
        return;
    }
    setStatusText(QStringLiteral("Näytetään tiedostonhallinnassa: ") +
                  m_support->lastDiagnosticsFileName());
}

void TranscriptionViewModel::copyDiagnosticsSupportTemplate()
{
    QString packageName = QStringLiteral("(ei tallennettua pakettia)");
    if (const std::optional<QString> path = resolveLatestDiagnosticsPath()) {
        m_support->rememberDiagnosticsFile(*path);
        packageName = m_support->lastDiagnosticsFileName();
    }
    static const QLocale finnish(QStringLiteral("fi_FI"));
    const QString text = QStringLiteral("Hei tuki,\n\nLiitän Vernalo-diagnoosin.\n\n- Aika: ") +
        finnish.toString(m_clock->now().toLocalTime(), QStringLiteral("dd.MM.yyyy HH:mm")) +
        QStringLiteral("\n- Sessio-ID: ") +
        (m_sessionId.isEmpty() ? QStringLiteral("-") : m_sessionId) +
        QStringLiteral("\n- Äänilähde: ") + label(m_settings->inputMode()) +
        QStringLiteral("\n- STT-malli: ") + m_settings->sttModel() +
        QStringLiteral("\n- Diagnostiikkapaketti: ") + packageName +
        QStringLiteral("\n\nKuvaus:\n[Kirjaa tähän mitä tapahtui]");
    m_desktop->setClipboardText(text);
    setStatusText(QStringLiteral("Tukiviestipohja kopioitu leikepöydälle"));
}

} // namespace vernalo
