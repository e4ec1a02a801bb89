// The "Update time: S.SSSS sec" line that ends a transfer's output.
#pragma once

#include <string>

// The standard output with its last line, the update time, checked and cut off;
// the output with "<no update time line>" appended when that line is missing or
// malformed.
std::string withoutUpdateTime(const std::string& out);
