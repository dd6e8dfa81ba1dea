#pragma once

#include <QObject>
#include <QString>

namespace vernalo {

// What the support actions show: the audio test, memo and diagnostics runs (their buttons wait
// for them), the last diagnostics file and the memo backend's state from the connection test.
class SupportState : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool isAudioTestRunning READ isAudioTestRunning NOTIFY isAudioTestRunningChanged)
    // A memo request runs (generation may take up to 15 minutes); more than one may.
    Q_PROPERTY(bool isGeneratingSummary READ isGeneratingSummary NOTIFY isGeneratingSummaryChanged)
    // A diagnostics package or automatic diagnostics file is being made.
    Q_PROPERTY(bool isExportingDiagnostics READ isExportingDiagnostics NOTIFY
                   isExportingDiagnosticsChanged)
    Q_PROPERTY(QString lastDiagnosticsFileName READ lastDiagnosticsFileName NOTIFY
                   lastDiagnosticsFileNameChanged)
    Q_PROPERTY(
        QString memoAIBackendStatus READ memoAIBackendStatus NOTIFY memoAIBackendStatusChanged)

public:
    explicit SupportState(QObject *parent = nullptr);

    bool isAudioTestRunning() const { return m_isAudioTestRunning; }
    bool isGeneratingSummary() const { return m_summaryJobs > 0; }
    bool isExportingPackage() const { return m_isExportingPackage; }
    bool isExportingDiagnostics() const
    {
        return m_isExportingPackage || m_autoDiagnosticsJobs > 0;
    }
    // Path of the last diagnostics file written or shown; empty when none.
    QString lastDiagnosticsPath() const { return m_lastDiagnosticsPath; }
    QString lastDiagnosticsFileName() const { return m_lastDiagnosticsFileName; }
    QString memoAIBackendStatus() const { return m_memoAIBackendStatus; }

    void setAudioTestRunning(bool running);
    void changeSummaryJobs(int delta);
    void setExportingPackage(bool exporting);
    void changeAutoDiagnosticsJobs(int delta);
    void rememberDiagnosticsFile(const QString &path);
    void setMemoAIBackendStatus(const QString &status);

Q_SIGNALS:
    void isAudioTestRunningChanged();
    void isGeneratingSummaryChanged();
    void isExportingDiagnosticsChanged();
    void lastDiagnosticsFileNameChanged();
    void memoAIBackendStatusChanged();

private:
    bool m_isAudioTestRunning = false;
    int m_summaryJobs = 0;
    bool m_isExportingPackage = false;
    int m_autoDiagnosticsJobs = 0;
    QString m_lastDiagnosticsPath;
    QString m_lastDiagnosticsFileName;
    QString m_memoAIBackendStatus;
};

} // namespace vernalo
