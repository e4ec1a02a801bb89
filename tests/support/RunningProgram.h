// A program (an emulator) started as a child process that keeps running: its
// standard output on a pipe for the line it announces itself with, ended by a
// signal. Killed when the object goes.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

class RunningProgram {
  public:
    // program is a path; args exclude argv[0]. quiet sends its standard error to
    // /dev/null.
    RunningProgram(const std::string& program, std::vector<std::string> args, bool quiet = false);
    ~RunningProgram();
    RunningProgram(const RunningProgram&) = delete;
    RunningProgram& operator=(const RunningProgram&) = delete;

    // The next line of output without its line end, waiting at most 5 s for it.
    std::string nextLine();
    // The line a program announces itself with: its first.
    std::string firstLine() { return nextLine(); }
    // Sends the signal and answers the exit status (-1 when it does not end within 5 s).
    int terminate(int signal = 15);
    // The exit status, or 128 + the signal that ended it; -1 when it does not end within 5 s.
    int awaitExit();

  private:
    pid_t pid_ = -1;
    int out_ = -1;
};
