// What the user reads: one-line messages, error lines, a progress bar and an
// activity indicator. One display is created by the entry point and handed by
// pointer to every part that reports to the user.
#ifndef UPDATER_DISPLAYINTERFACE_H
#define UPDATER_DISPLAYINTERFACE_H

class UpdaterDisplayInterface {
  public:
    // keep true leaves the current line alone; false blanks it (terminal only).
    virtual void clearLine(bool keep) = 0;
    // fraction 0.0 to 1.0; label may be null.
    virtual void showProgress(double fraction, const char* label) = 0;
    // Draws the next frame while active; blanks the line when it ends. label may be null.
    virtual void showActivity(bool active, const char* label) = 0;
    // One line on standard output; the display adds the line end.
    virtual void showMessage(const char* text) = 0;
    // One line on standard error; the display adds the line end.
    virtual void showError(const char* text) = 0;

    // A quiet display drops everything displayPrintf hands it.
    void setQuiet(bool quiet) { m_quiet = quiet; }
    bool isQuiet() const { return m_quiet; }

  protected:
    UpdaterDisplayInterface() = default;
    ~UpdaterDisplayInterface() = default;

  private:
    bool m_quiet = false;
};

// Formats a message (cut to 2047 characters) and shows it: level 1 as an error,
// any other level as a message. Nothing happens on a quiet display.
void displayPrintf(UpdaterDisplayInterface* display, int level, const char* format, ...)
    __attribute__((format(printf, 3, 4)));

// One "Label:   value" message whose value starts in column 20, the layout of the
// record and file summaries (-I, -C) and of birdtool info.
void displayField(UpdaterDisplayInterface* display, const char* label, const char* value);

#endif
