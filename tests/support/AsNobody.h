// Runs a check in a forked child, within a time limit, optionally as an unprivileged
// user: for tests of permission and resource-limit failures that root (which the tests
// run as) would never meet, and for calls that could block for good.
#pragma once

#include <errno.h>
#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

// Calls body in a child process (as nobody, uid and gid 65534, when unprivileged) and
// returns the child's exit status, which body's result becomes: by convention the
// number of failed checks. 100 when the child could not drop its privileges, 101 when
// it did not exit normally, 102 when it ran longer than timeoutMs and was killed, 103
// when body threw. The child leaves with _exit, so no exit handlers run twice.
template <class Body> int inChild(Body body, int timeoutMs = 20000, bool unprivileged = false) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (unprivileged && ::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(100);
        // An exception must not carry the child back into the test runner.
        try {
            ::_exit(body());
        } catch (...) {
            ::_exit(103);
        }
    }
    if (pid < 0) return 101;
    int status = 0;
    for (int waited = 0;; waited += 10) {
        const pid_t ended = ::waitpid(pid, &status, WNOHANG);
        if (ended == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : 101;
        if (ended < 0 && errno != EINTR) return 101;
        if (waited >= timeoutMs) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            return 102;
        }
        const struct timespec slice = {0, 10 * 1000 * 1000};
        ::nanosleep(&slice, nullptr);
    }
}

// inChild as nobody.
template <class Body> int asNobody(Body body, int timeoutMs = 20000) {
    return inChild(body, timeoutMs, true);
}
