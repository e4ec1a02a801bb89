// The program's entry point: parses the command line, prints the banner and the
// usage, resolves the store root and runs the requested commands in their fixed
// order. Returns the process exit status, 0 or 1.
#ifndef UPDATER_MAIN_H
#define UPDATER_MAIN_H

int updaterMain(int argc, const char* const* argv);

#endif
