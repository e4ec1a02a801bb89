// Ed25519 secret keys in minisign's secret key file, so keys made by either tool
// sign with the other. The file is an untrusted comment line and the Base64 of:
// "Ed", the key derivation ("Sc" for scrypt, two zero bytes for none), the checksum
// algorithm "B2", a 32-byte salt, the scrypt operations and memory limits (8 bytes
// each, little-endian), then the key id, the 64-byte secret key and a BLAKE2b-256
// checksum of "Ed", key id and secret key; with a password these last 104 bytes are
// XORed with as many bytes derived from it by scrypt.
#ifndef UPDATER_SECRETKEY_H
#define UPDATER_SECRETKEY_H

#include <array>
#include <cstdint>
#include <string>

#include "Minisign.h"

namespace minisign {

struct SecretKey {
    KeyId keyId{};
    std::array<uint8_t, 64> key{};
};

struct KeyPair {
    PublicKey publicKey;
    SecretKey secretKey;
};

// scrypt's cost for a password-protected key; stored in the file, so any cost reads back.
struct KdfCost {
    uint64_t operations;
    uint64_t memoryBytes;
};
// What a new protected key costs to open: a fraction of a second, 64 MiB.
extern const KdfCost kDefaultKdfCost;

// A fresh key pair with a random key id.
KeyPair generateKeyPair();

// The secret key file; an empty password leaves the key unprotected.
std::string formatSecretKey(const SecretKey& key, const std::string& password, const KdfCost& cost);

// Whether the secret key file text asks for a password (false for text that is no
// secret key file; parseSecretKey then says why).
bool secretKeyIsProtected(const std::string& text);

// "" on success, else why the file or the password was refused (a wrong password
// shows as a checksum mismatch).
std::string parseSecretKey(const std::string& text, const std::string& password, SecretKey& key);

// The public half of a secret key, with its key id.
PublicKey publicKeyOf(const SecretKey& key);

} // namespace minisign

#endif
