// Reference update server: answers the Updater's queries from a catalogue directory,
// for labs without access to the maker's server. See UpdateService.h for the
// queries and Catalogue.h for the catalogue layout.
#include <httplib.h>

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "Catalogue.h"
#include "UpdateService.h"

namespace {

const char kUsage[] =
    "Usage: update-server [--catalogue DIR] [--address ADDR] [--port N]\n"
    "                     [--require-signatures]\n"
    "\n"
    "Serves firmware builds to the Updater tool (its -u option) from a catalogue\n"
    "directory. Queries go to /cgi/u; every request is logged on one line.\n"
    "\n"
    "  -c, --catalogue DIR  catalogue directory (default: the current directory)\n"
    "  -a, --address ADDR   address to listen on (default: 127.0.0.1, this machine only)\n"
    "  -p, --port N         TCP port; 0 picks a free one (default: 8080). The address\n"
    "                       and port in use are printed once the server listens.\n"
    "  --require-signatures refuse to start, naming them, while builds lack their\n"
    "                       signature (N.bird.minisig beside N.bird)\n"
    "  -h, --help           this text\n"
    "\n"
    "Catalogue layout (serial numbers and fingerprint words in hexadecimal):\n"
    "  DIR/devices.txt              lines \"SERIAL MODEL NAME\": the model of a module\n"
    "  DIR/fingerprints.txt         lines \"FP1 FP2 FP3 FP4 SERIAL BUILD\": recovery lookups\n"
    "  DIR/serial/SERIAL/N.bird     build N made for one module\n"
    "  DIR/model/MODEL NAME/N.bird  build N for every module of that model\n"
    "Versions are read from each file's identity record. Lines starting with \"#\" are\n"
    "comments. Files can be added or removed while the server runs. Only regular files\n"
    "are builds. Two files for one build in one folder (7.bird and 07.bird) are an\n"
    "error: the server does not start, and a clash made later fails the requests that\n"
    "meet it with status 500.\n"
    "\n"
    "Stop it with Ctrl+C (SIGINT) or SIGTERM.\n";

struct Options {
    std::string catalogue = ".";
    std::string address = "127.0.0.1";
    int port = 8080;
    bool requireSignatures = false;
};

// 0: run, 1: bad arguments, 2: help shown.
int parseOptions(int argc, char** argv, Options& options) {
    for (int i = 1; i < argc; i++) {
        const std::string arg = argv[i];
        auto value = [&](const char* name) -> const char* {
            if (i + 1 >= argc) {
                fprintf(stderr, "update-server: %s needs a value\n", name);
                return nullptr;
            }
            return argv[++i];
        };
        if (arg == "-h" || arg == "--help") {
            fputs(kUsage, stdout);
            return 2;
        } else if (arg == "--require-signatures") {
            options.requireSignatures = true;
        } else if (arg == "-c" || arg == "--catalogue") {
            const char* v = value("--catalogue");
            if (!v) return 1;
            options.catalogue = v;
        } else if (arg == "-a" || arg == "--address") {
            const char* v = value("--address");
            if (!v) return 1;
            options.address = v;
        } else if (arg == "-p" || arg == "--port") {
            const char* v = value("--port");
            char* end = nullptr;
            long port = v ? strtol(v, &end, 10) : -1;
            if (!v || *end != '\0' || port < 0 || port > 65535) {
                fprintf(stderr, "update-server: --port needs a number from 0 to 65535\n");
                return 1;
            }
            options.port = static_cast<int>(port);
        } else {
            fprintf(stderr, "update-server: unknown argument '%s' (see --help)\n", arg.c_str());
            return 1;
        }
    }
    return 0;
}

// One line per request: address, method, target as sent, status, reply size; "-" for
// what a request too malformed to read does not tell.
void logRequest(const httplib::Request& request, int status, size_t bytes) {
    const auto field = [](const std::string& text) { return text.empty() ? "-" : text.c_str(); };
    fprintf(stdout, "%s %s %s %d %zu\n", field(request.remote_addr), field(request.method),
            field(request.target), status, bytes);
    fflush(stdout);
}

const char* refusalText(int status) {
    switch (status) {
    case 400:
        return "error: malformed request\n";
    case 414:
        return "error: request target too long\n";
    default:
        return "error: request refused\n";
    }
}

} // namespace

int main(int argc, char** argv) {
    Options options;
    const int parsed = parseOptions(argc, argv, options);
    if (parsed != 0) return parsed == 2 ? 0 : 1;

    struct stat status;
    if (stat(options.catalogue.c_str(), &status) != 0 || !S_ISDIR(status.st_mode)) {
        fprintf(stderr, "update-server: catalogue '%s' is not a directory\n", options.catalogue.c_str());
        return 1;
    }

    Catalogue catalogue(options.catalogue);
    const std::vector<std::string> problems = catalogue.problems();
    for (const std::string& problem : problems)
        fprintf(stderr, "update-server: catalogue error: %s\n", problem.c_str());
    if (!problems.empty()) return 1;
    if (options.requireSignatures) {
        const std::vector<std::string> unsignedBuilds = catalogue.unsignedBuilds();
        for (const std::string& path : unsignedBuilds)
            fprintf(stderr, "update-server: unsigned build: %s (no %s)\n", path.c_str(),
                    signaturePathOf(path).c_str());
        if (!unsignedBuilds.empty()) return 1;
    }

    // A client that hangs up mid-reply must not end the server.
    signal(SIGPIPE, SIG_IGN);
    // Signals are taken by the main thread alone, with sigwait; the server's threads
    // inherit the blocked mask.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    UpdateService service(catalogue);
    httplib::Server server;
    // Every request, whatever its method, is answered and logged here, before the
    // reply goes out, so the log lists requests in the order the client sent them.
    server.set_pre_routing_handler([&service](const httplib::Request& request, httplib::Response& response) {
        ServiceAnswer answer{500, ""};
        try {
            answer = request.method == "GET" ? service.answer(request.target)
                                             : ServiceAnswer{405, "error: only GET requests are served\n"};
        } catch (const std::exception& e) {
            answer.body = std::string("error: ") + e.what() + "\n";
        }
        response.status = answer.status;
        response.set_content(answer.body, "text/plain");
        logRequest(request, answer.status, answer.body.size());
        return httplib::Server::HandlerResponse::Handled;
    });
    // Requests that the HTTP layer refuses before the handler above (a malformed
    // request, a target too long) come only here: they get a text and a log line too.
    // The handler's own failures pass by with their text, logged already.
    const httplib::Server::HandlerWithResponse refused = [](const httplib::Request& request,
                                                            httplib::Response& response) {
        if (!response.body.empty()) return httplib::Server::HandlerResponse::Unhandled;
        response.set_content(refusalText(response.status), "text/plain");
        logRequest(request, response.status, response.body.size());
        return httplib::Server::HandlerResponse::Handled;
    };
    server.set_error_handler(refused);

    const int port = options.port == 0
                         ? server.bind_to_any_port(options.address)
                         : (server.bind_to_port(options.address, options.port) ? options.port : -1);
    if (port < 0) {
        fprintf(stderr, "update-server: cannot listen on %s port %d\n", options.address.c_str(),
                options.port);
        return 1;
    }
    printf("update-server: serving %s on http://%s:%d%s\n", options.catalogue.c_str(),
           options.address.c_str(), port, UpdateService::path);
    fflush(stdout);

    std::thread listener([&server] {
        server.listen_after_bind();
        // However listening ends, wake the main thread.
        kill(getpid(), SIGTERM);
    });
    int received = 0;
    sigwait(&stopSignals, &received);
    server.stop();
    listener.join();
    return 0;
}
