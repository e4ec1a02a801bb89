#include "DiscoveryHarness.h"

#include "Testbed.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>

namespace ApiTest {

namespace {

struct Collector {
    DiscoveryRun* run;
    size_t stopAfter;
};

bool sCollect(const linkSpec* spec, bool* found, void* ref) {
    Collector* c = static_cast<Collector*>(ref);
    c->run->specs.push_back(*spec);
    *found = true;
    return c->stopAfter == 0 || c->run->specs.size() < c->stopAfter;
}

int sEntries(const char* path) {
    DIR* dir = opendir(path);
    if (!dir) return -1;
    int count = 0;
    while (dirent* entry = readdir(dir))
        if (entry->d_name[0] != '.') count++;
    closedir(dir);
    return count - (std::strcmp(path, "/proc/self/fd") == 0 ? 1 : 0); // the listing's own
}

} // namespace

DiscoveryRun discover(linkType type, uint32 networkInterface, size_t stopAfter) {
    DiscoveryRun run;
    Collector collector{&run, stopAfter};
    auto start = std::chrono::steady_clock::now();
    run.count = aDiscovery_EnumerateModules(type, sCollect, &collector, networkInterface);
    run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return run;
}

uint32 ipv4(const char* dotted) {
    in_addr a{};
    inet_pton(AF_INET, dotted, &a);
    return a.s_addr;
}

linkSpec serverSpec(uint32 serialNumber, const char* ip, uint16 port, uint32 model) {
    linkSpec spec = {};
    spec.type = ASOLVAN;
    spec.serialNumber = serialNumber;
    spec.model = model;
    spec.ipAddress = ipv4(ip);
    spec.ipPort = port;
    return spec;
}

std::string payloadOf(const linkSpec& spec) {
    return std::string(reinterpret_cast<const char*>(&spec), sizeof spec);
}

UdpFlooder::UdpFlooder(const char* host, uint16_t port, std::string datagram, int intervalMs)
    : socket_(socket(AF_INET, SOCK_DGRAM, 0)) {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = ipv4(host);
    thread_ = std::thread([this, to, datagram, intervalMs] {
        while (!stop_) {
            if (sendto(socket_, datagram.data(), datagram.size(), 0, reinterpret_cast<const sockaddr*>(&to),
                       sizeof to) >= 0)
                sent_++;
            std::this_thread::sleep_for(std::chrono::milliseconds(intervalMs));
        }
    });
}

UdpFlooder::~UdpFlooder() {
    stop_ = true;
    thread_.join();
    close(socket_);
}

BackgroundProgram::BackgroundProgram(const std::vector<std::string>& argv) {
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) return;
    pid_ = spawnProgram(argv, out[1]);
    close(out[1]);
    out_ = out[0];
}

BackgroundProgram::~BackgroundProgram() {
    stop();
    if (out_ >= 0) close(out_);
}

std::string BackgroundProgram::firstLine(int timeoutMs) {
    std::string line;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    char c;
    while (out_ >= 0 && line.find('\n') == std::string::npos) {
        int left = static_cast<int>(
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now())
                .count());
        pollfd p{out_, POLLIN, 0};
        if (left <= 0 || poll(&p, 1, left) <= 0 || read(out_, &c, 1) != 1) break;
        line += c;
    }
    return line;
}

int BackgroundProgram::stop() {
    if (pid_ <= 0) return -1;
    kill(pid_, SIGTERM);
    int status = 0;
    bool ended = false;
    for (int i = 0; i < 500 && !ended; i++) {
        ended = waitpid(pid_, &status, WNOHANG) == pid_;
        if (!ended) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (!ended) {
        kill(pid_, SIGKILL);
        waitpid(pid_, &status, 0);
    }
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string program(const char* name) {
    return std::string(VELTRANO_BIN_DIR) + "/" + name;
}

int threadCount() {
    return sEntries("/proc/self/task");
}

int descriptorCount() {
    return sEntries("/proc/self/fd");
}

int settlesTo(int (*count)(), int bound, int timeoutMs) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    int seen = count();
    while (seen > bound && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        seen = count();
    }
    return seen;
}

int steadyCount(int (*count)(), int timeoutMs) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    int seen = count();
    for (int unchanged = 0; unchanged < 15 && std::chrono::steady_clock::now() < deadline; unchanged++) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        int now = count();
        if (now != seen) unchanged = -1;
        seen = now;
    }
    return seen;
}

} // namespace ApiTest
