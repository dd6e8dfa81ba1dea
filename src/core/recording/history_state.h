#pragma once

#include "recording/session_history_model.h"

#include <QObject>

namespace vernalo {

// The history card's state: the saved sessions, the chosen one, and whether a deletion or a
// crash recovery runs (the buttons wait for them).
class HistoryState : public QObject
{
    Q_OBJECT
    Q_PROPERTY(vernalo::SessionHistoryModel *sessionHistory READ model CONSTANT)
    Q_PROPERTY(QString selectedSessionHistoryId READ selectedSessionHistoryId WRITE
                   setSelectedSessionHistoryId NOTIFY selectedSessionHistoryIdChanged)
    // A deletion runs: of one session, or of every listed one.
    Q_PROPERTY(bool isDeletingSessions READ isDeletingSessions NOTIFY deletionStateChanged)
    Q_PROPERTY(bool isDeletingAllSessions READ isDeletingAllSessions NOTIFY deletionStateChanged)
    Q_PROPERTY(bool isCrashRecoveryRunning READ isCrashRecoveryRunning NOTIFY
                   isCrashRecoveryRunningChanged)
    // Share of the listed sessions a crash recovery run has gone through, 0 to 1.
    Q_PROPERTY(
        double crashRecoveryProgress READ crashRecoveryProgress NOTIFY crashRecoveryProgressChanged)

public:
    explicit HistoryState(QObject *parent = nullptr);

    SessionHistoryModel *model() const { return m_model; }
    QString selectedSessionHistoryId() const { return m_selectedId; }
    bool isDeletingSessions() const { return m_deletionJobs > 0; }
    bool isDeletingAllSessions() const { return m_isDeletingAll; }
    bool isCrashRecoveryRunning() const { return m_isCrashRecoveryRunning; }
    double crashRecoveryProgress() const { return m_crashRecoveryProgress; }

    void setSelectedSessionHistoryId(const QString &id);
    // One deletion starts (+1) or ends (-1); `all`: the one of every listed session.
    void changeDeletionJobs(int delta, bool all);
    void setCrashRecoveryRunning(bool running);
    void setCrashRecoveryProgress(double progress);

Q_SIGNALS:
    void selectedSessionHistoryIdChanged();
    void deletionStateChanged();
    void isCrashRecoveryRunningChanged();
    void crashRecoveryProgressChanged();

private:
    SessionHistoryModel *m_model;
    QString m_selectedId;
    int m_deletionJobs = 0;
    bool m_isDeletingAll = false;
    bool m_isCrashRecoveryRunning = false;
    double m_crashRecoveryProgress = 0;
};

} // namespace vernalo
