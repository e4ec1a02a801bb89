// Everything written so far to a stdio stream that can be read back (a tmpfile).
#pragma once

#include <cstdio>
#include <string>

inline std::string streamText(FILE* f) {
    fflush(f);
    rewind(f);
    std::string text;
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, f)) > 0)
        text.append(buffer, n);
    return text;
}
