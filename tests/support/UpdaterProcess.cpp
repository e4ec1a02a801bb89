#include "UpdaterProcess.h"

const std::string kUpdaterProgram = VELTRANO_BIN_DIR "/Updater";

SubprocessResult runUpdater(const std::vector<std::string>& args, const std::string& home) {
    SubprocessOptions options;
    options.setEnv["HOME"] = home;
    options.timeoutMs = 30000;
    return runSubprocess(kUpdaterProgram, args, options);
}
