#include "ports/audio_system.h"

namespace vernalo {

QString AudioServerError::details() const
{
    return QStringLiteral("domain=%1 code=%2 desc=%3").arg(domain).arg(code).arg(description);
}

CaptureTarget CaptureTarget::source(quint32 id, int fragmentFrames)
{
    CaptureTarget target;
    target.kind = Kind::Source;
    target.sourceId = id;
    target.fragmentFrames = fragmentFrames;
    return target;
}

CaptureTarget CaptureTarget::allApplications(int fragmentFrames)
{
    CaptureTarget target;
    target.kind = Kind::AllApplications;
    target.fragmentFrames = fragmentFrames;
    return target;
}

CaptureTarget CaptureTarget::application(const QString &applicationId, int fragmentFrames)
{
    CaptureTarget target;
    target.kind = Kind::Application;
    target.applicationId = applicationId;
    target.fragmentFrames = fragmentFrames;
    return target;
}

} // namespace vernalo
