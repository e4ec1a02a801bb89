#include "aCzmqSetup.h"

#include <czmq.h>

#include <mutex>

void aCzmq_Setup(void) {
    static std::once_flag once;
    /* czmq's own start is not safe from two threads at once (the second start's
     * settings find the first one's sockets and abort): start it here, once. */
    std::call_once(once, [] {
        zsys_handler_set(nullptr);
        zsys_init();
    });
}
