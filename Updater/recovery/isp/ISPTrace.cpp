#include "ISPTrace.h"

#include <cctype>
#include <cstdio>

namespace ISPTrace {

std::string hexBytes(const char* bytes, size_t count) {
    std::string text;
    text.reserve(count * 3);
    char hex[8];
    for (size_t i = 0; i < count; ++i) {
        std::snprintf(hex, sizeof hex, "%s%02X", i ? " " : "", static_cast<unsigned char>(bytes[i]));
        text += hex;
    }
    return text;
}

std::string printable(const char* bytes, size_t count, bool escapeLineEnds) {
    std::string text;
    text.reserve(count);
    for (size_t i = 0; i < count; ++i) {
        const char c = bytes[i];
        if (escapeLineEnds && (c == '\r' || c == '\n'))
            text += c == '\r' ? "\\r" : "\\n";
        else
            text += std::isprint(static_cast<unsigned char>(c)) ? c : ' ';
    }
    return text;
}

} // namespace ISPTrace
