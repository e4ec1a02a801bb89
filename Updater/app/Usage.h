// The usage texts, printed on standard error.
#ifndef UPDATER_USAGE_H
#define UPDATER_USAGE_H

// Without full only the short usage; with full also the parameters and commands,
// the extended section (when extended) and the sample usage.
void printUsage(bool extended, bool full);

#endif
