// Runs a program as a child process and captures what it writes: standard output,
// standard error and its exit status, within a time limit. Used by the end-to-end
// tests that run the built programs.
#pragma once

#include <map>
#include <string>
#include <vector>

struct SubprocessOptions {
    // Variables set (or replaced) in the child's environment, which otherwise is
    // this process's own.
    std::map<std::string, std::string> setEnv;
    // Variables removed from the child's environment.
    std::vector<std::string> unsetEnv;
    // Working directory of the child; empty: this process's.
    std::string workingDirectory;
    // Bytes fed to the child's standard input, which is then closed.
    std::string input;
    // The child is killed (SIGKILL) when it runs longer than this.
    int timeoutMs = 30000;
};

struct SubprocessResult {
    std::string out;
    std::string err;
    // The exit status when the child exited; -1 when it was killed by a signal,
    // timed out or could not be started.
    int exitStatus = -1;
    int signal = 0; // the signal that ended it, if any
    bool timedOut = false;
    bool started = false;
};

// program is a path (no search through PATH); args excludes argv[0], which is program.
SubprocessResult runSubprocess(const std::string& program, const std::vector<std::string>& args,
                               const SubprocessOptions& options = {});
