#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "aDefs.h"
#include "aError.h"
#include "aVersion.h"

TEST(ErrorText, NamesAndDescriptionsByValue) {
    EXPECT_STREQ(aError_GetErrorText(aErrNone), "aErrNone");
    EXPECT_STREQ(aError_GetErrorText(aErrTimeout), "aErrTimeout");
    EXPECT_STREQ(aError_GetErrorDescription(aErrTimeout), "Timeout occurred");
    EXPECT_STREQ(aError_GetErrorDescription(aErrNone), "Success, no error");
    EXPECT_STREQ(aError_GetErrorDescription(aErrShortCommand), "Halvorine command to short");
}

TEST(ErrorText, OutOfRangeIsUnknown) {
    for (aErr e : {34, 35, 1000, -1, -34}) {
        EXPECT_STREQ(aError_GetErrorText(e), "aErrUnknown") << e;
        EXPECT_STREQ(aError_GetErrorDescription(e), "Unknown error") << e;
    }
}

// Every code's value, name and description, as users read them; then the answers
// outside the table.
TEST(ErrorText, EveryCodeHasItsNameAndDescription) {
    struct Row {
        int value;
        aErr code;
        const char* name;
        const char* description;
    } rows[] = {
        {0, aErrNone, "aErrNone", "Success, no error"},
        {1, aErrMemory, "aErrMemory", "Memory allocation"},
        {2, aErrParam, "aErrParam", "Invalid parameter"},
        {3, aErrNotFound, "aErrNotFound", "Not found"},
        {4, aErrFileNameLength, "aErrFileNameLength", "File name too long"},
        {5, aErrBusy, "aErrBusy", "Resource busy"},
        {6, aErrIO, "aErrIO", "Input/Output error"},
        {7, aErrMode, "aErrMode", "Invalid Mode"},
        {8, aErrWrite, "aErrWrite", "Write error"},
        {9, aErrRead, "aErrRead", "Read error"},
        {10, aErrEOF, "aErrEOF", "End of file"},
        {11, aErrNotReady, "aErrNotReady", "Not ready, no bytes available"},
        {12, aErrPermission, "aErrPermission", "Insufficient permissions"},
        {13, aErrRange, "aErrRange", "Value out of range"},
        {14, aErrSize, "aErrSize", "Invalid Size"},
        {15, aErrOverrun, "aErrOverrun", "Buffer/queue overrun"},
        {16, aErrParse, "aErrParse", "Parse error"},
        {17, aErrConfiguration, "aErrConfiguration", "Configuration error"},
        {18, aErrTimeout, "aErrTimeout", "Timeout occurred"},
        {19, aErrInitialization, "aErrInitialization", "Initialization error"},
        {20, aErrVersion, "aErrVersion", "Invalid version"},
        {21, aErrUnimplemented, "aErrUnimplemented", "Functionality unimplemented"},
        {22, aErrDuplicate, "aErrDuplicate", "Duplicate request"},
        {23, aErrCancel, "aErrCancel", "Cancellation occurred, or did not complete"},
        {24, aErrPacket, "aErrPacket", "Packet byte invalid"},
        {25, aErrConnection, "aErrConnection", "Connection error"},
        {26, aErrIndexRange, "aErrIndexRange", "Index out of range"},
        {27, aErrShortCommand, "aErrShortCommand", "Halvorine command to short"},
        {28, aErrInvalidEntity, "aErrInvalidEntity", "Invalid entity error"},
        {29, aErrInvalidOption, "aErrInvalidOption", "Invalid option code"},
        {30, aErrResource, "aErrResource", "Resource unavailable"},
        {31, aErrMedia, "aErrMedia", "Media error"},
        {32, aErrAsyncReturn, "aErrAsyncReturn", "Asynchronous return error"},
        {33, aErrStreamStale, "aErrStreamStale", "Stream value is stale"},
        {34, aErrUnknown, "aErrUnknown", "Unknown error"},
    };
    ASSERT_EQ(sizeof rows / sizeof rows[0], 35u);
    for (const Row& row : rows) {
        EXPECT_EQ(row.code, row.value) << row.name;
        EXPECT_STREQ(aError_GetErrorText(row.code), row.name) << row.value;
        EXPECT_STREQ(aError_GetErrorDescription(row.code), row.description) << row.value;
    }
    for (aErr outside : {35, 36, -1, INT_MAX, INT_MIN}) {
        EXPECT_STREQ(aError_GetErrorText(outside), "aErrUnknown") << outside;
        EXPECT_STREQ(aError_GetErrorDescription(outside), "Unknown error") << outside;
    }
}

TEST(Version, PackPicksLayout) {
    struct Case {
        uint8 major, minor, patch;
        uint32 packed;
    } cases[] = {
        {2, 14, 7, 0x2E000007},
        {2, 15, 0, 0x2F020F00},
        {3, 0, 1, 0x2F030001},
        {1, 10, 255, 0x1A0000FF},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(aVersion_Pack(c.major, c.minor, c.patch), c.packed);
        EXPECT_EQ(aVersion_ParseMajor(c.packed), c.major);
        EXPECT_EQ(aVersion_ParseMinor(c.packed), c.minor);
        EXPECT_EQ(aVersion_ParsePatch(c.packed), c.patch);
    }
}

TEST(Version, LayoutTest) {
    EXPECT_TRUE(aVersion_IsLegacyFormat(0x1FFFFFFF));
    EXPECT_TRUE(aVersion_IsLegacyFormat(0x2E000000));
    EXPECT_FALSE(aVersion_IsLegacyFormat(0x2F000000));
    EXPECT_FALSE(aVersion_IsLegacyFormat(0x30000000));
}

TEST(Version, LegacyPatchIs24Bits) {
    uint32 packed = 0x1A123456;
    EXPECT_EQ(aVersion_ParsePatch(packed), 0x123456u);
    EXPECT_EQ(aVersion_ParseMajor(packed), 1);
    EXPECT_EQ(aVersion_ParseMinor(packed), 10);
    char text[15];
    EXPECT_EQ(aVersion_ParseString(packed, text, sizeof text), std::strlen("1.10.1193046"));
    EXPECT_STREQ(text, "1.10.1193046");
}

TEST(Version, ParseStringRefusesShortBuffer) {
    char text[5] = "xxxx";
    EXPECT_EQ(aVersion_ParseString(0x2F020F00, text, sizeof text), 0u);
    EXPECT_STREQ(text, "");
    char longest[15];
    EXPECT_EQ(aVersion_ParseString(0x2FFFFFFF, longest, sizeof longest), 11u);
    EXPECT_STREQ(longest, "255.255.255");
}

// One process-wide text, built once: every thread, first call or later, gets the
// same buffer, and it stays whole.
TEST(Version, OwnVersionTextIsOneBufferForTheWholeProcess) {
    std::vector<const char*> seen(4, nullptr);
    std::vector<std::thread> threads;
    for (size_t i = 0; i < seen.size(); i++)
        threads.emplace_back([&seen, i] { seen[i] = aVersion_GetString(); });
    for (std::thread& thread : threads)
        thread.join();
    const char* mine = aVersion_GetString();
    EXPECT_STREQ(mine, "2.11.2");
    for (const char* text : seen)
        EXPECT_EQ(static_cast<const void*>(text), static_cast<const void*>(mine));
}

TEST(Version, OwnVersionAndComparisons) {
    EXPECT_STREQ(aVersion_GetString(), "2.11.2");
    EXPECT_TRUE(aVersion_IsAtLeast(2, 11, 2));
    EXPECT_FALSE(aVersion_IsAtLeast(2, 11, 3));
    EXPECT_TRUE(aVersion_IsAtLeast(1, 200, 200));
    EXPECT_FALSE(aVersion_IsAtLeast(3, 0, 0));
    EXPECT_TRUE(aVersion_IsAtLeastCompare(2, 11, 2, 2, 11, 2));
    EXPECT_FALSE(aVersion_IsAtLeastCompare(2, 10, 9, 2, 11, 0));
}

TEST(Version, Features) {
    EXPECT_TRUE(aVersion_HasFeature("VERSION"));
    EXPECT_FALSE(aVersion_HasFeature("version"));
    EXPECT_FALSE(aVersion_HasFeature("VERSIONS"));
    EXPECT_FALSE(aVersion_HasFeature(nullptr));
    char* list = aVersion_GetFeatureList();
    ASSERT_NE(list, nullptr);
    EXPECT_STREQ(list, "VERSION - Version Query API");
    aVersion_DestroyFeatureList(&list);
    EXPECT_EQ(list, nullptr);
}

TEST(ModelName, KnownAndUnknown) {
    for (uint32 m : {0u, 6u, 12u, 28u, 0xFFFFFFFFu})
        EXPECT_STREQ(aDefs_GetModelName(m), "Unknown") << m;
}

// Firmware files fit a module whose model name is a prefix of theirs, so no
// known name may begin another one; all follow the line's one scheme.
TEST(ModelName, OneSchemeAndNoNameBeginsAnother) {
    std::vector<std::string> names;
    for (uint32 m = 0; m < 64; ++m) {
        std::string name = aDefs_GetModelName(m);
        bool known = m == 4 || m == 5 || (m >= 13 && m <= 27);
        EXPECT_EQ(name != "Unknown", known) << m;
        if (!known) continue;
        EXPECT_EQ(name.rfind("VT-", 0), 0u) << name;
        EXPECT_LE(name.size(), 12u) << name; // the discovery listing's column
        names.push_back(name);
    }
    for (const std::string& a : names)
        for (const std::string& b : names)
            if (&a != &b) {
                EXPECT_NE(b.rfind(a, 0), 0u) << a << " begins " << b;
            }
}
