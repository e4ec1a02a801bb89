/* The tasks' poll, which a handled signal does not end. */
#include "aSharePoll.h"

#include <cerrno>

#include "aTime.h"

int aSharePoll_Wait(zmq_pollitem_t* items, int count, int timeoutMs) {
    const uint32 start = aTime_GetMSTicks();
    int ready;
    for (;;) {
        if (zsys_interrupted) return aSHARE_POLL_END;
        const uint32 waited = aTime_GetMSTicks() - start;
        const int left = waited >= uint32(timeoutMs) ? 0 : timeoutMs - int(waited);
        ready = zmq_poll(items, count, left);
        if (ready >= 0 || zmq_errno() != EINTR) break;
    }
    if (ready < 0 || items[0].revents) return aSHARE_POLL_END;
    for (int i = 1; i < count; ++i)
        if (items[i].revents) return i;
    return aSHARE_POLL_NONE;
}
