// The run's rule for firmware signatures. With no trusted key configured it admits
// everything silently, so nothing changes for a user who set none up. With one, a
// build is used (stored or sent) only with a good signature by a trusted key; an
// unsigned build passes only when the user allowed it for this run, with a warning.
// A bad signature never passes.
#ifndef UPDATER_SIGNATUREPOLICY_H
#define UPDATER_SIGNATUREPOLICY_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "FirmwareSignature.h"
#include "UpdaterDisplayInterface.h"

class SignaturePolicy {
  public:
    SignaturePolicy() = default;
    // Keys are read from directories on first need.
    SignaturePolicy(std::vector<std::string> keyDirectories, bool allowUnsigned);

    // The same rule with nothing read yet: a policy that reads its keys lazily is
    // not shared between threads, so each module of a fleet update gets its own.
    SignaturePolicy fresh() const { return SignaturePolicy(m_directories, m_allowUnsigned); }

    // Whether signatures are required: at least one trusted key file exists. The
    // first call warns on standard error about key files that cannot be used.
    bool required(UpdaterDisplayInterface* display);

    // Whether bytes named name (with their signature text, null for none) may be
    // used; a refusal, or an unsigned build allowed once, is said on standard error.
    bool admit(UpdaterDisplayInterface* display, const std::string& name, const uint8_t* bytes, size_t length,
               const std::string* signatureText);
    // The same for the file at path and the signature file beside it. content, when
    // given, receives the bytes that were checked (nothing is read, and it stays
    // empty, when no signature is required).
    bool admitFile(UpdaterDisplayInterface* display, const std::string& path, std::string* content = nullptr);

    // The file's status against the trusted keys, for the listings.
    SignatureStatus status(UpdaterDisplayInterface* display, const std::string& path);

  private:
    bool decide(UpdaterDisplayInterface* display, const std::string& name, const SignatureStatus& status);
    const TrustedKeys& keys(UpdaterDisplayInterface* display);

    std::vector<std::string> m_directories;
    bool m_allowUnsigned = false;
    std::unique_ptr<TrustedKeys> m_keys;
    std::set<std::string> m_warned; // unsigned builds already let through
};

#endif
