// Detached Ed25519 signatures and public keys in minisign's text formats, so that
// builds signed with the standard minisign tool verify here and ours verify there.
//
// A public key file: an untrusted comment line, then the Base64 of "Ed", the 8-byte
// key id and the 32-byte Ed25519 key.
// A signature file: an untrusted comment line; the Base64 of the algorithm ("ED":
// the signature covers the BLAKE2b-512 hash of the file, "Ed": the file itself),
// the signer's key id and the 64-byte signature; the trusted comment line; the
// Base64 of the global signature, which covers the signature and the trusted
// comment's text, so the comment cannot be changed without the secret key.
//
// Parsing is strict and bounded: any deviation is refused with a reason, never
// guessed at. Lines end with "\n" ("\r\n" is accepted).
#ifndef UPDATER_MINISIGN_H
#define UPDATER_MINISIGN_H

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace minisign {

using KeyId = std::array<uint8_t, 8>;

constexpr size_t kPublicKeyBytes = 32;
constexpr size_t kSignatureBytes = 64;
// Longest text either parser reads: ample for any comment a signer writes.
constexpr size_t kMaxFileBytes = 16384;

extern const char kUntrustedPrefix[]; // "untrusted comment: "
extern const char kTrustedPrefix[];   // "trusted comment: "

struct PublicKey {
    KeyId keyId{};
    std::array<uint8_t, kPublicKeyBytes> key{};
};

struct Signature {
    bool prehashed = true; // "ED"; false for the legacy "Ed"
    KeyId keyId{};
    std::array<uint8_t, kSignatureBytes> signature{};
    std::string untrustedComment; // the text after its prefix
    std::string trustedComment;   // the text after its prefix, covered by globalSignature
    std::array<uint8_t, kSignatureBytes> globalSignature{};
};

// Both parsers return "" on success, else why the text was refused.
std::string parsePublicKey(const std::string& text, PublicKey& key);
std::string parseSignature(const std::string& text, Signature& signature);

// The file forms, as minisign writes them.
std::string formatPublicKey(const PublicKey& key, const std::string& untrustedComment);
std::string formatSignature(const Signature& signature);

// The key id as minisign shows it: the 8 bytes read as a little-endian number, in
// 16 upper-case hexadecimal digits.
std::string keyIdText(const KeyId& keyId);

// The Base64 line of a public key (what "minisign -P" takes).
std::string publicKeyLine(const PublicKey& key);

// Standard Base64 without line breaks, and its strict inverse (false on any
// character outside the alphabet, bad padding or a wrong length).
std::string toBase64(const uint8_t* bytes, size_t length);
bool fromBase64(const std::string& text, uint8_t* out, size_t expectedLength);

} // namespace minisign

#endif
