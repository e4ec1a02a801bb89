// The emulated serial line: bytes reach the chip and come back, paced at the rate
// the host set its port to, and the chip learns that rate.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <vector>

#include "SerialLine.h"

namespace {

using namespace Veltrano::Sim;
using Clock = std::chrono::steady_clock;

int openHost(const std::string& path, speed_t speed) {
    int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return fd;
    termios t{};
    ::tcgetattr(fd, &t);
    ::cfmakeraw(&t);
    ::cfsetispeed(&t, speed);
    ::cfsetospeed(&t, speed);
    ::tcsetattr(fd, TCSANOW, &t);
    return fd;
}

// Reads count bytes within limitMs; what arrived.
std::string readFor(int fd, size_t count, int limitMs) {
    std::string got;
    auto end = Clock::now() + std::chrono::milliseconds(limitMs);
    while (got.size() < count && Clock::now() < end) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 10) <= 0) continue;
        char buffer[256];
        ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n > 0) got.append(buffer, static_cast<size_t>(n));
    }
    return got;
}

struct Echo {
    std::mutex mutex;
    std::vector<uint32_t> rates;
    // Set once the line exists; its thread may call take() before that.
    std::atomic<SerialLine*> line{nullptr};
    void take(uint8_t byte, uint32_t baud) {
        {
            std::lock_guard<std::mutex> lock(mutex);
            rates.push_back(baud);
        }
        if (SerialLine* to = line.load()) to->send(&byte, 1);
    }
};

TEST(SerialLine, PacedLineCarriesTenBitsAByteAtTheHostsRateBothWays) {
    Echo echo;
    SerialLine line([&](uint8_t b, uint32_t baud) { echo.take(b, baud); }, SerialLine::Settings{true});
    echo.line = &line;
    int host = openHost(line.path(), B9600);
    ASSERT_GE(host, 0);
    std::string text(192, 'x'); // 200 ms at 9600 baud
    auto start = Clock::now();
    ASSERT_EQ(::write(host, text.data(), text.size()), static_cast<ssize_t>(text.size()));
    std::string back = readFor(host, text.size(), 3000);
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
    EXPECT_EQ(back, text);
    // Receiving and sending overlap: one pass of the bytes, plus one byte.
    EXPECT_GE(ms, 195);
    EXPECT_LT(ms, 600);
    std::lock_guard<std::mutex> lock(echo.mutex);
    ASSERT_FALSE(echo.rates.empty());
    EXPECT_EQ(echo.rates.front(), 9600u);
    ::close(host);
}

TEST(SerialLine, UnpacedLineMovesAtOnceAndTellsARateChange) {
    Echo echo;
    SerialLine line([&](uint8_t b, uint32_t baud) { echo.take(b, baud); }, SerialLine::Settings{false});
    echo.line = &line;
    int host = openHost(line.path(), B2400);
    ASSERT_GE(host, 0);
    std::string text(2400, 'y'); // 10 s at 2400 baud if it were paced
    auto start = Clock::now();
    size_t written = 0;
    while (written < text.size() && Clock::now() - start < std::chrono::seconds(3)) {
        ssize_t n = ::write(host, text.data() + written, text.size() - written);
        if (n > 0) written += static_cast<size_t>(n);
        readFor(host, 0, 1);
    }
    std::string back = readFor(host, text.size(), 3000);
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(2));
    EXPECT_EQ(written, text.size());
    EXPECT_EQ(line.bytesReceived(), text.size());
    EXPECT_EQ(line.hostBaud(), 2400u);

    termios t{};
    ::tcgetattr(host, &t);
    ::cfsetospeed(&t, B57600);
    ::cfsetispeed(&t, B57600);
    ::tcsetattr(host, TCSANOW, &t);
    EXPECT_EQ(line.hostBaud(), 57600u);
    ::close(host);
}

TEST(SerialLine, DiscardedOutputNeverReachesTheHost) {
    SerialLine line([](uint8_t, uint32_t) {}, SerialLine::Settings{true});
    int host = openHost(line.path(), B2400);
    ASSERT_GE(host, 0);
    line.send(std::string(240, 'z')); // a second's worth at 2400 baud
    std::string first = readFor(host, 1, 1000);
    line.discardOutput();
    std::string rest = readFor(host, 240, 300);
    // On a loaded machine a few bytes may gather before the first read wakes.
    ASSERT_FALSE(first.empty());
    EXPECT_EQ(first.find_first_not_of('z'), std::string::npos) << first;
    EXPECT_LT(first.size() + rest.size(), 60u) << "the discarded bytes reached the host";
    ::close(host);
}

} // namespace
