// Command lines of any content: the parser must never crash or read past an argument.
#include <cstdint>
#include <string>
#include <vector>

#include "UpdaterOptions.h"

namespace {
class SilentDisplay : public UpdaterDisplayInterface {
  public:
    void clearLine(bool) override {}
    void showProgress(double, const char*) override {}
    void showActivity(bool, const char*) override {}
    void showMessage(const char*) override {}
    void showError(const char*) override {}
};
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Arguments are separated by NUL bytes.
    std::vector<std::string> args{"Updater"};
    std::string current;
    for (size_t i = 0; i < size; ++i) {
        if (data[i] == 0) {
            args.push_back(current);
            current.clear();
        } else {
            current += static_cast<char>(data[i]);
        }
    }
    args.push_back(current);
    std::vector<const char*> argv;
    for (const std::string& a : args)
        argv.push_back(a.c_str());
    SilentDisplay display;
    UpdaterOptions options;
    parseUpdaterOptions(&display, static_cast<int>(argv.size()), argv.data(), options);
    return 0;
}
