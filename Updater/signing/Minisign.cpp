#include "Minisign.h"

#include <sodium.h>

#include <cstdio>
#include <cstring>
#include <vector>

namespace minisign {

const char kUntrustedPrefix[] = "untrusted comment: ";
const char kTrustedPrefix[] = "trusted comment: ";

namespace {

const char kEd[2] = {'E', 'd'};
const char kPrehashed[2] = {'E', 'D'};
constexpr size_t kKeyBlobBytes = 2 + 8 + kPublicKeyBytes;
constexpr size_t kSignatureBlobBytes = 2 + 8 + kSignatureBytes;

// The text's lines without their ends; false when it is too long, holds a NUL or
// has more than maxLines lines (a final line end adds no line).
bool splitLines(const std::string& text, size_t maxLines, std::vector<std::string>& lines, std::string& why) {
    if (text.size() > kMaxFileBytes) {
        why = "longer than " + std::to_string(kMaxFileBytes) + " bytes";
        return false;
    }
    if (text.find('\0') != std::string::npos) {
        why = "holds a NUL byte";
        return false;
    }
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.find('\r') != std::string::npos) {
            why = "has a stray carriage return";
            return false;
        }
        if (lines.size() == maxLines) {
            why = "has more than " + std::to_string(maxLines) + " lines";
            return false;
        }
        lines.push_back(std::move(line));
        start = end + 1;
    }
    return true;
}

bool takeComment(const std::string& line, const char* prefix, std::string& comment) {
    const size_t length = strlen(prefix);
    if (line.compare(0, length, prefix) != 0) return false;
    comment = line.substr(length);
    return true;
}

} // namespace

std::string toBase64(const uint8_t* bytes, size_t length) {
    std::string text(sodium_base64_encoded_len(length, sodium_base64_VARIANT_ORIGINAL), '\0');
    sodium_bin2base64(&text[0], text.size(), bytes, length, sodium_base64_VARIANT_ORIGINAL);
    text.resize(strlen(text.c_str()));
    return text;
}

bool fromBase64(const std::string& text, uint8_t* out, size_t expectedLength) {
    // Exactly the encoded length of expectedLength: nothing more is even decoded.
    if (text.size() != sodium_base64_encoded_len(expectedLength, sodium_base64_VARIANT_ORIGINAL) - 1)
        return false;
    size_t decoded = 0;
    const char* end = nullptr;
    if (sodium_base642bin(out, expectedLength, text.data(), text.size(), nullptr, &decoded, &end,
                          sodium_base64_VARIANT_ORIGINAL) != 0)
        return false;
    return decoded == expectedLength && end == text.data() + text.size();
}

std::string parsePublicKey(const std::string& text, PublicKey& key) {
    std::vector<std::string> lines;
    std::string why;
    if (!splitLines(text, 2, lines, why)) return "public key " + why;
    std::string comment;
    if (lines.size() != 2) return "public key is not two lines";
    if (!takeComment(lines[0], kUntrustedPrefix, comment)) return "public key lacks its untrusted comment";
    uint8_t blob[kKeyBlobBytes];
    if (!fromBase64(lines[1], blob, sizeof blob)) return "public key is not a Base64 Ed25519 key";
    if (memcmp(blob, kEd, 2) != 0) return "public key is not for Ed25519";
    memcpy(key.keyId.data(), blob + 2, key.keyId.size());
    memcpy(key.key.data(), blob + 10, key.key.size());
    return "";
}

std::string parseSignature(const std::string& text, Signature& signature) {
    std::vector<std::string> lines;
    std::string why;
    if (!splitLines(text, 4, lines, why)) return "signature " + why;
    if (lines.size() != 4) return "signature is not four lines";
    if (!takeComment(lines[0], kUntrustedPrefix, signature.untrustedComment))
        return "signature lacks its untrusted comment";
    uint8_t blob[kSignatureBlobBytes];
    if (!fromBase64(lines[1], blob, sizeof blob)) return "signature line is not a Base64 Ed25519 signature";
    if (memcmp(blob, kPrehashed, 2) == 0)
        signature.prehashed = true;
    else if (memcmp(blob, kEd, 2) == 0)
        signature.prehashed = false;
    else
        return "signature algorithm is unknown";
    memcpy(signature.keyId.data(), blob + 2, signature.keyId.size());
    memcpy(signature.signature.data(), blob + 10, signature.signature.size());
    if (!takeComment(lines[2], kTrustedPrefix, signature.trustedComment))
        return "signature lacks its trusted comment";
    if (!fromBase64(lines[3], signature.globalSignature.data(), signature.globalSignature.size()))
        return "global signature is not Base64 of an Ed25519 signature";
    return "";
}

std::string publicKeyLine(const PublicKey& key) {
    uint8_t blob[kKeyBlobBytes];
    memcpy(blob, kEd, 2);
    memcpy(blob + 2, key.keyId.data(), key.keyId.size());
    memcpy(blob + 10, key.key.data(), key.key.size());
    return toBase64(blob, sizeof blob);
}

std::string formatPublicKey(const PublicKey& key, const std::string& untrustedComment) {
    return kUntrustedPrefix + untrustedComment + "\n" + publicKeyLine(key) + "\n";
}

std::string formatSignature(const Signature& signature) {
    uint8_t blob[kSignatureBlobBytes];
    memcpy(blob, signature.prehashed ? kPrehashed : kEd, 2);
    memcpy(blob + 2, signature.keyId.data(), signature.keyId.size());
    memcpy(blob + 10, signature.signature.data(), signature.signature.size());
    return kUntrustedPrefix + signature.untrustedComment + "\n" + toBase64(blob, sizeof blob) + "\n" +
           kTrustedPrefix + signature.trustedComment + "\n" +
           toBase64(signature.globalSignature.data(), signature.globalSignature.size()) + "\n";
}

std::string keyIdText(const KeyId& keyId) {
    char text[17];
    for (size_t i = 0; i < keyId.size(); ++i)
        snprintf(text + 2 * i, 3, "%02X", keyId[keyId.size() - 1 - i]);
    return text;
}

} // namespace minisign
