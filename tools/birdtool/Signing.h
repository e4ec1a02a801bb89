// birdtool's signing commands: key pairs, detached signatures and their checks in
// minisign's formats, for labs without minisign installed.
#pragma once

// Each takes the arguments after birdtool's own name (argv[0] is the command) and
// returns the exit status: 0, 1 on failure, 2 on a usage error (said on stderr).
int keygenCommand(int argc, char** argv);
int signCommand(int argc, char** argv);
int verifyCommand(int argc, char** argv);

extern const char* const signingUsageText;
