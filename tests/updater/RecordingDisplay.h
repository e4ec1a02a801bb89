// A display that keeps what it is shown, for tests of code that reports to the user.
#pragma once

#include <string>
#include <vector>

#include "UpdaterDisplayInterface.h"

class RecordingDisplay : public UpdaterDisplayInterface {
  public:
    void clearLine(bool) override {}
    void showProgress(double, const char*) override {}
    void showActivity(bool, const char*) override {}
    void showMessage(const char* text) override { messages.emplace_back(text); }
    void showError(const char* text) override { errors.emplace_back(text); }

    std::vector<std::string> messages;
    std::vector<std::string> errors;
};
