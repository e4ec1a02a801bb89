// A small network for discovery tests: a "far" network namespace of the test's own,
// joined to this process's namespace (a fresh one: every test runs in its own) by veth
// pairs with documentation-range addresses. Emulators run on the far side (in-process
// through inFar, or as programs through farCommand), discovery on the near side. The far
// namespace and the veths go away when the testbed is destroyed, also when a test fails;
// namespaces left by a test process that died are swept by the next testbed.
#pragma once

#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

namespace ApiTest {

struct VethLink {
    std::string nearName, farName;
    std::string nearAddress, farAddress, broadcast; // dotted
};

class Testbed {
  public:
    // Empty when a testbed can be made here; otherwise why not (for VELTRANO_REQUIRE).
    static std::string unavailableReason();

    Testbed();
    ~Testbed();
    Testbed(const Testbed&) = delete;
    Testbed& operator=(const Testbed&) = delete;

    // A new veth pair on the next subnet (198.51.100.0/24, 203.0.113.0/24, 192.0.2.0/24);
    // the near end .1, the far end .2, both up with the MULTICAST flag. No route for the
    // discovery group: requests must go out through the interface discovery names.
    VethLink addLink();

    // Runs f on a thread that has entered the far namespace: sockets f makes belong there.
    void inFar(const std::function<void()>& f) const;

    // argv prefix that runs a program in the far namespace.
    std::vector<std::string> farCommand() const;

    const std::string& farName() const { return far_; }
    const std::vector<VethLink>& links() const { return links_; }

  private:
    int serial_;
    std::string far_;
    std::vector<VethLink> links_;
};

// Starts a program (argv[0] a path) with its standard output on out, or with standard
// output and error silenced when out is -1; its process id, or -1.
pid_t spawnProgram(const std::vector<std::string>& argv, int out);

// Runs a command (argv), quietly; true when it exited 0.
bool run(const std::vector<std::string>& argv);

// Sets the loopback interface's MULTICAST flag in this namespace.
bool loopbackMulticastOn();

} // namespace ApiTest
