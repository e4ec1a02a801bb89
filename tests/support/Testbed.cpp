#include "Testbed.h"

#include <dirent.h>
#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace ApiTest {

namespace {

const char kIp[] = "/usr/sbin/ip";
const char kPrefix[] = "vtdisc-";
const char kNetnsDir[] = "/run/netns";
const char* const kSubnets[] = {"198.51.100", "203.0.113", "192.0.2"};
std::atomic<int> sCounter{0};

// Far namespaces whose test process is gone.
void sSweepStale() {
    DIR* dir = opendir(kNetnsDir);
    if (!dir) return;
    std::vector<std::string> stale;
    while (dirent* entry = readdir(dir)) {
        std::string name = entry->d_name;
        if (name.rfind(kPrefix, 0) != 0) continue;
        pid_t pid = static_cast<pid_t>(std::atol(name.c_str() + sizeof kPrefix - 1));
        if (pid > 0 && kill(pid, 0) != 0 && errno == ESRCH) stale.push_back(name);
    }
    closedir(dir);
    for (const std::string& name : stale)
        run({kIp, "netns", "del", name});
}

} // namespace

pid_t spawnProgram(const std::vector<std::string>& argv, int out) {
    std::vector<char*> args;
    for (const std::string& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (out >= 0) {
        posix_spawn_file_actions_adddup2(&actions, out, STDOUT_FILENO);
    } else {
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    }
    pid_t pid;
    int spawned = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    return spawned == 0 ? pid : -1;
}

bool run(const std::vector<std::string>& argv) {
    pid_t pid = spawnProgram(argv, -1);
    if (pid < 0) return false;
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

bool loopbackMulticastOn() {
    return run({kIp, "link", "set", "lo", "multicast", "on"});
}

std::string Testbed::unavailableReason() {
    if (geteuid() != 0) return "the test network needs root: run the test under tests/netns-run";
    if (access(kIp, X_OK) != 0) return "the test network needs /usr/sbin/ip (package iproute2)";
    std::string probe = std::string(kPrefix) + std::to_string(getpid()) + "-probe";
    if (!run({kIp, "netns", "add", probe}))
        return "the test network cannot be made: 'ip netns add' is refused here";
    run({kIp, "netns", "del", probe});
    return "";
}

Testbed::Testbed() {
    sSweepStale();
    serial_ = sCounter++;
    far_ = std::string(kPrefix) + std::to_string(getpid()) + "-" + std::to_string(serial_);
    run({kIp, "netns", "del", far_});
    if (!run({kIp, "netns", "add", far_}) || !run({kIp, "-n", far_, "link", "set", "lo", "up"}) ||
        !run({kIp, "-n", far_, "link", "set", "lo", "multicast", "on"}))
        throw std::runtime_error("cannot create network namespace " + far_);
}

Testbed::~Testbed() {
    // Deleting a pair takes both ends at once; a namespace's own interfaces go only
    // some time after the namespace.
    for (const VethLink& link : links_)
        run({kIp, "link", "del", link.nearName});
    run({kIp, "netns", "del", far_});
}

VethLink Testbed::addLink() {
    size_t index = links_.size();
    if (index >= sizeof kSubnets / sizeof kSubnets[0]) throw std::logic_error("no subnet left");
    std::string tag =
        std::to_string(getpid() % 100000) + "-" + std::to_string(serial_) + "-" + std::to_string(index);
    VethLink link{"vn" + tag, "vf" + tag, std::string(kSubnets[index]) + ".1",
                  std::string(kSubnets[index]) + ".2", std::string(kSubnets[index]) + ".255"};
    bool made =
        run({kIp, "link", "add", link.nearName, "type", "veth", "peer", "name", link.farName, "netns",
             far_}) &&
        run({kIp, "addr", "add", link.nearAddress + "/24", "brd", "+", "dev", link.nearName}) &&
        run({kIp, "link", "set", link.nearName, "multicast", "on", "up"}) &&
        run({kIp, "-n", far_, "addr", "add", link.farAddress + "/24", "brd", "+", "dev", link.farName}) &&
        run({kIp, "-n", far_, "link", "set", link.farName, "multicast", "on", "up"});
    if (!made) throw std::runtime_error("cannot create veth pair " + link.nearName);
    links_.push_back(link);
    return link;
}

void Testbed::inFar(const std::function<void()>& f) const {
    std::exception_ptr failure;
    std::thread thread([&] {
        try {
            int fd = open((std::string(kNetnsDir) + "/" + far_).c_str(), O_RDONLY | O_CLOEXEC);
            bool entered = fd >= 0 && setns(fd, CLONE_NEWNET) == 0;
            if (fd >= 0) close(fd);
            if (!entered) throw std::runtime_error("cannot enter " + far_);
            f();
        } catch (...) {
            failure = std::current_exception();
        }
    });
    thread.join();
    if (failure) std::rethrow_exception(failure);
}

std::vector<std::string> Testbed::farCommand() const {
    return {kIp, "netns", "exec", far_};
}

} // namespace ApiTest
