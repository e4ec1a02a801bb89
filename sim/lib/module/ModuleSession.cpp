#include "ModuleSession.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>

namespace Veltrano::Sim {

namespace {

constexpr int kStopCheckMs = 50;
constexpr int kWriteWaitMs = 1000;
constexpr int kAwayCheckMs = 20;

// A socket whose peer has gone answers EPIPE instead of killing the process
// with SIGPIPE; a pseudo-terminal is written plainly.
ssize_t writeSome(int fd, const uint8_t* bytes, size_t count) {
    ssize_t n = ::send(fd, bytes, count, MSG_NOSIGNAL);
    if (n < 0 && errno == ENOTSOCK) n = ::write(fd, bytes, count);
    return n;
}

// Writes everything, waiting at most kWriteWaitMs for room each time; a peer
// that stops reading loses the rest.
void writeAll(int fd, const uint8_t* bytes, size_t count) {
    while (count > 0) {
        ssize_t n = writeSome(fd, bytes, count);
        if (n > 0) {
            bytes += n;
            count -= static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            pollfd p{fd, POLLOUT, 0};
            if (::poll(&p, 1, kWriteWaitMs) > 0) continue;
        }
        return;
    }
}

int pollTimeout(const VirtualModule& module) {
    uint64_t due = module.dueMs();
    if (due == ModuleArea::kNever) return kStopCheckMs;
    uint64_t now = moduleClockMs();
    if (due <= now) return 0;
    return static_cast<int>(std::min<uint64_t>(due - now, kStopCheckMs));
}

} // namespace

SessionEnd runModuleSession(VirtualModule& module, int fd, const std::atomic<bool>& stop) {
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    module.connect([fd](const uint8_t* bytes, size_t count) { writeAll(fd, bytes, count); });
    SessionEnd end = SessionEnd::Stopped;
    uint8_t buffer[4096];
    while (!stop) {
        if (module.away()) {
            end = SessionEnd::Away;
            break;
        }
        pollfd p{fd, POLLIN, 0};
        int ready = ::poll(&p, 1, pollTimeout(module));
        if (ready < 0 && errno != EINTR) {
            end = SessionEnd::Error;
            break;
        }
        if (ready > 0) {
            ssize_t n = ::read(fd, buffer, sizeof buffer);
            if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) {
                end = n == 0 || errno == EIO || errno == ECONNRESET ? SessionEnd::PeerClosed
                                                                    : SessionEnd::Error;
                break;
            }
            if (n > 0) module.receive(buffer, static_cast<size_t>(n));
            if (module.away()) {
                end = SessionEnd::Away;
                break;
            }
            if (module.wantsClose()) {
                end = SessionEnd::FaultClose;
                break;
            }
        }
        module.tick(moduleClockMs());
    }
    module.disconnect();
    return end;
}

bool awaitModuleReturn(VirtualModule& module, int fd, const std::atomic<bool>& stop) {
    uint8_t buffer[4096];
    while (module.away()) {
        if (stop) return false;
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, fd >= 0 ? 1 : 0, kAwayCheckMs) > 0 && (p.revents & POLLIN))
            (void)!::read(fd, buffer, sizeof buffer);
    }
    return !stop;
}

ModuleRunner::ModuleRunner(VirtualModule& module, int fd) : module_(module), fd_(fd) {
    thread_ = std::thread([this] {
        runModuleSession(module_, fd_, stop_);
        ::close(fd_);
    });
}

ModuleRunner::~ModuleRunner() {
    stop();
}

void ModuleRunner::stop() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
}

} // namespace Veltrano::Sim
