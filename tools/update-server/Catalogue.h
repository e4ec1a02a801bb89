// The builds an update server offers, read from a catalogue directory:
//
//   DIR/devices.txt             "SERIAL MODEL NAME" per line: the model of a module
//   DIR/fingerprints.txt        "FP1 FP2 FP3 FP4 SERIAL BUILD" per line: recovery lookups
//   DIR/serial/SERIAL/N.bird    build N made for that one module
//   DIR/model/MODEL NAME/N.bird build N for every module of that model
//   ... N.bird.minisig          build N's detached signature (minisign format)
//
// Serial numbers and fingerprint words are hexadecimal, builds decimal; "#" starts
// a comment line. Only regular files (or links to them) are builds. Two files that
// name one build in one folder (7.bird and 07.bird) are a catalogue error. The
// directory is read at every request, so builds can be added or removed while the
// server runs. Versions come from each file's identity record.
#ifndef UPDATESERVER_CATALOGUE_H
#define UPDATESERVER_CATALOGUE_H

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

// A catalogue that cannot be read one way only, such as two files for one build.
struct CatalogueError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

struct CatalogueBuild {
    uint32_t number = 0;
    std::string version; // "" when the file carries none
    std::string origin;  // the model name, or the serial number for a module's own build
    std::string path;
};

struct RecoveryEntry {
    uint32_t serialNumber = 0;
    uint32_t build = 0;
};

class Catalogue {
  public:
    explicit Catalogue(std::string directory) : directory_(std::move(directory)) {}

    // The module's own builds and its model's, by build number; a module's own build
    // wins over a generic one with the same number. Throws CatalogueError when a folder
    // names a build twice.
    std::map<uint32_t, CatalogueBuild> builds(uint32_t serialNumber) const;
    // The newest version (ties: the higher build number); none without builds. Throws
    // as builds() does.
    std::optional<CatalogueBuild> latest(uint32_t serialNumber) const;
    std::optional<RecoveryEntry> recovery(const uint32_t fingerprint[4]) const;

    // Every catalogue error in the serial and model folders, one text each, in name
    // order; empty when there is none.
    std::vector<std::string> problems() const;

    // The path of every build without a signature file beside it, in name order.
    std::vector<std::string> unsignedBuilds() const;

    const std::string& directory() const { return directory_; }

  private:
    std::string modelOf(uint32_t serialNumber) const;
    // folder is relative to the catalogue directory.
    void addBuilds(const std::string& folder, const std::string& origin,
                   std::map<uint32_t, CatalogueBuild>& builds) const;
    std::string versionOf(const std::string& path) const;

    std::string directory_;
    // Version texts by path, reloaded when a file's size or time changes.
    struct CachedVersion {
        long long modified;
        long long size;
        std::string version;
    };
    mutable std::mutex cacheMutex_;
    mutable std::map<std::string, CachedVersion> versions_;
};

// Where a build's signature is kept: beside it, with ".minisig" added.
std::string signaturePathOf(const std::string& buildPath);
// Whether that signature file exists (as a regular file).
bool isSignedBuild(const std::string& buildPath);

// Lines of a catalogue text file split into words; blank and "#" lines dropped.
std::vector<std::vector<std::string>> catalogueLines(const std::string& path);

// A serial number or fingerprint word: one to eight hexadecimal digits, nothing else.
bool parseHexWord(const std::string& text, uint32_t& value);

// "a.b.c" as three numbers; none for any other form.
std::optional<std::vector<long>> versionNumbers(const std::string& version);

#endif
