#include "Timestamp.h"

std::string timestampText(time_t when) {
    char text[32];
    if (!ctime_r(&when, text)) return std::string();
    std::string result(text);
    if (!result.empty() && result.back() == '\n') result.pop_back();
    return result;
}

std::string currentTimestamp() {
    return timestampText(time(nullptr));
}
