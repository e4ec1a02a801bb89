#include "aCzmqSetup.h"

#include <czmq.h>

#include <mutex>

void aCzmq_Setup(void) {
    static std::once_flag once;
    std::call_once(once, [] { zsys_handler_set(nullptr); });
}
