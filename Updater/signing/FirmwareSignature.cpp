#include "FirmwareSignature.h"

#include "FileRead.h"
#include "SignatureCheck.h"

namespace {

SignatureStatus bad(const std::string& reason) {
    SignatureStatus status;
    status.kind = SignatureStatus::Bad;
    status.reason = reason;
    return status;
}

} // namespace

std::string signaturePathFor(const std::string& firmwarePath) {
    return firmwarePath + ".minisig";
}

bool isSignatureFile(const std::string& name) {
    static const std::string suffix = signaturePathFor("");
    return name.size() >= suffix.size() &&
           name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0;
}

std::string SignatureStatus::describe() const {
    switch (kind) {
    case Signed:
        return "signed by key " + keyId;
    case Unsigned:
        return "unsigned";
    default:
        return "bad (" + reason + ")";
    }
}

SignatureStatus checkSignature(const TrustedKeys& keys, const uint8_t* bytes, size_t length,
                               const std::string* signatureText) {
    if (!signatureText) return SignatureStatus();
    minisign::Signature signature;
    const std::string why = minisign::parseSignature(*signatureText, signature);
    if (!why.empty()) return bad("damaged signature: " + why);
    const minisign::PublicKey* key = keys.find(signature.keyId);
    const std::string keyId = minisign::keyIdText(signature.keyId);
    if (!key) return bad("signed by key " + keyId + ", which is not trusted");
    switch (minisign::verify(bytes, length, signature, *key)) {
    case minisign::Verdict::Good: {
        SignatureStatus status;
        status.kind = SignatureStatus::Signed;
        status.keyId = keyId;
        return status;
    }
    case minisign::Verdict::BadGlobalSignature:
        return bad("trusted comment altered after signing");
    default:
        return bad("signature does not match the file");
    }
}

SignatureStatus checkFileSignature(const TrustedKeys& keys, const std::string& path, std::string* checked) {
    std::string local;
    std::string& content = checked ? *checked : local;
    if (readFileContent(path, content) != FileRead::Done) return bad("file cannot be read");
    std::string signatureText;
    switch (readFileContent(signaturePathFor(path), signatureText, minisign::kMaxFileBytes)) {
    case FileRead::Missing:
        return SignatureStatus();
    case FileRead::Failed:
        return bad("signature file cannot be read");
    default:
        break;
    }
    return checkSignature(keys, reinterpret_cast<const uint8_t*>(content.data()), content.size(),
                          &signatureText);
}
