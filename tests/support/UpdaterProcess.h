// Runs the built Updater for end-to-end tests.
#pragma once

#include <string>
#include <vector>

#include "Subprocess.h"

// The Updater under test.
extern const std::string kUpdaterProgram;

// Runs the Updater with args and HOME set to home, so that a run without -i never
// touches the real store; killed when it runs longer than 30 s.
SubprocessResult runUpdater(const std::vector<std::string>& args, const std::string& home);
