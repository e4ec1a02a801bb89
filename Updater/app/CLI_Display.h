// The console display: messages on standard output, errors on standard error,
// and the progress bar and activity indicator redrawn in place with "\r" when
// standard output is a terminal (nothing at all otherwise).
#ifndef UPDATER_CLI_DISPLAY_H
#define UPDATER_CLI_DISPLAY_H

#include <cstdio>

#include "UpdaterDisplayInterface.h"

class CLI_Display : public UpdaterDisplayInterface {
  public:
    // Both streams are switched to unbuffered mode so every redraw reaches the
    // console at once. Tests hand in their own streams.
    explicit CLI_Display(FILE* out = stdout, FILE* err = stderr);

    void clearLine(bool keep) override;
    void showProgress(double fraction, const char* label) override;
    void showActivity(bool active, const char* label) override;
    void showMessage(const char* text) override;
    void showError(const char* text) override;

  private:
    bool outIsTerminal() const;
    void blankLine();

    FILE* m_out;
    FILE* m_err;
};

#endif
