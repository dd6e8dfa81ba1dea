#pragma once

#include "audio/capture_errors.h"
#include "audio/capture_permissions.h"

#include <qcoro/qcorotask.h>
#include <QObject>

namespace vernalo {

class DesktopServices;
class MicrophoneCapture;
class StatusLine;
class SystemAudioCapture;

// The capture permissions as the screens show them: the microphone's and the system audio's
// snapshots, the request buttons, the sound settings and the relaunch.
class RecordingPermissions : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QString microphonePermissionSummary READ microphonePermissionSummary NOTIFY
                   microphonePermissionChanged)
    Q_PROPERTY(QString microphonePermissionDetails READ microphonePermissionDetails NOTIFY
                   microphonePermissionChanged)
    Q_PROPERTY(bool isMicrophonePermissionGranted READ isMicrophonePermissionGranted NOTIFY
                   microphonePermissionChanged)
    Q_PROPERTY(bool canRequestMicrophonePermissionPrompt READ canRequestMicrophonePermissionPrompt
                   NOTIFY microphonePermissionChanged)
    Q_PROPERTY(bool shouldOpenMicrophoneSystemSettings READ shouldOpenMicrophoneSystemSettings
                   NOTIFY microphonePermissionChanged)
    Q_PROPERTY(bool isRequestingMicrophonePermission READ isRequestingMicrophonePermission NOTIFY
                   microphonePermissionChanged)
    Q_PROPERTY(QString systemAudioPermissionSummary READ systemAudioPermissionSummary NOTIFY
                   systemAudioPermissionChanged)
    Q_PROPERTY(QString systemAudioPermissionDetails READ systemAudioPermissionDetails NOTIFY
                   systemAudioPermissionChanged)
    Q_PROPERTY(bool isSystemAudioPermissionGranted READ isSystemAudioPermissionGranted NOTIFY
                   systemAudioPermissionChanged)
    Q_PROPERTY(bool canRequestSystemAudioPermissionPrompt READ canRequestSystemAudioPermissionPrompt
                   NOTIFY systemAudioPermissionChanged)
    Q_PROPERTY(bool shouldOpenSystemAudioSystemSettings READ shouldOpenSystemAudioSystemSettings
                   NOTIFY systemAudioPermissionChanged)
    Q_PROPERTY(bool isRequestingSystemAudioPermission READ isRequestingSystemAudioPermission NOTIFY
                   systemAudioPermissionChanged)
    Q_PROPERTY(bool shouldSuggestSystemAudioRelaunch READ shouldSuggestSystemAudioRelaunch NOTIFY
                   systemAudioPermissionChanged)
    Q_PROPERTY(bool showSystemAudioPermissionHelp READ showSystemAudioPermissionHelp NOTIFY
                   systemAudioPermissionChanged)

public:
    // None is owned; all must outlive this object.
    RecordingPermissions(MicrophoneCapture *microphone, SystemAudioCapture *systemAudio,
                         DesktopServices *desktop, StatusLine *status, QObject *parent = nullptr);

    Q_INVOKABLE void refreshMicrophonePermissionStatus(bool showStatus);
    Q_INVOKABLE void refreshSystemAudioPermissionStatus(bool showStatus,
                                                        bool activelyProbe = false);
    Q_INVOKABLE void requestMicrophonePermissionFromUI();
    Q_INVOKABLE void requestSystemAudioPermissionFromUI();
    Q_INVOKABLE void openMicrophoneSystemSettings();
    Q_INVOKABLE void openSystemAudioSystemSettings();
    Q_INVOKABLE void relaunchApplication();
    // A system-audio start the sound server refused: a fresh snapshot, the help and relaunch
    // suggestions, and the status and hint that say so.
    void applySystemAudioCaptureError(SystemAudioCaptureError::Kind kind);

    QString microphonePermissionSummary() const { return m_micPermission.summaryText; }
    QString microphonePermissionDetails() const { return m_micPermission.detailText; }
    bool isMicrophonePermissionGranted() const { return m_micPermission.isGranted; }
    bool canRequestMicrophonePermissionPrompt() const { return m_micPermission.canRequestPrompt; }
    bool shouldOpenMicrophoneSystemSettings() const
    {
        return m_micPermission.shouldOpenSystemSettings;
    }
    bool isRequestingMicrophonePermission() const { return m_isRequestingMicPermission; }
    QString systemAudioPermissionSummary() const { return m_systemPermission.summaryText; }
    QString systemAudioPermissionDetails() const { return m_systemPermission.detailText; }
    bool isSystemAudioPermissionGranted() const { return m_systemPermission.isGranted; }
    bool canRequestSystemAudioPermissionPrompt() const
    {
        return m_systemPermission.canRequestPrompt;
    }
    bool shouldOpenSystemAudioSystemSettings() const
    {
        return m_systemPermission.shouldOpenSystemSettings;
    }
    bool isRequestingSystemAudioPermission() const { return m_isRequestingSystemPermission; }
    bool shouldSuggestSystemAudioRelaunch() const { return m_shouldSuggestSystemAudioRelaunch; }
    bool showSystemAudioPermissionHelp() const { return m_showSystemAudioPermissionHelp; }

Q_SIGNALS:
    void microphonePermissionChanged();
    void systemAudioPermissionChanged();

private:
    void applyMicrophonePermissionSnapshot(const MicrophonePermissionSnapshot &snapshot);
    void applySystemAudioPermissionSnapshot(const SystemAudioPermissionSnapshot &snapshot);
    QCoro::Task<> runMicrophonePermissionRequest();
    QCoro::Task<> runSystemAudioPermissionRequest();

    MicrophoneCapture *m_microphone;
    SystemAudioCapture *m_systemAudio;
    DesktopServices *m_desktop;
    StatusLine *m_status;
    MicrophonePermissionSnapshot m_micPermission;
    bool m_isRequestingMicPermission = false;
    SystemAudioPermissionSnapshot m_systemPermission;
    bool m_isRequestingSystemPermission = false;
    bool m_shouldSuggestSystemAudioRelaunch = false;
    bool m_showSystemAudioPermissionHelp = false;
};

} // namespace vernalo
