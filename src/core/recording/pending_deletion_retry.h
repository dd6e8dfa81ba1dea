#pragma once

#include <chrono>
#include <qcoro/qcorotask.h>
#include <QObject>
#include <QPointer>

namespace vernalo {

class Clock;
class SecureSettings;
class STTAPIClient;
class Timer;
class TranscriptionViewModel;

// Sessions deleted locally whose server deletion failed are asked for again until the server
// confirms (a 404 means it is already gone), so a deleted transcript never stays on the server.
// The list survives restarts in the settings; it is retried at sign-in, at start-up and then
// periodically while anything is left.
class PendingDeletionRetry : public QObject
{
    Q_OBJECT
public:
    static constexpr std::chrono::minutes kRetryInterval {5};

    PendingDeletionRetry(TranscriptionViewModel *controller, SecureSettings *settings,
                         STTAPIClient *api, Clock *clock, QObject *parent = nullptr);

    // Tries every pending deletion now; ignored while a pass runs or nobody is signed in.
    void retryNow();

Q_SIGNALS:
    void passFinished();

private:
    QCoro::Task<> runPass();
    void forget(const QString &id);

    QPointer<TranscriptionViewModel> m_controller;
    SecureSettings *m_settings;
    STTAPIClient *m_api;
    Timer *m_timer;
    bool m_running = false;
};

} // namespace vernalo
