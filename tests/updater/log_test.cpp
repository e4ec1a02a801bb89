#include <gtest/gtest.h>

#include <cstdio>

#include "LogCapture.h"

TEST(Log, MaskZeroAlwaysWrites) {
    LogCapture log;
    updaterLog(0, "always %d\n", 1);
    EXPECT_EQ(log.text(), "always 1\n");
}

TEST(Log, CategoryWritesOnlyOnceEnabled) {
    LogCapture log;
    ASSERT_EQ(updaterLog_GetMask() & DEBUG_iMXSerial, 0u) << "another test enabled this category";
    updaterLog(DEBUG_iMXSerial, "hidden\n");
    EXPECT_EQ(log.text(), "");
    updaterLog_SetMask(DEBUG_iMXSerial);
    updaterLog(DEBUG_iMXSerial | DEBUG_History, "shown, no line end added");
    EXPECT_EQ(log.text(), "shown, no line end added");
    updaterLog_SetMask(0);
    EXPECT_NE(updaterLog_GetMask() & DEBUG_iMXSerial, 0u) << "bits are never taken away";
}

TEST(Log, LongLineIsCut) {
    LogCapture log;
    std::string longText(3000, 'y');
    updaterLog(0, "%s", longText.c_str());
    EXPECT_EQ(log.text(), std::string(2047, 'y'));
}

TEST(Log, NoStreamWritesNothing) {
    updaterLog_SetStream(nullptr);
    updaterLog(0, "nowhere\n"); // must not crash
    LogCapture log;
    EXPECT_EQ(log.text(), "");
}
