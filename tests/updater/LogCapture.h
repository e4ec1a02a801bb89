// Points the diagnostic log at a temporary file for the life of the object.
#pragma once

#include <cstdio>
#include <string>

#include "StreamText.h"
#include "UpdaterLog.h"

class LogCapture {
  public:
    // categories are enabled for the rest of the process (log bits are never cleared).
    explicit LogCapture(uint32_t categories = 0) : file_(tmpfile()) {
        updaterLog_SetMask(categories);
        updaterLog_SetStream(file_);
    }
    ~LogCapture() {
        updaterLog_SetStream(nullptr);
        fclose(file_);
    }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    std::string text() { return streamText(file_); }

  private:
    FILE* file_;
};
