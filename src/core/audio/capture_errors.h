#pragma once

#include <exception>
#include <QByteArray>
#include <QString>

namespace vernalo {

// Thrown by MicrophoneCapture; the description is the Finnish text shown to the user.
class MicrophoneCaptureError : public std::exception
{
public:
    enum class Kind { PermissionDenied, EngineNotReady };

    explicit MicrophoneCaptureError(Kind kind);

    Kind kind() const { return m_kind; }
    QString errorDescription() const;
    const char *what() const noexcept override { return m_what.constData(); }

private:
    Kind m_kind;
    QByteArray m_what;
};

// Thrown by SystemAudioCapture; the description is the Finnish text shown to the user.
class SystemAudioCaptureError : public std::exception
{
public:
    enum class Kind {
        PermissionDenied,
        RestartRequiredAfterPermissionGrant,
        NoDisplay,
        StreamSetupFailed
    };

    explicit SystemAudioCaptureError(Kind kind);

    Kind kind() const { return m_kind; }
    QString errorDescription() const;
    const char *what() const noexcept override { return m_what.constData(); }

private:
    Kind m_kind;
    QByteArray m_what;
};

} // namespace vernalo
