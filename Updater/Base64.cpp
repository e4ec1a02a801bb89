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
    size_t o = 0;
    for (size_t i = 0; i < length; i += 4) {
        uint32_t group = 0;
        const size_t digits = i + 4 <= length - padding ? 4 : 4 - padding;
        for (size_t k = 0; k < digits; k++) {
            const uint8_t value = kTable[static_cast<uint8_t>(text[i + k])];
            if (value == kInvalid) return false;
            group |= uint32_t(value) << (18 - 6 * k);
        }
        out[o++] = static_cast<uint8_t>(group >> 16);
        if (digits > 2) out[o++] = static_cast<uint8_t>(group >> 8);
        if (digits > 3) out[o++] = static_cast<uint8_t>(group);
    }
    bytes.swap(out);
    return true;
}

std::string encode(const uint8_t* bytes, size_t length) {
    std::string text;
    text.reserve((length + 2) / 3 * 4);
    size_t i = 0;
    for (; i + 3 <= length; i += 3) {
        const uint32_t group = (uint32_t(bytes[i]) << 16) | (uint32_t(bytes[i + 1]) << 8) | bytes[i + 2];
        text += kAlphabet[group >> 18];
        text += kAlphabet[(group >> 12) & 0x3F];
        text += kAlphabet[(group >> 6) & 0x3F];
        text += kAlphabet[group & 0x3F];
    }
    const size_t rest = length - i;
    if (rest > 0) {
        uint32_t group = uint32_t(bytes[i]) << 16;
        if (rest == 2) group |= uint32_t(bytes[i + 1]) << 8;
        text += kAlphabet[group >> 18];
        text += kAlphabet[(group >> 12) & 0x3F];
        text += rest == 2 ? kAlphabet[(group >> 6) & 0x3F] : '=';
        text += '=';
    }
    return text;
}

} // namespace Base64
