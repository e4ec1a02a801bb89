#include "SignatureCheck.h"

#include <sodium.h>

#include <vector>

#include "SodiumReady.h"

namespace minisign {

namespace {

// What the signature covers: the file's BLAKE2b-512 hash, or the file itself.
std::vector<uint8_t> signedMessage(const uint8_t* bytes, size_t length, bool prehashed) {
    if (!prehashed) return std::vector<uint8_t>(bytes, bytes + length);
    std::vector<uint8_t> hash(crypto_generichash_BYTES_MAX);
    crypto_generichash(hash.data(), hash.size(), bytes, length, nullptr, 0);
    return hash;
}

// The global signature covers the signature followed by the trusted comment.
std::vector<uint8_t> globalMessage(const Signature& signature) {
    std::vector<uint8_t> message(signature.signature.begin(), signature.signature.end());
    message.insert(message.end(), signature.trustedComment.begin(), signature.trustedComment.end());
    return message;
}

} // namespace

Verdict verify(const uint8_t* bytes, size_t length, const Signature& signature, const PublicKey& key) {
    sodiumReady();
    if (signature.keyId != key.keyId) return Verdict::OtherKey;
    const std::vector<uint8_t> message = signedMessage(bytes, length, signature.prehashed);
    if (crypto_sign_verify_detached(signature.signature.data(), message.data(), message.size(),
                                    key.key.data()) != 0)
        return Verdict::BadSignature;
    const std::vector<uint8_t> global = globalMessage(signature);
    if (crypto_sign_verify_detached(signature.globalSignature.data(), global.data(), global.size(),
                                    key.key.data()) != 0)
        return Verdict::BadGlobalSignature;
    return Verdict::Good;
}

Signature sign(const uint8_t* bytes, size_t length, const SecretKey& key, bool prehashed,
               const std::string& untrustedComment, const std::string& trustedComment) {
    sodiumReady();
    Signature signature;
    signature.prehashed = prehashed;
    signature.keyId = key.keyId;
    signature.untrustedComment = untrustedComment;
    signature.trustedComment = trustedComment;
    const std::vector<uint8_t> message = signedMessage(bytes, length, prehashed);
    crypto_sign_detached(signature.signature.data(), nullptr, message.data(), message.size(), key.key.data());
    const std::vector<uint8_t> global = globalMessage(signature);
    crypto_sign_detached(signature.globalSignature.data(), nullptr, global.data(), global.size(),
                         key.key.data());
    return signature;
}

} // namespace minisign
