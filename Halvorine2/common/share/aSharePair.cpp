/* Non-blocking ZeroMQ sends for link sharing. */
#include "aSharePair.h"

#include <cerrno>

#include "aTime.h"

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
