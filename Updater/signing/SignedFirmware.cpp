// The commands' signature steps: a download is checked against the signature the
// server gives for it before it is stored, a file is checked before it is sent, and
// the listings show each file's status.
#include <unistd.h>

#include <stdexcept>

#include "Base64.h"
#include "FirmwareSignature.h"
#include "PathJoin.h"
#include "ServerCommClass.h"
#include "UpdaterApp.h"
#include "UpdaterStore.h"

bool UpdaterApp::admitFirmware(const std::string& path) {
    return m_signatures.admitFile(m_display, path);
}

bool UpdaterApp::admitFirmware(BirdFile& file) {
    std::string checked;
    if (!m_signatures.admitFile(m_display, file.filename(), &checked)) return false;
    if (checked.empty()) return true; // no signature required
    // What goes on is what was checked, whatever happened to the file since it was loaded.
    try {
        file = BirdFile::fromMemory(file.filename(), reinterpret_cast<const uint8*>(checked.data()),
                                    checked.size());
    } catch (const std::runtime_error&) {
        displayPrintf(m_display, 1, "Failed to load bird file");
        return false;
    }
    return true;
}

bool UpdaterApp::admitDownload(uint32_t serialNumber, const std::string& firmwareId, const std::string& build,
                               bool noCal, const uint8_t* bytes, size_t length, std::string& signature) {
    signature.clear();
    if (!m_signatures.required(m_display)) return true;
    ServerCommClass server;
    std::string payload;
    const bool answered =
        server.GetSignature(serialNumber, firmwareId, build, noCal, payload, m_serverEndpoint.c_str()) &&
        !payload.empty();
    std::vector<uint8_t> decoded;
    // A payload that is no Base64 is checked as it came, and refused as a damaged signature.
    if (answered)
        signature = Base64::decode(payload, decoded) ? std::string(decoded.begin(), decoded.end()) : payload;
    const bool admitted = m_signatures.admit(m_display, build + ".bird", bytes, length,
                                             answered ? &signature : nullptr);
    if (!admitted) signature.clear();
    return admitted;
}

aErr UpdaterApp::storeSignature(UpdaterStore& store, DeviceRecord& record, const std::string& fileName,
                                const std::string& signature) {
    if (!signature.empty())
        return store.writeFile(record, signaturePathFor(fileName),
                               reinterpret_cast<const uint8_t*>(signature.data()),
                               static_cast<uint32_t>(signature.size()));
    // A stale signature beside an unsigned build would pass it off as signed.
    if (m_signatures.required(m_display))
        unlink(signaturePathFor(pathJoin(record.directory, record.name, fileName)).c_str());
    return aErrNone;
}

bool UpdaterApp::showSignature(const std::string& label, const std::string& path) {
    if (!m_signatures.required(m_display)) return true;
    const SignatureStatus status = m_signatures.status(m_display, path);
    displayField(m_display, label.c_str(), status.describe().c_str());
    return status.kind != SignatureStatus::Bad;
}
