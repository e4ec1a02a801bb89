#include "aLinkLogger.h"

#include <atomic>
#include <cstring>
#include <new>
#include <thread>

namespace {
constexpr uint16 kLoggerCheck = 0xDEED;
}

struct aLogger {
    uint16 check = kLoggerCheck;
    uint32 ref = 0;
    aLoggerCallback callback = nullptr;
    aFile* file = nullptr;
    std::atomic<bool> running{false};
    std::thread thread;
};

static bool sValid(const aLogger* logger) {
    return logger && logger->check == kLoggerCheck;
}

aLogger* aLogger_Create(uint32 ref, aLoggerCallback callback, const char* path) {
    if (!path || !callback || std::strlen(path) > aFILE_MAXPATH) return nullptr;
    aFile* file = aFile_Open(path, aFileModeAppend);
    if (!file) return nullptr;
    aLogger* logger = new (std::nothrow) aLogger;
    if (!logger) {
        aFile_Close(&file);
        return nullptr;
    }
    logger->ref = ref;
    logger->callback = callback;
    logger->file = file;
    return logger;
}

aErr aLogger_Enable(aLogger* logger) {
    if (!sValid(logger)) return aErrParam;
    if (logger->thread.joinable()) return aErrNone;
    logger->running = true;
    try {
        logger->thread = std::thread([logger] {
            while (logger->running)
                logger->callback(logger->file, logger->ref);
        });
    } catch (...) {
        logger->running = false;
        return aErrResource;
    }
    return aErrNone;
}

aErr aLogger_Disable(aLogger* logger) {
    if (!sValid(logger)) return aErrParam;
    logger->running = false;
    if (logger->thread.joinable()) logger->thread.join();
    return aErrNone;
}

aErr aLogger_Destroy(aLogger** logger) {
    if (!logger || !sValid(*logger)) return aErrParam;
    aErr err = aLogger_Disable(*logger);
    if (err != aErrNone) return err;
    aFile_Close(&(*logger)->file);
    (*logger)->check = 0;
    delete *logger;
    *logger = nullptr;
    return aErrNone;
}
