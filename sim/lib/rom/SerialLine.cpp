#include "SerialLine.h"

#include "PseudoTerminal.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/eventfd.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <vector>

namespace Veltrano::Sim {

namespace {

using Clock = std::chrono::steady_clock;

uint32_t bitsPerSecond(speed_t speed) {
    switch (speed) {
    case B1200:
        return 1200;
    case B2400:
        return 2400;
    case B4800:
        return 4800;
    case B9600:
        return 9600;
    case B19200:
        return 19200;
    case B38400:
        return 38400;
    case B57600:
        return 57600;
    case B115200:
        return 115200;
    case B230400:
        return 230400;
    case B460800:
        return 460800;
    case B921600:
        return 921600;
    default:
        return 0;
    }
}

// 10 bits a byte: start, 8 data, stop.
Clock::duration byteTime(uint32_t baud) {
    if (baud == 0) return Clock::duration::zero();
    return std::chrono::duration_cast<Clock::duration>(std::chrono::nanoseconds(10'000'000'000ull / baud));
}

// Host bytes read off the terminal but not yet through the line.
constexpr size_t kInFlight = 64;
// A UART's receive FIFO: what a busy chip keeps of the host's bytes.
constexpr size_t kReceiveFifo = 16;

} // namespace

SerialLine::SerialLine(Receiver receiver, Settings settings)
    : receiver_(std::move(receiver)), settings_(settings) {
    PseudoTerminal pty = openPseudoTerminal();
    masterFd_ = pty.master;
    slaveFd_ = pty.slave;
    path_ = pty.path;
    ::fcntl(masterFd_, F_SETFL, ::fcntl(masterFd_, F_GETFL) | O_NONBLOCK);
    wakeFd_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (wakeFd_ < 0) {
        std::string reason = std::strerror(errno);
        ::close(slaveFd_);
        ::close(masterFd_);
        throw std::runtime_error("cannot make an event descriptor: " + reason);
    }
    thread_ = std::thread([this] { run(); });
}

SerialLine::~SerialLine() {
    stop();
}

void SerialLine::stop() {
    stop_ = true;
    if (wakeFd_ >= 0) {
        uint64_t one = 1;
        (void)!::write(wakeFd_, &one, sizeof one);
    }
    if (thread_.joinable()) thread_.join();
    for (int* fd : {&slaveFd_, &masterFd_, &wakeFd_}) {
        if (*fd >= 0) ::close(*fd);
        *fd = -1;
    }
}

void SerialLine::send(const uint8_t* bytes, size_t count) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        output_.insert(output_.end(), bytes, bytes + count);
    }
    uint64_t one = 1;
    (void)!::write(wakeFd_, &one, sizeof one);
}

void SerialLine::send(const std::string& text) {
    send(reinterpret_cast<const uint8_t*>(text.data()), text.size());
}

void SerialLine::discardOutput() {
    std::lock_guard<std::mutex> lock(mutex_);
    output_.clear();
}

uint32_t SerialLine::hostBaud() const {
    // The master's terminal settings are the host side's.
    termios terminal{};
    if (::tcgetattr(masterFd_, &terminal) != 0) return 0;
    return bitsPerSecond(::cfgetospeed(&terminal));
}

void SerialLine::holdReceiver(uint32_t ms, const std::string& after) {
    held_ = true;
    heldUntil_ = Clock::now() + std::chrono::milliseconds(ms);
    afterHold_ = after;
}

void SerialLine::deliver(uint8_t byte, uint32_t baud) {
    if (!held_) {
        receiver_(byte, baud);
        return;
    }
    if (fifo_.size() < kReceiveFifo) {
        fifo_.push_back(byte);
        return;
    }
    if (overruns_++ == 0 || overruns_ % 64 == 0)
        std::fprintf(stderr,
                     "serial line %s: receive overrun, host byte 0x%02X lost while the chip was busy\n",
                     path_.c_str(), byte);
}

void SerialLine::releaseHold(Clock::time_point now, uint32_t baud) {
    while (held_ && heldUntil_ <= now) {
        held_ = false;
        send(afterHold_);
        while (!held_ && !fifo_.empty()) {
            uint8_t byte = fifo_.front();
            fifo_.pop_front();
            receiver_(byte, baud);
        }
    }
}

// One thread moves both directions. Host bytes are read only a few at a time, so a
// host that outruns a paced line finds the terminal's buffer full; each byte is
// handed on once the line would have carried it. Output leaves the same way.
void SerialLine::run() {
    std::deque<uint8_t> input;
    Clock::time_point rxFree = Clock::now();
    Clock::time_point txFree = Clock::now();
    while (!stop_) {
        uint32_t baud = hostBaud();
        Clock::duration perByte = settings_.paced ? byteTime(baud) : Clock::duration::zero();
        Clock::time_point now = Clock::now();

        releaseHold(now, baud);
        // Host bytes whose time on the line is over.
        while (!input.empty() && (perByte == Clock::duration::zero() || rxFree <= now)) {
            uint8_t byte = input.front();
            input.pop_front();
            received_++;
            deliver(byte, baud);
            if (perByte != Clock::duration::zero()) rxFree += perByte;
        }
        if (input.empty() && rxFree < now) rxFree = now;

        // Chip bytes whose time has come.
        std::vector<uint8_t> due;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (txFree < now) txFree = now;
            while (!output_.empty() && (perByte == Clock::duration::zero() || txFree <= now)) {
                due.push_back(output_.front());
                output_.pop_front();
                if (perByte != Clock::duration::zero()) txFree += perByte;
            }
        }
        size_t written = 0;
        while (written < due.size()) {
            ssize_t n = ::write(masterFd_, due.data() + written, due.size() - written);
            if (n > 0) {
                written += static_cast<size_t>(n);
                continue;
            }
            if (n < 0 && errno == EINTR) continue;
            if (n < 0 && errno == EAGAIN) {
                // The host reads nothing: wait for room, but not past a stop.
                pollfd room{masterFd_, POLLOUT, 0};
                if (stop_) break;
                ::poll(&room, 1, 10);
                continue;
            }
            break;
        }
        sent_ += written;

        // Sleep until the next byte is due either way, or something arrives.
        bool pendingOut;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            pendingOut = !output_.empty();
        }
        Clock::time_point wake = now + std::chrono::milliseconds(50);
        if (!input.empty()) wake = std::min(wake, rxFree);
        if (pendingOut) wake = std::min(wake, txFree);
        if (held_) wake = std::min(wake, heldUntil_);
        auto wait = std::chrono::duration_cast<std::chrono::nanoseconds>(wake - Clock::now());
        if (wait.count() < 0) wait = std::chrono::nanoseconds(0);
        timespec timeout{static_cast<time_t>(wait.count() / 1'000'000'000),
                         static_cast<long>(wait.count() % 1'000'000'000)};
        pollfd fds[2] = {{masterFd_, static_cast<short>(input.size() < kInFlight ? POLLIN : 0), 0},
                         {wakeFd_, POLLIN, 0}};
        int ready = ::ppoll(fds, 2, &timeout, nullptr);
        if (ready <= 0) continue;
        if (fds[1].revents & POLLIN) {
            uint64_t count;
            (void)!::read(wakeFd_, &count, sizeof count);
        }
        if (fds[0].revents & POLLIN) {
            uint8_t buffer[kInFlight];
            ssize_t n = ::read(masterFd_, buffer, kInFlight - input.size());
            if (n > 0) {
                if (input.empty() && rxFree < Clock::now()) rxFree = Clock::now() + perByte;
                input.insert(input.end(), buffer, buffer + n);
            }
        } else if (fds[0].revents & (POLLHUP | POLLERR)) {
            // Nobody holds the host side: nothing to read until it is opened again.
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }
}

} // namespace Veltrano::Sim
