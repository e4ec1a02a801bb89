// Requests to the update server. Each operation is one HTTP GET with a query string
// to the base URL, a status check (only 200 counts) and a parse of the plain-text
// reply; none keeps state between calls, so any may run on a worker thread.
// Every operation returns true on success; out-values are written only on success.
// A null base URL means the default endpoint.
#ifndef UPDATER_SERVERCOMMCLASS_H
#define UPDATER_SERVERCOMMCLASS_H

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "Http.h"
#include "ServerCommReply.h"

// (build number, version) pairs in display order.
using SortedBuildList = std::vector<std::pair<std::string, std::string>>;

class ServerCommClass {
  public:
    explicit ServerCommClass(const Http::Limits& limits = Http::Limits()) : limits_(limits) {}

    // The maker's update endpoint (plain HTTP, path "/cgi/u").
    static const char* defaultBaseUrl();

    // Is the server there: op=hi, rv=2.
    bool ping(const char* baseUrl = nullptr);
    // Latest build number text and the firmware identifier for a module.
    bool QueryBuild(uint32_t serialNumber, std::string& latestBuild, std::string& firmwareId,
                    const char* baseUrl = nullptr);
    // Every build the server offers for a module. builds is cleared first, so a
    // failed request leaves it empty.
    bool GetBuildList(uint32_t serialNumber, BuildList& builds, const char* baseUrl = nullptr);
    // One build as Base64 text ("" when the reply carries none). firmwareId is what
    // QueryBuild returned, build the decimal build number.
    bool GetBuild(uint32_t serialNumber, const std::string& firmwareId, const std::string& build, bool noCal,
                  std::string& payload, const char* baseUrl = nullptr);
    // The build's detached signature (its minisign file) as Base64 text, asked with
    // op=sig and GetBuild's other parameters ("" when the reply carries none).
    bool GetSignature(uint32_t serialNumber, const std::string& firmwareId, const std::string& build,
                      bool noCal, std::string& payload, const char* baseUrl = nullptr);
    // Serial number and build of a module known only by its chip fingerprint.
    bool GetRecoveryInfo(const uint32_t fingerprint[4], uint32_t& serialNumber, uint32_t& buildNumber,
                         const char* baseUrl = nullptr);

    // Build check: the module's build list holds an entry whose number is build.
    bool isValidBuild(uint32_t serialNumber, uint32_t build, const char* baseUrl = nullptr);

    // The list ordered newest version first; entries that compare equal, or whose
    // versions cannot be compared, keep their key order.
    static SortedBuildList sortedBuildList(const BuildList& builds);
    // True when a's version ("major.minor.patch") is strictly newer than b's.
    static bool _sortVersion(const std::pair<std::string, std::string>& a,
                             const std::pair<std::string, std::string>& b);

    // The "fp" text of a fingerprint: four %08X words joined by a literal "%20".
    static std::string fingerprintText(const uint32_t fingerprint[4]);

  private:
    // GetBuild and GetSignature: the build's parameters with op, line 2 as payload.
    bool buildRequest(const char* name, const char* op, uint32_t serialNumber, const std::string& firmwareId,
                      const std::string& build, bool noCal, std::string& payload, const char* baseUrl);
    // Runs the GET; true when it brought a reply with status 200.
    bool fetch(const char* name, const char* baseUrl, const Http::Parameters& parameters, Http::Reply& reply);
    static void logNotOk(const char* name, const Http::Reply& reply);
    // Runs the GET and the checks shared by every operation; on success lines holds
    // the reply's lines.
    bool request(const char* name, const char* baseUrl, const Http::Parameters& parameters,
                 std::vector<std::string>& lines);

    Http::Limits limits_;
};

// Reads a build number: optional leading white space, then decimal digits (the rest
// is ignored). False when there are no digits or the number exceeds 32 bits.
bool readBuildNumber(const std::string& text, uint32_t& value);

#endif
