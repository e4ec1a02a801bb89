// Decoding the boot ROM's answers: HID reports as the loader keeps them, and the
// status word of a HID or serial response.
#include <gtest/gtest.h>

#include <vector>

#include "SDPResponse.h"

namespace {

std::vector<uint8_t> hidResponse(uint32_t status) {
    std::vector<uint8_t> out;
    uint8_t hab[kSdpHidReportSize] = {3, 0x56, 0x78, 0x78, 0x56};
    uint8_t report4[kSdpHidReportSize] = {4, uint8_t(status), uint8_t(status >> 8), uint8_t(status >> 16),
                                          uint8_t(status >> 24)};
    sdpHid_AppendReport(out, hab);
    sdpHid_AppendReport(out, report4);
    return out;
}

TEST(SdpResponse, HidReportThreeCountsAsFiveBytesAnyOtherAsSixtyFive) {
    std::vector<uint8_t> out;
    uint8_t hab[kSdpHidReportSize] = {3, 1, 2, 3, 4, 0xEE};
    EXPECT_EQ(sdpHid_AppendReport(out, hab), 5u);
    EXPECT_EQ(out, (std::vector<uint8_t>{3, 1, 2, 3, 4}));
    uint8_t status[kSdpHidReportSize] = {4, 9};
    EXPECT_EQ(sdpHid_AppendReport(out, status), 65u);
    ASSERT_EQ(out.size(), 70u);
    EXPECT_EQ(out[5], 4);
    EXPECT_EQ(out[6], 9);
}

TEST(SdpResponse, HidStatusIsLittleEndianAfterTheHabReportAndNeedsExactlySeventyBytes) {
    std::vector<uint8_t> complete = hidResponse(0x12345678);
    uint32_t status = 0;
    ASSERT_TRUE(sdpHid_StatusWord(complete, 0, status));
    EXPECT_EQ(status, 0x12345678u);

    struct Case {
        const char* what;
        std::vector<uint8_t> response;
        uint32_t index;
        bool found;
    };
    std::vector<uint8_t> short69(complete.begin(), complete.end() - 1);
    std::vector<uint8_t> long71 = complete;
    long71.push_back(0);
    std::vector<uint8_t> habOnly(complete.begin(), complete.begin() + 5);
    for (const Case& c : {Case{"69 bytes", short69, 0, false}, Case{"71 bytes", long71, 0, false},
                          Case{"HAB report only", habOnly, 0, false}, Case{"index 15", complete, 15, true},
                          Case{"index 16", complete, 16, false}}) {
        uint32_t word = 0;
        EXPECT_EQ(sdpHid_StatusWord(c.response, c.index, word), c.found) << c.what;
    }
    // The index moves the word by bytes: index 1 reads bytes 7..10.
    uint32_t shifted = 0;
    ASSERT_TRUE(sdpHid_StatusWord(complete, 1, shifted));
    EXPECT_EQ(shifted, 0x00123456u);
}

TEST(SdpResponse, SerialStatusFollowsTheFourHabBytes) {
    uint32_t status = 0;
    EXPECT_TRUE(sdpSerial_StatusWord({0x56, 0x78, 0x78, 0x56, 0x88, 0x88, 0x88, 0x88}, 0, status));
    EXPECT_EQ(status, 0x88888888u);
    status = 0;
    EXPECT_TRUE(sdpSerial_StatusWord({0, 0, 0, 0, 0x78, 0x56, 0x34, 0x12}, 0, status));
    EXPECT_EQ(status, 0x12345678u) << "little-endian";
    EXPECT_FALSE(sdpSerial_StatusWord({0x56, 0x78, 0x78, 0x56, 0x88, 0x88, 0x88}, 0, status)) << "7 bytes";
    std::vector<uint8_t> twelve(12, 0);
    EXPECT_TRUE(sdpSerial_StatusWord(twelve, 1, status)) << "index 1 needs 12 bytes";
    EXPECT_FALSE(sdpSerial_StatusWord(std::vector<uint8_t>(11, 0), 1, status));
    EXPECT_FALSE(sdpSerial_StatusWord(std::vector<uint8_t>(100, 0), 16, status)) << "index below 16";
}

TEST(SdpResponse, TheStatusIsOredIntoTheCallersWord) {
    uint32_t status = 0x0000000F;
    ASSERT_TRUE(sdpSerial_StatusWord({0, 0, 0, 0, 0xF0, 0, 0, 0}, 0, status));
    EXPECT_EQ(status, 0xFFu);
    status = 0x100;
    ASSERT_TRUE(sdpHid_StatusWord(hidResponse(0x1), 0, status));
    EXPECT_EQ(status, 0x101u);
}

} // namespace
