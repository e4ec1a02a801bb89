// The background logger: a thread calling back with an open file while enabled.
#include <gtest/gtest.h>

#include <atomic>
#include <string>

#include <unistd.h>

#include "aLinkLogger.h"
#include "aTime.h"

namespace {

std::atomic<int> gCalls{0};

void writeTick(aFile* file, uint32 ref) {
    aFile_Printf(file, "%u;", ref);
    ++gCalls;
    aTime_MSSleep(2);
}

std::string tempPath(const char* name) {
    return std::string(::testing::TempDir()) + "/" + name + std::to_string(::getpid());
}

TEST(LinkLogger, RefusesBadArguments) {
    EXPECT_EQ(aLogger_Create(1, writeTick, nullptr), nullptr);
    EXPECT_EQ(aLogger_Create(1, writeTick, std::string(300, 'a').c_str()), nullptr);
    EXPECT_EQ(aLogger_Create(1, writeTick, "/nonexistent/dir/log"), nullptr);
    EXPECT_EQ(aLogger_Enable(nullptr), aErrParam);
    EXPECT_EQ(aLogger_Disable(nullptr), aErrParam);
    aLogger* none = nullptr;
    EXPECT_EQ(aLogger_Destroy(&none), aErrParam);
}

TEST(LinkLogger, CallsBackWhileEnabledAndAppends) {
    std::string path = tempPath("logger");
    aFile_Delete(path.c_str());
    aLogger* logger = aLogger_Create(7, writeTick, path.c_str());
    ASSERT_NE(logger, nullptr);
    gCalls = 0;
    ASSERT_EQ(aLogger_Enable(logger), aErrNone);
    EXPECT_EQ(aLogger_Enable(logger), aErrNone);
    for (int i = 0; i < 2000 && gCalls < 3; ++i)
        aTime_MSSleep(1);
    EXPECT_EQ(aLogger_Disable(logger), aErrNone);
    int calls = gCalls;
    EXPECT_GE(calls, 3);
    aTime_MSSleep(20);
    EXPECT_EQ(gCalls, calls) << "no callback after disable returned";
    EXPECT_EQ(aLogger_Destroy(&logger), aErrNone);
    EXPECT_EQ(logger, nullptr);

    aFile* file = aFile_Open(path.c_str(), aFileModeRead);
    ASSERT_NE(file, nullptr);
    char line[256] = {0};
    uint32 length = 0;
    aFile_ReadLine(file, line, sizeof line, &length);
    aFile_Close(&file);
    std::string expected;
    for (int i = 0; i < calls; ++i)
        expected += "7;";
    EXPECT_EQ(std::string(line), expected);
    aFile_Delete(path.c_str());
}

} // namespace
