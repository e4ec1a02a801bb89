// What a test needs from the machine (the test network, a tool) is asserted: a test
// missing it fails and names what is missing, so a green run means every test ran.
// Only a deliberate partial run (VELTRANO_ALLOW_SKIPS=1) skips it instead.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>

namespace TestSupport {

inline bool skipsAllowed() {
    const char* allowed = std::getenv("VELTRANO_ALLOW_SKIPS");
    return allowed && std::strcmp(allowed, "1") == 0;
}

// Empty when the program at path can run; otherwise which package brings it.
inline std::string missingProgram(const char* path, const char* package) {
    if (::access(path, X_OK) == 0) return "";
    return std::string(path) + " is missing (package " + package + ")";
}

} // namespace TestSupport

// Fails the test (skips it in a partial run) when missing, a reason, is not empty.
#define VELTRANO_REQUIRE(missing)                                                                            \
    do {                                                                                                     \
        const std::string veltranoMissing = (missing);                                                       \
        if (!veltranoMissing.empty()) {                                                                      \
            if (TestSupport::skipsAllowed()) GTEST_SKIP() << veltranoMissing;                                \
            FAIL() << veltranoMissing;                                                                       \
        }                                                                                                    \
    } while (0)
