#pragma once

#include "auth/admin_panel.h"
#include "auth/auth_manager.h"
#include "auth/change_password_flow.h"
#include "auth/password_reset_flow.h"
#include "desktop/color_scheme.h"
#include "desktop/qt_desktop_services.h"
#include "recording/capture_sources.h"
#include "recording/history_state.h"
#include "recording/recording_monitor.h"
#include "recording/recording_permissions.h"
#include "recording/recording_settings.h"
#include "recording/session_history_model.h"
#include "recording/support_state.h"
#include "recording/transcript_segment_model.h"
#include "recording/transcription_view_model.h"
#include "sessions/session_search_model.h"

#include <QtQml/qqml.h>

// The core's objects as the screens see them: typed, so bindings and qmllint know their members,
// and never made by QML (the application owns one of each).
namespace vernalo::qmltypes {

struct ForeignAuth
{
    Q_GADGET
    QML_FOREIGN(vernalo::AuthManager)
    QML_NAMED_ELEMENT(Auth)
    QML_UNCREATABLE("Owned by the application.")
};

struct ForeignDesktop
{
    Q_GADGET
    QML_FOREIGN(vernalo::QtDesktopServices)
    QML_NAMED_ELEMENT(Desktop)
    QML_UNCREATABLE("Owned by the application.")
};

struct ForeignPasswordReset
{
    Q_GADGET
    QML_FOREIGN(vernalo::PasswordResetFlow)
    QML_NAMED_ELEMENT(PasswordReset)
    QML_UNCREATABLE("Owned by the application.")
};

struct ForeignChangePassword
{
    Q_GADGET
    QML_FOREIGN(vernalo::ChangePasswordFlow)
    QML_NAMED_ELEMENT(ChangePassword)
    QML_UNCREATABLE("Owned by the application.")
};

struct ForeignAdminPanel
{
    Q_GADGET
    QML_FOREIGN(vernalo::AdminPanel)
    QML_NAMED_ELEMENT(AdminPanel)
    QML_UNCREATABLE("Owned by the application.")
};

struct ForeignTranscription
{
    Q_GADGET
    QML_FOREIGN(vernalo::TranscriptionViewModel)
    QML_NAMED_ELEMENT(Transcription)
    QML_UNCREATABLE("Owned by the application.")
};

struct ForeignRecordingPermissions
{
    Q_GADGET
    QML_FOREIGN(vernalo::RecordingPermissions)
    QML_NAMED_ELEMENT(RecordingPermissions)
    QML_UNCREATABLE("Owned by the controller.")
};

struct ForeignRecordingSettings
{
    Q_GADGET
    QML_FOREIGN(vernalo::RecordingSettings)
    QML_NAMED_ELEMENT(RecordingSettings)
    QML_UNCREATABLE("Owned by the controller.")
};

struct ForeignCaptureSources
{
    Q_GADGET
    QML_FOREIGN(vernalo::CaptureSources)
    QML_NAMED_ELEMENT(CaptureSources)
    QML_UNCREATABLE("Owned by the controller.")
};

struct ForeignHistoryState
{
    Q_GADGET
    QML_FOREIGN(vernalo::HistoryState)
    QML_NAMED_ELEMENT(HistoryState)
    QML_UNCREATABLE("Owned by the controller.")
};

struct ForeignSupportState
{
    Q_GADGET
    QML_FOREIGN(vernalo::SupportState)
    QML_NAMED_ELEMENT(SupportState)
    QML_UNCREATABLE("Owned by the controller.")
};

struct ForeignSegments
{
    Q_GADGET
    QML_FOREIGN(vernalo::TranscriptSegmentModel)
    QML_NAMED_ELEMENT(TranscriptSegments)
    QML_UNCREATABLE("Owned by the controller.")
};

struct ForeignSessionHistory
{
    Q_GADGET
    QML_FOREIGN(vernalo::SessionHistoryModel)
    QML_NAMED_ELEMENT(SessionHistory)
    QML_UNCREATABLE("Owned by the controller.")
};

struct ForeignSessionSearch
{
    Q_GADGET
    QML_FOREIGN(vernalo::SessionSearchModel)
    QML_NAMED_ELEMENT(SessionSearch)
    QML_UNCREATABLE("Owned by the application.")
};

struct ForeignRecordingMonitor
{
    Q_GADGET
    QML_FOREIGN(vernalo::RecordingMonitor)
    QML_NAMED_ELEMENT(RecordingMonitor)
    QML_UNCREATABLE("Owned by the application.")
};

struct ForeignColorScheme
{
    Q_GADGET
    QML_FOREIGN(vernalo::ColorScheme)
    QML_NAMED_ELEMENT(ColorScheme)
    QML_UNCREATABLE("Owned by the application.")
};

} // namespace vernalo::qmltypes
