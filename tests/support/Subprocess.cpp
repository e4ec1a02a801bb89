#include "Subprocess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

extern char** environ;

namespace {

std::vector<std::string> childEnvironment(const SubprocessOptions& options) {
    std::vector<std::string> env;
    auto overridden = [&](const std::string& entry) {
        std::string name = entry.substr(0, entry.find('='));
        return options.setEnv.count(name) != 0 ||
               std::find(options.unsetEnv.begin(), options.unsetEnv.end(), name) != options.unsetEnv.end();
    };
    for (char** e = environ; *e; ++e)
        if (!overridden(*e)) env.emplace_back(*e);
    for (const auto& [name, value] : options.setEnv)
        env.push_back(name + "=" + value);
    return env;
}

std::vector<char*> pointers(std::vector<std::string>& texts) {
    std::vector<char*> p;
    for (std::string& t : texts)
        p.push_back(t.data());
    p.push_back(nullptr);
    return p;
}

void closeFd(int& fd) {
    if (fd >= 0) close(fd);
    fd = -1;
}

} // namespace

SubprocessResult runSubprocess(const std::string& program, const std::vector<std::string>& args,
                               const SubprocessOptions& options) {
    SubprocessResult result;
    // Everything the child needs is prepared before fork: after it only
    // async-signal-safe calls are allowed.
    std::vector<std::string> argTexts{program};
    argTexts.insert(argTexts.end(), args.begin(), args.end());
    std::vector<std::string> envTexts = childEnvironment(options);
    std::vector<char*> argv = pointers(argTexts);
    std::vector<char*> envp = pointers(envTexts);
    const char* cwd = options.workingDirectory.empty() ? nullptr : options.workingDirectory.c_str();

    int inPipe[2], outPipe[2], errPipe[2];
    if (pipe2(inPipe, O_CLOEXEC) != 0) return result;
    if (pipe2(outPipe, O_CLOEXEC) != 0) {
        close(inPipe[0]), close(inPipe[1]);
        return result;
    }
    if (pipe2(errPipe, O_CLOEXEC) != 0) {
        close(inPipe[0]), close(inPipe[1]), close(outPipe[0]), close(outPipe[1]);
        return result;
    }

    pid_t pid = fork();
    if (pid == 0) {
        dup2(inPipe[0], STDIN_FILENO);
        dup2(outPipe[1], STDOUT_FILENO);
        dup2(errPipe[1], STDERR_FILENO);
        if (cwd && chdir(cwd) != 0) _exit(127);
        execve(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    int toChild = inPipe[1], fromOut = outPipe[0], fromErr = errPipe[0];
    close(inPipe[0]), close(outPipe[1]), close(errPipe[1]);
    if (pid < 0) {
        closeFd(toChild), closeFd(fromOut), closeFd(fromErr);
        return result;
    }
    result.started = true;

    // The child may exit without reading its input: a write must not raise SIGPIPE.
    signal(SIGPIPE, SIG_IGN);
    size_t inputSent = 0;
    if (options.input.empty())
        closeFd(toChild);
    else
        fcntl(toChild, F_SETFL, O_NONBLOCK);

    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(options.timeoutMs);
    while (fromOut >= 0 || fromErr >= 0) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline -
                                                                          std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            result.timedOut = true;
            break;
        }
        pollfd fds[3];
        int n = 0;
        if (fromOut >= 0) fds[n++] = {fromOut, POLLIN, 0};
        if (fromErr >= 0) fds[n++] = {fromErr, POLLIN, 0};
        if (toChild >= 0) fds[n++] = {toChild, POLLOUT, 0};
        int ready = poll(fds, n, static_cast<int>(std::min<long long>(left.count(), 1000)));
        if (ready < 0 && errno != EINTR) break;
        for (int i = 0; i < n && ready > 0; ++i) {
            if (fds[i].revents == 0) continue;
            if (fds[i].fd == toChild) {
                ssize_t w =
                    write(toChild, options.input.data() + inputSent, options.input.size() - inputSent);
                if (w > 0) inputSent += static_cast<size_t>(w);
                if (w < 0 && errno != EAGAIN && errno != EINTR) inputSent = options.input.size();
                if (inputSent == options.input.size()) closeFd(toChild);
                continue;
            }
            char buffer[4096];
            ssize_t r = read(fds[i].fd, buffer, sizeof buffer);
            if (r < 0 && (errno == EINTR || errno == EAGAIN)) continue;
            std::string& sink = fds[i].fd == fromOut ? result.out : result.err;
            if (r > 0) {
                sink.append(buffer, static_cast<size_t>(r));
            } else {
                closeFd(fds[i].fd == fromOut ? fromOut : fromErr);
            }
        }
    }
    closeFd(toChild), closeFd(fromOut), closeFd(fromErr);

    int status = 0;
    if (result.timedOut) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
    } else {
        // The pipes are closed; a child that lingers after closing them gets the
        // rest of the time limit, then is killed.
        while (waitpid(pid, &status, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() >= deadline) {
                result.timedOut = true;
                kill(pid, SIGKILL);
                waitpid(pid, &status, 0);
                break;
            }
            usleep(1000);
        }
    }
    if (!result.timedOut && WIFEXITED(status)) result.exitStatus = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
    return result;
}
