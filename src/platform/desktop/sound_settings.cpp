#include "desktop/sound_settings.h"

namespace vernalo {

std::optional<LaunchCommand>
soundSettingsCommand(const std::function<QString(const QString &)> &findProgram)
{
    const LaunchCommand candidates[] = {
        {QStringLiteral("gnome-control-center"), {QStringLiteral("sound")}},
        {QStringLiteral("systemsettings"), {QStringLiteral("kcm_pulseaudio")}},
        {QStringLiteral("pavucontrol"), {}},
    };
    for (const auto &candidate : candidates) {
        const QString path = findProgram(candidate.program);
        if (!path.isEmpty())
            return LaunchCommand {path, candidate.arguments};
    }
    return std::nullopt;
}

} // namespace vernalo
