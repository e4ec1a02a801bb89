// A minisign key pair for tests: its public key written where the Updater looks for
// trusted keys, and files signed with it in-process (the interoperability tests
// prove these signatures are minisign's own).
#pragma once

#include <string>

#include "SecretKey.h"

class TestSigner {
  public:
    TestSigner() : pair_(minisign::generateKeyPair()) {}

    // Writes the public key as storeBase/keys/NAME.pub (the -i directory's keys).
    void trustIn(const std::string& storeBase, const std::string& name = "lab") const;
    // The signature file's text for bytes.
    std::string signatureOf(const std::string& bytes, bool prehashed = true) const;
    // Writes path.minisig for the file at path.
    void signFile(const std::string& path) const;
    // As the Updater names the key.
    std::string keyId() const;

  private:
    minisign::KeyPair pair_;
};
