#pragma once

#include <functional>
#include <optional>
#include <QString>
#include <QStringList>

namespace vernalo {

struct LaunchCommand
{
    QString program;
    QStringList arguments;
};

// The desktop's sound settings: the first of the known panels whose program exists.
// `findProgram` maps a program name to its path (empty when missing); injectable for tests.
std::optional<LaunchCommand>
soundSettingsCommand(const std::function<QString(const QString &)> &findProgram);

} // namespace vernalo
