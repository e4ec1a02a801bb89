// Whether a firmware file carries a good signature by a trusted key: the answer
// every signed path (download, update, recovery, listings) asks for.
#ifndef UPDATER_FIRMWARESIGNATURE_H
#define UPDATER_FIRMWARESIGNATURE_H

#include <cstddef>
#include <cstdint>
#include <string>

#include "TrustedKeys.h"

// The detached signature's file name beside a firmware file.
std::string signaturePathFor(const std::string& firmwarePath);
// Whether a name is that of a signature file.
bool isSignatureFile(const std::string& name);

struct SignatureStatus {
    enum Kind { Signed, Unsigned, Bad };
    Kind kind = Unsigned;
    std::string keyId;  // Signed: the signer's key id
    std::string reason; // Bad: why, in a few words

    // "signed by key ...", "unsigned" or "bad (...)".
    std::string describe() const;
};

// The status of bytes whose signature file holds signatureText; signatureText null
// means there is none.
SignatureStatus checkSignature(const TrustedKeys& keys, const uint8_t* bytes, size_t length,
                               const std::string* signatureText);

// The status of the file at path, its signature read from signaturePathFor(path).
// A file that cannot be read is Bad. content, when given, receives the bytes checked.
SignatureStatus checkFileSignature(const TrustedKeys& keys, const std::string& path,
                                   std::string* content = nullptr);

#endif
