#pragma once

#include <QString>

namespace vernalo {

// Desktop notifications through the freedesktop notification service on the session bus;
// without one nothing is shown.
class DesktopNotifier
{
public:
    // False when no notification service answered the call.
    bool notify(const QString &title, const QString &body);
};

} // namespace vernalo
