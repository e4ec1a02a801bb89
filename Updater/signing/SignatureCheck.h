// Checking a minisign signature of some bytes against one public key, and making
// one with a secret key. Both algorithms are handled: prehashed ("ED", over the
// BLAKE2b-512 hash of the bytes) and legacy ("Ed", over the bytes themselves).
#ifndef UPDATER_SIGNATURECHECK_H
#define UPDATER_SIGNATURECHECK_H

#include <cstddef>
#include <cstdint>
#include <string>

#include "Minisign.h"
#include "SecretKey.h"

namespace minisign {

enum class Verdict {
    Good,
    OtherKey,          // made by a key other than this one
    BadSignature,      // the bytes are not what was signed
    BadGlobalSignature // the trusted comment was changed after signing
};

Verdict verify(const uint8_t* bytes, size_t length, const Signature& signature, const PublicKey& key);

// A signature by key over bytes, with both comments set.
Signature sign(const uint8_t* bytes, size_t length, const SecretKey& key, bool prehashed,
               const std::string& untrustedComment, const std::string& trustedComment);

} // namespace minisign

#endif
