// Text forms of the bytes that go to and come from the ISP boot ROM, for the
// diagnostic log.
#ifndef UPDATER_ISPTRACE_H
#define UPDATER_ISPTRACE_H

#include <cstddef>
#include <string>

namespace ISPTrace {

// "41 20 30": each byte as two hex digits, a space before every byte but the first.
std::string hexBytes(const char* bytes, size_t count);

// The bytes with every non-printable one as a space; with escapeLineEnds, "\r"
// and "\n" are written as the two characters \r and \n instead.
std::string printable(const char* bytes, size_t count, bool escapeLineEnds = false);

} // namespace ISPTrace

#endif
