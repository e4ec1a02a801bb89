#include "RunningProgram.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include "aTime.h"

extern char** environ;

RunningProgram::RunningProgram(const std::string& program, std::vector<std::string> args, bool quiet) {
    args.insert(args.begin(), program);
    int out[2];
    if (::pipe(out) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    if (quiet) posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    std::vector<char*> argv;
    for (std::string& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    out_ = out[0];
}

RunningProgram::~RunningProgram() {
    if (pid_ > 0) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }
    if (out_ >= 0) ::close(out_);
}

std::string RunningProgram::nextLine() {
    std::string line;
    char c;
    while (line.find('\n') == std::string::npos) {
        pollfd p{out_, POLLIN, 0};
        if (::poll(&p, 1, 5000) <= 0 || ::read(out_, &c, 1) != 1) break;
        line += c;
    }
    if (!line.empty() && line.back() == '\n') line.pop_back();
    return line;
}

int RunningProgram::terminate(int signal) {
    ::kill(pid_, signal);
    return awaitExit();
}

int RunningProgram::awaitExit() {
    for (int i = 0; i < 500; ++i) {
        int status = 0;
        if (::waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        }
        aTime_MSSleep(10);
    }
    return -1;
}
