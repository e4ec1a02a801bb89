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

bool decode(const std::string& text, std::vector<uint8_t>& bytes) {
    bytes.clear();
    const size_t length = text.size();
    if (length % 4 != 0) return false;
    size_t padding = 0;
    if (length > 0 && text[length - 1] == '=') padding++;
    if (length > 1 && text[length - 2] == '=') padding++;
    // "x=y=" style: a second-to-last "=" needs the last one too.
    if (padding == 1 && text[length - 1] != '=') return false;

    std::vector<uint8_t> out(length / 4 * 3 - padding);
    const unsigned char* in = reinterpret_cast<const unsigned char*>(text.data());
    uint8_t* o = out.data();
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
    bytes.swap(out);
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
