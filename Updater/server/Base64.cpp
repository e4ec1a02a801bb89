#include "Base64.h"

#include <array>

namespace {

const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
const uint8_t kInvalid = 0xFF;

// Character -> 6-bit value, kInvalid for everything outside the alphabet ("=" included).
std::array<uint8_t, 256> makeTable() {
    std::array<uint8_t, 256> table;
    table.fill(kInvalid);
    for (uint8_t i = 0; i < 64; i++)
        table[static_cast<uint8_t>(kAlphabet[i])] = i;
    return table;
}

const std::array<uint8_t, 256> kTable = makeTable();

} // namespace

namespace Base64 {

namespace {

// Output length of a well-formed text, or false. Refuses a length that is not a
// multiple of four and "=" anywhere but in the last one or two places.
bool decodedLength(const unsigned char* in, size_t length, size_t& padding, size_t& decoded) {
    if (length % 4 != 0) return false;
    padding = 0;
    if (length > 0 && in[length - 1] == '=') padding++;
    if (length > 1 && in[length - 2] == '=') padding++;
    // "x=y=" style: a second-to-last "=" needs the last one too.
    if (padding == 1 && in[length - 1] != '=') return false;
    decoded = length / 4 * 3 - padding;
    return true;
}

// Decodes length characters to out, which may be in itself: each group is read whole
// before its three bytes are written, and they land at or before where it was read.
// False on a character outside the alphabet.
bool decodeGroups(const unsigned char* in, size_t length, size_t padding, uint8_t* out) {
    uint8_t* o = out;
    // Whole groups: four lookups, one test (an invalid character has the top bits set).
    const size_t whole = padding > 0 ? length - 4 : length;
    for (size_t i = 0; i < whole; i += 4, o += 3) {
        const uint8_t a = kTable[in[i]], b = kTable[in[i + 1]], c = kTable[in[i + 2]], d = kTable[in[i + 3]];
        if ((a | b | c | d) & 0xC0) return false;
        const uint32_t group = (uint32_t(a) << 18) | (uint32_t(b) << 12) | (uint32_t(c) << 6) | d;
        o[0] = static_cast<uint8_t>(group >> 16);
        o[1] = static_cast<uint8_t>(group >> 8);
        o[2] = static_cast<uint8_t>(group);
    }
    if (padding > 0) {
        const size_t i = length - 4;
        const uint8_t a = kTable[in[i]], b = kTable[in[i + 1]];
        const uint8_t c = padding == 1 ? kTable[in[i + 2]] : 0;
        if ((a | b | c) & 0xC0) return false;
        const uint32_t group = (uint32_t(a) << 18) | (uint32_t(b) << 12) | (uint32_t(c) << 6);
        o[0] = static_cast<uint8_t>(group >> 16);
        if (padding == 1) o[1] = static_cast<uint8_t>(group >> 8);
    }
    return true;
}

} // namespace

bool decode(const std::string& text, std::vector<uint8_t>& bytes) {
    bytes.clear();
    const unsigned char* in = reinterpret_cast<const unsigned char*>(text.data());
    size_t padding = 0, length = 0;
    if (!decodedLength(in, text.size(), padding, length)) return false;
    std::vector<uint8_t> out(length);
    if (!decodeGroups(in, text.size(), padding, out.data())) return false;
    bytes.swap(out);
    return true;
}

bool decodeInPlace(std::string& text) {
    unsigned char* in = reinterpret_cast<unsigned char*>(&text[0]);
    size_t padding = 0, length = 0;
    if (!decodedLength(in, text.size(), padding, length)) return false;
    if (!decodeGroups(in, text.size(), padding, in)) return false;
    text.resize(length);
    return true;
}

std::string encode(const uint8_t* bytes, size_t length) {
    std::string text((length + 2) / 3 * 4, '=');
    char* out = &text[0];
    size_t i = 0;
    for (; i + 3 <= length; i += 3, out += 4) {
        const uint32_t group = (uint32_t(bytes[i]) << 16) | (uint32_t(bytes[i + 1]) << 8) | bytes[i + 2];
        out[0] = kAlphabet[group >> 18];
        out[1] = kAlphabet[(group >> 12) & 0x3F];
        out[2] = kAlphabet[(group >> 6) & 0x3F];
        out[3] = kAlphabet[group & 0x3F];
    }
    const size_t rest = length - i;
    if (rest > 0) {
        const uint32_t group = (uint32_t(bytes[i]) << 16) | (rest == 2 ? uint32_t(bytes[i + 1]) << 8 : 0);
        out[0] = kAlphabet[group >> 18];
        out[1] = kAlphabet[(group >> 12) & 0x3F];
        if (rest == 2) out[2] = kAlphabet[(group >> 6) & 0x3F];
    }
    return text;
}

} // namespace Base64
