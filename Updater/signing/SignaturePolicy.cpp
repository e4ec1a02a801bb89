#include "SignaturePolicy.h"

#include <utility>

SignaturePolicy::SignaturePolicy(std::vector<std::string> keyDirectories, bool allowUnsigned)
    : m_directories(std::move(keyDirectories)), m_allowUnsigned(allowUnsigned) {}

const TrustedKeys& SignaturePolicy::keys(UpdaterDisplayInterface* display) {
    if (!m_keys) {
        m_keys = std::make_unique<TrustedKeys>(TrustedKeys::load(m_directories));
        for (const std::string& problem : m_keys->problems())
            displayPrintf(display, 1, "Warning: trusted key %s", problem.c_str());
    }
    return *m_keys;
}

bool SignaturePolicy::required(UpdaterDisplayInterface* display) {
    return keys(display).configured();
}

bool SignaturePolicy::decide(UpdaterDisplayInterface* display, const std::string& name,
                             const SignatureStatus& status) {
    switch (status.kind) {
    case SignatureStatus::Signed:
        return true;
    case SignatureStatus::Bad:
        displayPrintf(display, 1, "Refused %s: %s", name.c_str(), status.reason.c_str());
        return false;
    default:
        if (!m_allowUnsigned) {
            displayPrintf(display, 1, "Refused %s: it has no signature and a trusted key is configured",
                          name.c_str());
            return false;
        }
        if (m_warned.insert(name).second)
            displayPrintf(display, 1, "Warning: using unsigned %s (--allow-unsigned)", name.c_str());
        return true;
    }
}

bool SignaturePolicy::admit(UpdaterDisplayInterface* display, const std::string& name, const uint8_t* bytes,
                            size_t length, const std::string* signatureText) {
    if (!required(display)) return true;
    return decide(display, name, checkSignature(keys(display), bytes, length, signatureText));
}

bool SignaturePolicy::admitFile(UpdaterDisplayInterface* display, const std::string& path,
                                std::string* content) {
    if (!required(display)) return true;
    return decide(display, path, checkFileSignature(keys(display), path, content));
}

SignatureStatus SignaturePolicy::status(UpdaterDisplayInterface* display, const std::string& path) {
    return checkFileSignature(keys(display), path);
}
