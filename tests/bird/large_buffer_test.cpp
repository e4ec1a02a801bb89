// Large buffers are advised for huge pages over their whole-page interior, and the
// advice never reaches memory outside the buffer.
#include <gtest/gtest.h>

#include <sys/mman.h>

#include <cstdint>
#include <fstream>
#include <sstream>
#include <string>

#include "LargeBuffer.h"

namespace {

// The VmFlags of the mapping that holds address, from /proc/self/smaps.
std::string flagsAt(const void* address) {
    const uintptr_t at = reinterpret_cast<uintptr_t>(address);
    std::ifstream smaps("/proc/self/smaps");
    std::string line;
    bool inside = false;
    while (std::getline(smaps, line)) {
        uintptr_t start = 0, end = 0;
        char dash = 0;
        std::istringstream range(line);
        if (range >> std::hex >> start >> dash >> end && dash == '-') {
            inside = start <= at && at < end;
        } else if (inside && line.compare(0, 8, "VmFlags:") == 0) {
            return line;
        }
    }
    return "";
}

bool advised(const void* address) {
    return flagsAt(address).find(" hg") != std::string::npos;
}

} // namespace

TEST(LargeBuffer, AdvisesTheInteriorOnly) {
    const size_t page = 4096, size = size_t(16) << 20;
    char* mapping =
        static_cast<char*>(mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
    ASSERT_NE(mapping, MAP_FAILED);
    ASSERT_FALSE(flagsAt(mapping).empty()) << "no smaps entry for the mapping";
    // A buffer that starts and ends inside pages, as malloc hands them out.
    char* buffer = mapping + page + 16;
    const size_t length = size - 3 * page;
    adviseLargeBuffer(buffer, length);
    EXPECT_TRUE(advised(mapping + 2 * page));
    EXPECT_TRUE(advised(buffer + length / 2));
    EXPECT_TRUE(advised(mapping + size - 3 * page));
    // The partial first and last pages hold bytes that are not the buffer's.
    EXPECT_FALSE(advised(mapping + page));
    EXPECT_FALSE(advised(mapping + size - 2 * page));
    munmap(mapping, size);
}

TEST(LargeBuffer, SmallBuffersAreLeftAlone) {
    const size_t size = size_t(2) << 20;
    char* mapping =
        static_cast<char*>(mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
    ASSERT_NE(mapping, MAP_FAILED);
    adviseLargeBuffer(mapping, size);
    EXPECT_FALSE(advised(mapping));
    adviseLargeBuffer(nullptr, size_t(64) << 20);
    munmap(mapping, size);
}
