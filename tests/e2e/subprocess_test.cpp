// The runner the end-to-end tests stand on.
#include <gtest/gtest.h>

#include <chrono>

#include "Subprocess.h"

TEST(Subprocess, CapturesBothStreamsAndTheStatus) {
    SubprocessResult r = runSubprocess("/bin/sh", {"-c", "printf out; printf err >&2; exit 3"});
    EXPECT_TRUE(r.started);
    EXPECT_EQ(r.out, "out");
    EXPECT_EQ(r.err, "err");
    EXPECT_EQ(r.exitStatus, 3);
    EXPECT_FALSE(r.timedOut);
}

TEST(Subprocess, EnvironmentInputAndDirectory) {
    setenv("SUBPROCESS_TEST_GONE", "x", 1);
    SubprocessOptions options;
    options.setEnv["SUBPROCESS_TEST_VALUE"] = "given";
    options.unsetEnv.push_back("SUBPROCESS_TEST_GONE");
    options.workingDirectory = "/";
    options.input = std::string(200000, 'i'); // more than a pipe holds
    SubprocessResult r = runSubprocess(
        "/bin/sh", {"-c", "echo \"$SUBPROCESS_TEST_VALUE-${SUBPROCESS_TEST_GONE:-unset}-$(pwd)\"; wc -c"},
        options);
    EXPECT_EQ(r.out, "given-unset-/\n200000\n");
    EXPECT_EQ(r.exitStatus, 0);
}

TEST(Subprocess, TimeLimitKillsTheChild) {
    SubprocessOptions options;
    options.timeoutMs = 300;
    auto start = std::chrono::steady_clock::now();
    SubprocessResult r = runSubprocess("/bin/sleep", {"30"}, options);
    auto took = std::chrono::steady_clock::now() - start;
    EXPECT_TRUE(r.timedOut);
    EXPECT_EQ(r.exitStatus, -1);
    EXPECT_EQ(r.signal, SIGKILL);
    EXPECT_LT(took, std::chrono::seconds(5));
}

TEST(Subprocess, MissingProgramIsStatus127) {
    SubprocessResult r = runSubprocess("/nonexistent/program", {});
    EXPECT_EQ(r.exitStatus, 127);
}
