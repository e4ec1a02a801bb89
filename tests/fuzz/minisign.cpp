// Signature and public key texts of any content: the parsers must not crash, and
// whatever they accept must be written back in the same form and read back the same.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "Minisign.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);

    minisign::Signature signature;
    if (minisign::parseSignature(text, signature).empty()) {
        minisign::Signature again;
        if (!minisign::parseSignature(minisign::formatSignature(signature), again).empty()) abort();
        if (again.keyId != signature.keyId || again.signature != signature.signature ||
            again.globalSignature != signature.globalSignature || again.prehashed != signature.prehashed ||
            again.trustedComment != signature.trustedComment)
            abort();
    }

    minisign::PublicKey key;
    if (minisign::parsePublicKey(text, key).empty()) {
        minisign::PublicKey again;
        if (!minisign::parsePublicKey(minisign::formatPublicKey(key, "k"), again).empty()) abort();
        if (again.keyId != key.keyId || again.key != key.key) abort();
    }
    return 0;
}
