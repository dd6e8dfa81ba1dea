#include "support/socket_wait.h"

#include <QCoreApplication>
#include <QDeadlineTimer>

namespace vernalo::test {

bool waitUntil(const std::function<bool()> &condition, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!condition()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(
            QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents,
            static_cast<int>(std::max<qint64>(deadline.remainingTime(), 1)));
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    return true;
}

} // namespace vernalo::test
