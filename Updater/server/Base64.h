// Standard Base64 (RFC 4648 alphabet with "+" and "/", "=" padding, no line breaks),
// the form in which the update server sends a BIRD file.
#ifndef UPDATER_BASE64_H
#define UPDATER_BASE64_H

#include <cstdint>
#include <string>
#include <vector>

namespace Base64 {

// Decodes text into bytes. Refuses (returns false, bytes left empty) a text whose
// length is not a multiple of four, a character outside the alphabet, and an "="
// anywhere but in the last one or two places of the text.
bool decode(const std::string& text, std::vector<uint8_t>& bytes);

// The same decoding, into the text's own storage: a build runs to megabytes, and a
// second buffer of that size costs more than the decoding itself. On success text
// holds the bytes; when refused (same rules as decode) its content is unspecified.
bool decodeInPlace(std::string& text);

// Encodes bytes, padded with "=" to a multiple of four characters.
std::string encode(const uint8_t* bytes, size_t length);

} // namespace Base64

#endif
