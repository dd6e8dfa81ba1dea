#pragma once

#include <QtGlobal>

namespace vernalo {

// One named background job of the controller (a poller, the liveness check, the audio test).
// QCoro cannot cancel a coroutine that is waiting, so cancelling moves the slot on to a new
// ticket; the job holds the ticket it was started with and ends at its next check. Starting a
// job cancels the one before it.
class JobSlot
{
public:
    using Ticket = quint64;

    Ticket start()
    {
        m_active = true;
        return ++m_ticket;
    }
    void cancel()
    {
        ++m_ticket;
        m_active = false;
    }
    // The job ended by itself.
    void finish(Ticket ticket)
    {
        if (isCurrent(ticket))
            m_active = false;
    }
    bool isCurrent(Ticket ticket) const { return m_active && ticket == m_ticket; }
    bool isActive() const { return m_active; }

private:
    Ticket m_ticket = 0;
    bool m_active = false;
};

} // namespace vernalo
