/* Loopback socket pairs and non-blocking sends for link sharing. */
#include "aSharePair.h"

#include <atomic>
#include <cerrno>

#include "aCzmqSetup.h"
#include "aTime.h"

namespace {
std::atomic<uint32> gPairs{0};
}

bool aSharePair_Create(zsock_t** bound, zsock_t** connected) {
    aCzmq_Setup();
    *bound = zsock_new(ZMQ_DEALER);
    *connected = zsock_new(ZMQ_DEALER);
    const uint32 pair = gPairs++;
    if (*bound && *connected) {
        /* Nothing lingers at close: a pair ends with its threads. */
        zsock_set_linger(*bound, 0);
        zsock_set_linger(*connected, 0);
        if (zsock_bind(*bound, "inproc://halvorine-share-%u", unsigned(pair)) == 0 &&
            zsock_connect(*connected, "inproc://halvorine-share-%u", unsigned(pair)) == 0)
            return true;
    }
    zsock_destroy(bound);
    zsock_destroy(connected);
    return false;
}

aErr aSharePair_Send(zsock_t* socket, zframe_t* identity, const uint8* bytes, size_t size, int tries) {
    void* handle = zsock_resolve(socket);
    for (int attempt = 0; attempt <= tries; ++attempt) {
        if (attempt > 0) aTime_MSSleep(1);
        if (identity &&
            zmq_send(handle, zframe_data(identity), zframe_size(identity), ZMQ_SNDMORE | ZMQ_DONTWAIT) < 0) {
            if (errno == EAGAIN) continue;
            return aErrIO;
        }
        /* Once the identity went, the rest of the message goes without fail. */
        if (zmq_send(handle, bytes, size, ZMQ_DONTWAIT) >= 0) return aErrNone;
        if (errno != EAGAIN) return aErrIO;
    }
    return aErrBusy;
}
