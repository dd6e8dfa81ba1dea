#pragma once

#include "wire/session_records.h"

#include <optional>
#include <QByteArray>
#include <QDateTime>
#include <QJsonObject>
#include <QString>

namespace vernalo {

// The settings part of a diagnostics record. The API key is only ever held masked.
struct DiagnosticConfigSnapshot
{
    QString baseURL;
    QString apiKeyMasked;
    QString updateManifestURL;
    QString defaultLanguage;
    QString defaultModel;
    bool allowSystemFallback = true;
    QString mixedPreset;
    double mixedMicGain = 1.0;
    double mixedSystemGain = 1.0;
    bool mixedAutoDuckEnabled = true;
    double mixedDuckingStrength = 0.0;
    bool mixedLimiterEnabled = true;

    QJsonObject toJson() const;
};

// The live recording and audio supervision state at the moment of the snapshot.
struct DiagnosticRuntimeSnapshot
{
    QString language;
    QString sttModel;
    QString inputMode;
    QString micLabel;
    QString systemDisplay;
    QString systemApplication;
    bool isStartingRecording = false;
    bool isRecording = false;
    bool isResumingRecording = false;
    bool isPaused = false;
    qint64 audioFramesSent = 0;
    double outgoingAudioLevel = 0;
    double outgoingAudioPeak = 0;
    qint64 micFramesSeen = 0;
    double micAudioLevel = 0;
    double micAudioPeak = 0;
    qint64 systemRawSamplesSeen = 0;
    qint64 systemFramesSeen = 0;
    double systemAudioLevel = 0;
    double systemAudioPeak = 0;
    qint64 rawWithoutPCMStreak = 0;
    bool hasAttemptedSystemFallback = false;
    bool hasAttemptedMixedMicrophoneRestart = false;
    bool hasAttemptedMicrophoneDeviceFallback = false;

    QJsonObject toJson() const;
};

// What support receives: settings, live state, the server's view of the session when it could
// be fetched, and the tail of the program's log.
struct DiagnosticExportPayload
{
    QDateTime createdAt;
    QString sessionId;
    DiagnosticConfigSnapshot config;
    DiagnosticRuntimeSnapshot runtime;
    std::optional<SessionMetaResponse> sessionMeta;
    std::optional<ServerTranscriptResponse> transcript;
    QString logTail;

    QJsonObject toJson() const;
};

// How much of the log goes along, both in the record and as its own file.
inline constexpr qint64 kDiagnosticLogTailBytes = 240000;

// "" for no key, one bullet per character below 9 characters, otherwise the first and last 4
// characters around eight bullets: enough to tell keys apart, never enough to use one.
QString apiKeyMasked(const QString &apiKey);

// Indented UTF-8 JSON with the keys of every object in alphabetical order.
QByteArray encodeDiagnosticJson(const QJsonObject &object);

// "yyyyMMdd-HHmmss" of the local time, as every diagnostics file name carries it.
QString diagnosticFileTimestamp(const QDateTime &time);

// Lower case; every run of characters other than a-z, 0-9 and "-" becomes one "-"; "-" trimmed
// from both ends; "fallback" when nothing is left.
QString diagnosticReasonSlug(const QString &reason);

} // namespace vernalo
