#pragma once

#include <QObject>
#include <QPointer>
#include <QString>

namespace vernalo {

class Clock;
class OutgoingAudioPipeline;
class Timer;
class TranscriptionViewModel;

// What a person in a meeting glances at: how long the recording has run (paused time left out,
// it has its own label) and how loud each source arrives. Levels are linear 0..1 as the
// pipeline measures them; they read 0 when no recording runs.
class RecordingMonitor : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QString elapsedLabel READ elapsedLabel NOTIFY elapsedChanged)
    Q_PROPERTY(double microphoneLevel READ microphoneLevel NOTIFY levelsChanged)
    Q_PROPERTY(double systemAudioLevel READ systemAudioLevel NOTIFY levelsChanged)

public:
    RecordingMonitor(TranscriptionViewModel *controller, Clock *clock, QObject *parent = nullptr);

    QString elapsedLabel() const;
    double microphoneLevel() const;
    double systemAudioLevel() const;

Q_SIGNALS:
    void elapsedChanged();
    void levelsChanged();
    // A recording ended without the stop button: the server closed it or the connection was
    // lost. The status is the controller's line that says why.
    void endedByItself(const QString &status);

private:
    void recordingStateChanged();
    void checkHowItEnded();
    qint64 activeMs() const;

    TranscriptionViewModel *m_controller;
    Clock *m_clock;
    QPointer<OutgoingAudioPipeline> m_pipeline;
    Timer *m_ticker;
    bool m_running = false;
    bool m_paused = false;
    bool m_awaitingEndStatus = false;
    qint64 m_startedMs = 0;
    qint64 m_pausedMs = 0;
    qint64 m_pauseBeganMs = 0;
};

} // namespace vernalo
