// Where the update server's queries go: its base URL, from the maker's default or
// from the -u value.
#ifndef UPDATER_SERVERENDPOINT_H
#define UPDATER_SERVERENDPOINT_H

#include <string>

// The maker's server as the usage text shows it: "host:port".
std::string defaultServerHostPort();
// The maker's server as a base URL: plain HTTP, path "/cgi/u".
std::string defaultServerEndpoint();

// The base URL a -u value names. A value with a scheme ("http://", "https://") is the
// whole base URL, path included. Any other value is the server's host and port, as
// the usage text's "-u <host:port>" says ("127.0.0.1:8080", "[::1]:8080", or a host
// alone for port 80): its queries go to http://HOST:PORT/cgi/u.
std::string serverEndpointFor(const std::string& value);

#endif
