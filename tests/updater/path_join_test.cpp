#include <gtest/gtest.h>

#include "PathJoin.h"

TEST(PathJoin, AlwaysInsertsTheSeparator) {
    EXPECT_EQ(pathJoin("/tmp/x"), "/tmp/x");
    EXPECT_EQ(pathJoin("/tmp/x", "updater"), "/tmp/x/updater");
    EXPECT_EQ(pathJoin("/tmp/x/", "updater"), "/tmp/x//updater");
    EXPECT_EQ(pathJoin(std::string("root"), "40F5849A", std::string(".settings")), "root/40F5849A/.settings");
    EXPECT_EQ(pathJoin("", "a", ""), "/a/");
}
