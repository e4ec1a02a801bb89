// A display that keeps what it is shown instead of drawing it: a module updated
// beside others must not write into their lines, so its own lines wait until
// it is done. Progress and activity have no place there and are dropped.
#ifndef UPDATER_BUFFEREDDISPLAY_H
#define UPDATER_BUFFEREDDISPLAY_H

#include <string>
#include <vector>

#include "UpdateResult.h"
#include "UpdaterDisplayInterface.h"

class BufferedDisplay : public UpdaterDisplayInterface {
  public:
    void clearLine(bool) override {}
    void showProgress(double, const char*) override {}
    void showActivity(bool, const char*) override {}
    void showMessage(const char* text) override {
        m_messages.emplace_back(text);
        m_lines.push_back({false, text});
    }
    void showError(const char* text) override {
        m_errors.emplace_back(text);
        m_lines.push_back({true, text});
    }

    const std::vector<std::string>& messages() const { return m_messages; }
    const std::vector<std::string>& errors() const { return m_errors; }
    // Both kinds in the order shown, so they can be replayed as they were meant.
    const std::vector<ShownLine>& lines() const { return m_lines; }

  private:
    std::vector<ShownLine> m_lines;
    std::vector<std::string> m_messages;
    std::vector<std::string> m_errors;
};

#endif
