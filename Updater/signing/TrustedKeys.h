// The public keys whose signatures firmware must carry: every "*.pub" file (minisign
// format) in the key directories. A directory that does not exist adds nothing, so
// a machine without keys behaves as before signatures existed.
#ifndef UPDATER_TRUSTEDKEYS_H
#define UPDATER_TRUSTEDKEYS_H

#include <string>
#include <vector>

#include "Minisign.h"

// The system directory every run reads.
extern const char kSystemKeyDirectory[]; // "/etc/veltrano/keys.d"

// Where keys are looked for: the system directory, then "keys" in the store base
// (the -i directory, or the home directory's ".veltrano").
std::vector<std::string> trustedKeyDirectories(const std::string& storeBase);

class TrustedKeys {
  public:
    // Reads every "*.pub" file of the directories; a file that does not parse is
    // noted in problems (it still counts as configured, so a damaged key never
    // turns signatures off).
    static TrustedKeys load(const std::vector<std::string>& directories);

    // Whether any key file was found: signatures are then required.
    bool configured() const { return m_files > 0; }
    // The key with this id, or null.
    const minisign::PublicKey* find(const minisign::KeyId& keyId) const;
    // "file: why" for each key file that could not be used.
    const std::vector<std::string>& problems() const { return m_problems; }

  private:
    size_t m_files = 0;
    std::vector<minisign::PublicKey> m_keys;
    std::vector<std::string> m_problems;
};

#endif
