#include "SecretKey.h"

#include <sodium.h>

#include <cstring>
#include <stdexcept>

#include "SodiumReady.h"

namespace minisign {

const KdfCost kDefaultKdfCost = {crypto_pwhash_scryptsalsa208sha256_OPSLIMIT_INTERACTIVE,
                                 64ull * 1024 * 1024};

namespace {

const char kEd[2] = {'E', 'd'};
const char kScrypt[2] = {'S', 'c'};
const char kNoKdf[2] = {0, 0};
const char kBlake2[2] = {'B', '2'};

// Offsets in the decoded file.
constexpr size_t kKdfAt = 2, kChecksumAlgAt = 4, kSaltAt = 6, kOpsAt = 38, kMemAt = 46, kKeyIdAt = 54,
                 kKeyAt = 62, kChecksumAt = 126, kBlobBytes = 158;
// The part a password protects: key id, key and checksum.
constexpr size_t kProtectedBytes = kBlobBytes - kKeyIdAt;
constexpr size_t kChecksumBytes = 32;

void putLittleEndian(uint8_t* at, uint64_t value) {
    for (int i = 0; i < 8; ++i)
        at[i] = static_cast<uint8_t>(value >> (8 * i));
}

uint64_t getLittleEndian(const uint8_t* at) {
    uint64_t value = 0;
    for (int i = 7; i >= 0; --i)
        value = (value << 8) | at[i];
    return value;
}

void checksum(const uint8_t* blob, uint8_t out[kChecksumBytes]) {
    uint8_t covered[2 + 8 + 64];
    memcpy(covered, kEd, 2);
    memcpy(covered + 2, blob + kKeyIdAt, 8 + 64);
    crypto_generichash(out, kChecksumBytes, covered, sizeof covered, nullptr, 0);
    sodium_memzero(covered, sizeof covered);
}

// XORs the protected part with the password's scrypt stream; false when scrypt
// refuses the cost (as one beyond the machine's memory).
bool applyPassword(uint8_t* blob, const std::string& password) {
    uint8_t stream[kProtectedBytes];
    const uint64_t ops = getLittleEndian(blob + kOpsAt), mem = getLittleEndian(blob + kMemAt);
    if (crypto_pwhash_scryptsalsa208sha256(stream, sizeof stream, password.data(), password.size(),
                                           blob + kSaltAt, ops, static_cast<size_t>(mem)) != 0)
        return false;
    for (size_t i = 0; i < kProtectedBytes; ++i)
        blob[kKeyIdAt + i] ^= stream[i];
    sodium_memzero(stream, sizeof stream);
    return true;
}

// The key's checksum, and that its public half is the one its seed gives. minisign
// writes an unprotected key with an all-zero checksum; the seed check covers that one.
bool checksumHolds(const uint8_t* blob) {
    uint8_t expected[kChecksumBytes];
    checksum(blob, expected);
    const uint8_t zero[kChecksumBytes] = {};
    const bool unprotected = memcmp(blob + kKdfAt, kNoKdf, 2) == 0;
    const bool matches = sodium_memcmp(expected, blob + kChecksumAt, kChecksumBytes) == 0 ||
                         (unprotected && sodium_memcmp(zero, blob + kChecksumAt, kChecksumBytes) == 0);
    uint8_t publicKey[crypto_sign_PUBLICKEYBYTES], secretKey[crypto_sign_SECRETKEYBYTES];
    crypto_sign_seed_keypair(publicKey, secretKey, blob + kKeyAt);
    const bool consistent = memcmp(publicKey, blob + kKeyAt + crypto_sign_SEEDBYTES, sizeof publicKey) == 0;
    sodium_memzero(secretKey, sizeof secretKey);
    return matches && consistent;
}

bool decodeSecretKey(const std::string& text, uint8_t* blob) {
    const size_t lineEnd = text.find('\n');
    if (text.size() > kMaxFileBytes || lineEnd == std::string::npos ||
        text.compare(0, strlen(kUntrustedPrefix), kUntrustedPrefix) != 0)
        return false;
    std::string line = text.substr(lineEnd + 1);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
        line.pop_back();
    return fromBase64(line, blob, kBlobBytes);
}

} // namespace

KeyPair generateKeyPair() {
    sodiumReady();
    KeyPair pair;
    crypto_sign_keypair(pair.publicKey.key.data(), pair.secretKey.key.data());
    randombytes_buf(pair.secretKey.keyId.data(), pair.secretKey.keyId.size());
    pair.publicKey.keyId = pair.secretKey.keyId;
    return pair;
}

std::string formatSecretKey(const SecretKey& key, const std::string& password, const KdfCost& cost) {
    sodiumReady();
    uint8_t blob[kBlobBytes] = {};
    memcpy(blob, kEd, 2);
    memcpy(blob + kChecksumAlgAt, kBlake2, 2);
    memcpy(blob + kKeyIdAt, key.keyId.data(), 8);
    memcpy(blob + kKeyAt, key.key.data(), 64);
    checksum(blob, blob + kChecksumAt);
    const bool protect = !password.empty();
    memcpy(blob + kKdfAt, protect ? kScrypt : kNoKdf, 2);
    if (protect) {
        randombytes_buf(blob + kSaltAt, 32);
        putLittleEndian(blob + kOpsAt, cost.operations);
        putLittleEndian(blob + kMemAt, cost.memoryBytes);
        if (!applyPassword(blob, password)) throw std::runtime_error("scrypt refused the key's cost");
    }
    const std::string text = std::string(kUntrustedPrefix) +
                             (protect ? "veltrano encrypted secret key" : "veltrano secret key") + "\n" +
                             toBase64(blob, sizeof blob) + "\n";
    sodium_memzero(blob, sizeof blob);
    return text;
}

bool secretKeyIsProtected(const std::string& text) {
    uint8_t blob[kBlobBytes];
    const bool isProtected = decodeSecretKey(text, blob) && memcmp(blob + kKdfAt, kScrypt, 2) == 0;
    sodium_memzero(blob, sizeof blob);
    return isProtected;
}

std::string parseSecretKey(const std::string& text, const std::string& password, SecretKey& key) {
    sodiumReady();
    uint8_t blob[kBlobBytes];
    if (!decodeSecretKey(text, blob)) return "not a secret key file";
    std::string why;
    if (memcmp(blob, kEd, 2) != 0 || memcmp(blob + kChecksumAlgAt, kBlake2, 2) != 0)
        why = "secret key algorithm is unknown";
    else if (memcmp(blob + kKdfAt, kScrypt, 2) == 0) {
        if (!applyPassword(blob, password)) why = "the key's scrypt cost cannot be met";
    } else if (memcmp(blob + kKdfAt, kNoKdf, 2) != 0)
        why = "secret key protection is unknown";
    if (why.empty() && !checksumHolds(blob)) why = "wrong password or damaged secret key";
    if (why.empty()) {
        memcpy(key.keyId.data(), blob + kKeyIdAt, 8);
        memcpy(key.key.data(), blob + kKeyAt, 64);
    }
    sodium_memzero(blob, sizeof blob);
    return why;
}

PublicKey publicKeyOf(const SecretKey& key) {
    sodiumReady();
    PublicKey publicKey;
    publicKey.keyId = key.keyId;
    crypto_sign_ed25519_sk_to_pk(publicKey.key.data(), key.key.data());
    return publicKey;
}

} // namespace minisign
