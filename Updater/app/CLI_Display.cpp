#include "CLI_Display.h"

#include <unistd.h>

#include <cstring>

namespace {

const int kLineWidth = 88;
const int kBarWidth = 69;
const int kLabelledBarWidth = 65;
const char kBarFill[] = "=====================================================================";
static_assert(sizeof kBarFill - 1 == kBarWidth, "the bar fill covers the widest bar");

const char* const kActivityFrames[] = {".", "..", "...", "....", ".....", "....", "...", ".."};
const unsigned kActivityFrameCount = sizeof kActivityFrames / sizeof kActivityFrames[0];

// Shared by every display: the indicator keeps moving whoever draws it.
unsigned char sActivityFrame = 0;

} // namespace

CLI_Display::CLI_Display(FILE* out, FILE* err) : m_out(out), m_err(err) {
    setQuiet(false);
    setvbuf(m_out, nullptr, _IONBF, 0);
    setvbuf(m_err, nullptr, _IONBF, 0);
}

bool CLI_Display::outIsTerminal() const {
    return isatty(fileno(m_out)) == 1;
}

void CLI_Display::blankLine() {
    fprintf(m_out, "\r%*s\r", kLineWidth, " ");
}

void CLI_Display::clearLine(bool keep) {
    if (!keep && outIsTerminal()) blankLine();
}

void CLI_Display::showProgress(double fraction, const char* label) {
    if (!outIsTerminal()) return;
    // Out-of-range fractions would print a bar wider than its brackets.
    if (!(fraction >= 0.0)) fraction = 0.0;
    if (fraction > 1.0) fraction = 1.0;
    int width = kBarWidth;
    if (label) {
        width = kLabelledBarWidth - static_cast<int>(strlen(label));
        if (width < 0) width = 0;
    }
    int filled = static_cast<int>(width * fraction);
    int percent = static_cast<int>(fraction * 100.0);
    int pad = width - filled - 1;
    if (label)
        fprintf(m_out, "\r (%s) [%.*s>%*s] (%3d%% )", label, filled, kBarFill, pad, "", percent);
    else
        fprintf(m_out, "\r[%.*s>%*s] (%3d%% )", filled, kBarFill, pad, "", percent);
}

void CLI_Display::showActivity(bool active, const char* label) {
    if (!outIsTerminal()) return;
    if (!active) {
        blankLine();
        return;
    }
    const char* frame = kActivityFrames[sActivityFrame % kActivityFrameCount];
    if (label)
        fprintf(m_out, "\r (%s) %s      \r", label, frame);
    else
        fprintf(m_out, "\r %s      \r", frame);
    sActivityFrame = static_cast<unsigned char>((sActivityFrame + 1) % kActivityFrameCount);
}

void CLI_Display::showMessage(const char* text) {
    fprintf(m_out, "%s\n", text);
}

void CLI_Display::showError(const char* text) {
    fprintf(m_err, "%s\n", text);
}
