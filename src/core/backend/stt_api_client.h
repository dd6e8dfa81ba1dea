#pragma once

#include "backend/api_client_error.h"
#include "backend/http_exchange.h"
#include "foundation/stt_configuration.h"
#include "wire/app_update_manifest.h"
#include "wire/health_response.h"
#include "wire/session_records.h"
#include "wire/summary_records.h"

#include <optional>
#include <qcoro/qcorotask.h>
#include <QList>
#include <QString>
#include <QUrl>

class QNetworkAccessManager;

namespace vernalo {

class Clock;

// The one HTTP client of the STT backend. Every operation builds one request from the current
// configuration, awaits the answer and returns its record or throws APIClientError. It holds no
// state of its own, so one instance serves the whole run.
class STTAPIClient
{
public:
    static constexpr std::chrono::milliseconds kDefaultTimeout {60000};
    static constexpr std::chrono::milliseconds kSummaryTimeout {900000};

    // Neither pointer is owned; both must outlive every call.
    STTAPIClient(QNetworkAccessManager *network, Clock *clock);

    QCoro::Task<STTSessionCreateResponse> createSession(STTConfiguration config,
                                                        STTSessionCreateRequest request);
    // Never throws: a stop is best effort, and callers rely on it returning.
    QCoro::Task<> stopSession(STTConfiguration config, QString sessionId);
    // The segments go along only when there are any.
    QCoro::Task<SummaryPayload>
    generateSummary(STTConfiguration config, QString sessionId,
                    QList<SummaryGenerateRequest::Segment> fallbackTranscriptSegments);
    // The document exactly as the server sent it.
    QCoro::Task<QByteArray> downloadSummaryDocx(STTConfiguration config, QString sessionId);
    QCoro::Task<ServerTranscriptResponse> getTranscript(STTConfiguration config, QString sessionId);
    QCoro::Task<SessionMetaResponse> getSessionMeta(STTConfiguration config, QString sessionId);
    // `limit` is clamped to 1..100; a blank status is left out.
    QCoro::Task<QList<SessionMetaResponse>> listSessions(STTConfiguration config,
                                                         std::optional<QString> status, int limit);
    QCoro::Task<> deleteSession(STTConfiguration config, QString sessionId);
    QCoro::Task<HealthResponse> health(STTConfiguration config);
    QCoro::Task<AppUpdateManifest> fetchUpdateManifest(QString urlString);

    // The address of an endpoint: scheme, host and port of the configured base address with
    // `encodedPath` in place of its path. Throws invalidBaseURL when no http(s) address results.
    static QUrl endpointURL(const QString &encodedPath, const QString &baseURL);
    // "/v1/sessions/<id><suffix>" with the ID percent-encoded as exactly one path segment.
    // Throws invalidBaseURL for an ID that cannot be one segment ("", ".", "..").
    static QString sessionPath(const QString &sessionId, const QString &suffix = QString());

private:
    HttpRequest authorizedRequest(const STTConfiguration &config, QByteArray method,
                                  const QString &encodedPath) const;
    QCoro::Task<QByteArray> exchange(HttpRequest request);

    QNetworkAccessManager *m_network;
    Clock *m_clock;
};

} // namespace vernalo
