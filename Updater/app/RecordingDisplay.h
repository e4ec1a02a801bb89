// A display that passes everything on to another and keeps the error lines, so a
// machine-readable result can say why a command failed in the words the user
// would have read.
#ifndef UPDATER_RECORDINGDISPLAY_H
#define UPDATER_RECORDINGDISPLAY_H

#include <string>
#include <vector>

#include "UpdaterDisplayInterface.h"

class RecordingDisplay : public UpdaterDisplayInterface {
  public:
    explicit RecordingDisplay(UpdaterDisplayInterface* target) : m_target(target) {}

    void clearLine(bool keep) override { m_target->clearLine(keep); }
    void showProgress(double fraction, const char* label) override { m_target->showProgress(fraction, label); }
    void showActivity(bool active, const char* label) override { m_target->showActivity(active, label); }
    void showMessage(const char* text) override { m_target->showMessage(text); }
    void showError(const char* text) override {
        m_errors.emplace_back(text);
        m_target->showError(text);
    }

    const std::vector<std::string>& errors() const { return m_errors; }

  private:
    UpdaterDisplayInterface* m_target; // not owned
    std::vector<std::string> m_errors;
};

#endif
