// One blocking HTTP GET with a query string, on libcurl's easy interface. Every
// update-server request goes through here; it knows nothing of the reply grammar.
#ifndef UPDATER_HTTP_H
#define UPDATER_HTTP_H

#include <map>
#include <string>

namespace Http {

// Query pairs, sent in byte-wise key order.
using Parameters = std::map<std::string, std::string>;

struct Reply {
    std::string url;  // the request URL as sent
    int status = 0;   // HTTP status code; 0 until a transfer completes
    std::string body; // any bytes
};

// Bounds on one transfer, so a dead or stalling server gives a transport error
// instead of a hang.
struct Limits {
    long connectTimeoutMs = 30000;
    long lowSpeedBytesPerSecond = 1; // a transfer slower than this ...
    long lowSpeedSeconds = 60;       // ... for this long is aborted
    // A server trickling a few bytes a second passes the speed check for ever; this
    // ends any transfer, far beyond what a build takes on a working link.
    long totalTimeoutMs = 60L * 60 * 1000;
    // A reply body beyond this aborts the transfer: no server can make the tool
    // take unbounded memory. Builds are a few megabytes.
    size_t maxBodyBytes = size_t(256) << 20;
};

// baseUrl, then "?" when there are parameters, then "key=value&" per pair in key
// order (the last pair ends in "&" too). Nothing is percent-encoded.
std::string requestUrl(const std::string& baseUrl, const Parameters& parameters);

// Runs the GET on a fresh easy handle. Every HTTP status is returned, never raised.
// Transport failures (no connection, time-out, TLS failure ...) throw
// std::runtime_error with libcurl's error text ("Out of memory" when there is no
// room for the reply body). HTTPS verifies the server's
// certificate chain against the system's CA store and its host name.
Reply get(const char* baseUrl, const Parameters& parameters, const Limits& limits = Limits());

} // namespace Http

#endif
