#include "TestSigner.h"

#include <fstream>

#include "FirmwareSignature.h"
#include "SignatureCheck.h"
#include "TempDir.h"

namespace {

void writeText(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

} // namespace

void TestSigner::trustIn(const std::string& storeBase, const std::string& name) const {
    TempDir::makeDirectories(storeBase + "/keys");
    writeText(storeBase + "/keys/" + name + ".pub", minisign::formatPublicKey(pair_.publicKey, "test key"));
}

std::string TestSigner::signatureOf(const std::string& bytes, bool prehashed) const {
    return minisign::formatSignature(minisign::sign(reinterpret_cast<const uint8_t*>(bytes.data()),
                                                    bytes.size(), pair_.secretKey, prehashed,
                                                    "test signature", "timestamp:0\tfile:test"));
}

void TestSigner::signFile(const std::string& path) const {
    writeText(signaturePathFor(path), signatureOf(TempDir::read(path)));
}

std::string TestSigner::keyId() const {
    return minisign::keyIdText(pair_.publicKey.keyId);
}
