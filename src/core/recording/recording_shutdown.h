#pragma once

#include <chrono>
#include <qcoro/qcorotask.h>
#include <QObject>
#include <QPointer>
#include <QString>

namespace vernalo {

class Clock;
class DesktopServices;
class SessionHistoryStore;
class TranscriptionViewModel;

// Ends a running recording before the user signs out or the program ends, so what was said is
// in the history. The controller's own stop runs (stream stop, final fetch, save, export);
// when the backend keeps it waiting past the limit, what is on screen is saved here instead and
// crash recovery finds the rest later.
class RecordingShutdown : public QObject
{
    Q_OBJECT
public:
    static constexpr std::chrono::milliseconds kDefaultLimit {5000};

    RecordingShutdown(TranscriptionViewModel *controller, SessionHistoryStore *history,
                      Clock *clock, DesktopServices *desktop, QObject *parent = nullptr);

    // Starting, recording, paused, resuming or stopping.
    bool isRecordingActive() const;
    // Stops and waits for the save, at most `limit`.
    QCoro::Task<> stopAndSave(std::chrono::milliseconds limit = kDefaultLimit);
    // The same from outside the event loop (the session ending, quitting): runs a local loop.
    void stopAndSaveBlocking(std::chrono::milliseconds limit = kDefaultLimit);
    // Asks first when a recording is active; true when the caller may go on (nothing was
    // running, or it is stopped and saved). `acceptButton` names what happens after the stop.
    QCoro::Task<bool> confirmThenStop(QString message, QString acceptButton);

Q_SIGNALS:
    void settled();

private:
    void saveWhatIsOnScreen();

    QPointer<TranscriptionViewModel> m_controller;
    SessionHistoryStore *m_history;
    Clock *m_clock;
    DesktopServices *m_desktop;
};

} // namespace vernalo
