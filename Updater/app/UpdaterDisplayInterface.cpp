#include "UpdaterDisplayInterface.h"

#include <cstdarg>
#include <cstdio>

void displayPrintf(UpdaterDisplayInterface* display, int level, const char* format, ...) {
    if (!display || display->isQuiet()) return;
    char text[2048];
    va_list args;
    va_start(args, format);
    int n = vsnprintf(text, sizeof text, format, args);
    va_end(args);
    if (n < 0) return;
    if (level == 1)
        display->showError(text);
    else
        display->showMessage(text);
}

void displayField(UpdaterDisplayInterface* display, const char* label, const char* value) {
    displayPrintf(display, 0, "%-19s%s", label, value);
}
