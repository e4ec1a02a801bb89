#include "UpdaterOptions.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "UpdaterLog.h"

#define VELTRANO_STR2(x) #x
#define VELTRANO_STR(x) VELTRANO_STR2(x)

std::string defaultServerHostPort() {
    return VELTRANO_DEFAULT_SERVER_HOST ":" VELTRANO_STR(VELTRANO_DEFAULT_SERVER_PORT);
}

std::string defaultServerEndpoint() { return "http://" + defaultServerHostPort() + "/cgi/u"; }

namespace {

enum class Kind { Command, Help, Parameter };

struct Switch {
    const char* name;
    Kind kind;
    bool takesValue;
};

// Lookups walk the table in this order.
const Switch kSwitches[] = {
    {"-B", Kind::Command, false},   {"-L", Kind::Command, false},  {"-D", Kind::Command, false},
    {"-G", Kind::Command, false},   {"-I", Kind::Command, false},  {"-U", Kind::Command, false},
    {"-OVERRIDE", Kind::Command, false}, {"-N", Kind::Command, false}, {"-Y", Kind::Command, false},
    {"-C", Kind::Command, false},   {"-h", Kind::Help, false},     {"-H", Kind::Help, false},
    {"-n", Kind::Parameter, false}, {"-X", Kind::Parameter, true}, {"-Z", Kind::Parameter, true},
    {"-m", Kind::Parameter, true},  {"-i", Kind::Parameter, true}, {"-b", Kind::Parameter, true},
    {"-d", Kind::Parameter, true},  {"-t", Kind::Parameter, true}, {"-f", Kind::Parameter, true},
    {"-r", Kind::Parameter, true},  {"-s", Kind::Parameter, true}, {"-o", Kind::Parameter, true},
    {"-e", Kind::Parameter, false}, {"-l", Kind::Parameter, true}, {"-k", Kind::Parameter, true},
    {"-u", Kind::Parameter, true},  {"--help", Kind::Help, false},
};

size_t leadingHyphens(std::string_view text) {
    size_t n = 0;
    while (n < text.size() && text[n] == '-') ++n;
    return n;
}

// The switch that name selects: an exact match, else the one switch it begins
// (with the same number of leading hyphens); null when none or several.
const Switch* findSwitch(std::string_view name) {
    for (const Switch& s : kSwitches)
        if (name == s.name) return &s;
    const Switch* found = nullptr;
    size_t hyphens = leadingHyphens(name);
    for (const Switch& s : kSwitches) {
        std::string_view candidate(s.name);
        if (leadingHyphens(candidate) != hyphens || candidate.substr(0, name.size()) != name) continue;
        if (found) return nullptr;
        found = &s;
    }
    return found;
}

// An argument as the parser sees it: its switch name ("/" read as "-") and the
// value glued to it with "=", if any.
struct Token {
    std::string name;
    bool hasValue = false;
    std::string value;
};

Token tokenize(const char* arg) {
    Token token;
    std::string_view text(arg);
    size_t eq = text.find('=');
    std::string_view name = text.substr(0, eq);
    token.name.assign(name);
    if (!token.name.empty() && token.name[0] == '/') token.name[0] = '-';
    if (eq != std::string_view::npos) {
        token.hasValue = true;
        token.value.assign(text.substr(eq + 1));
    }
    return token;
}

// "-..." is always meant as a switch. "/x..." is one only when it names a switch,
// so a path such as /dev/ttyUSB0 stays an ordinary argument.
bool isSwitchArgument(const char* arg) {
    if (arg[0] == '-') return true;
    if (arg[0] != '/' || arg[1] == '\0' || arg[1] == '-') return false;
    return findSwitch(tokenize(arg).name) != nullptr;
}

bool allOf(const std::string& text, int (*test)(int)) {
    for (unsigned char c : text)
        if (!test(c)) return false;
    return true;
}

// Digits only, saturated at the largest 32-bit value; anything else is 0.
uint32_t parseNumber(const std::string& text, int base) {
    if (!allOf(text, base == 16 ? isxdigit : isdigit)) return 0;
    errno = 0;
    unsigned long long value = strtoull(text.c_str(), nullptr, base);
    if (errno == ERANGE || value > 0xFFFFFFFFull) return 0xFFFFFFFFu;
    return static_cast<uint32_t>(value);
}

bool parseSerial(UpdaterDisplayInterface* display, const std::string& value, uint32_t& out,
                 const char* prefixMessage, const char* invalidMessage) {
    std::string digits = value;
    if (digits.size() >= 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
        digits.erase(0, 2);
        updaterLog(DEBUG_Updater, "%s", prefixMessage);
    }
    out = parseNumber(digits, 16);
    if (out != 0) return true;
    displayPrintf(display, 1, invalidMessage, digits.c_str());
    return false;
}

bool parseTransport(UpdaterDisplayInterface* display, const std::string& value, UpdaterOptions& options) {
    options.transportGiven = true;
    if (value.compare(0, 3, "USB") == 0) {
        options.transport = TRANSPORT_USB;
    } else if (value.compare(0, 3, "TCP") == 0) {
        options.transport = TRANSPORT_TCPIP;
    } else if (value.compare(0, 7, "RECOVER") == 0) {
        options.transport = TRANSPORT_RECOVER;
    } else {
        displayPrintf(display, 1, "Invalid transport type:[%s]\nMust be one of the following: USB, TCPIP, RECOVER",
                      value.c_str());
        options.transport = TRANSPORT_INVALID;
        return false;
    }
    return true;
}

void parseLogMask(UpdaterDisplayInterface* display, const char* typed, const std::string& value,
                  UpdaterOptions& options) {
    bool hex = value.size() >= 2 && value[0] == '0' && (value[1] == 'x' || value[1] == 'X');
    char* end = nullptr;
    unsigned long mask = strtoul(value.c_str(), &end, hex ? 16 : 10);
    if (*end != '\0') {
        displayPrintf(display, 1, "Invalid format for \"%s\" parameter, unprocessed characters [%s]", typed, end);
        return;
    }
    options.logMask |= static_cast<uint32_t>(mask);
    updaterLog_SetMask(static_cast<uint32_t>(mask));
}

// Handles one recognised switch; false when it failed.
bool applySwitch(UpdaterDisplayInterface* display, const Switch& sw, const char* arg, const std::string& typedName,
                 const std::string& value, UpdaterOptions& options) {
    std::string_view name(sw.name);
    if (name == "-B") options.commands |= CMD_BUILDS;
    else if (name == "-L") options.commands |= CMD_LOCAL_BUILDS;
    else if (name == "-D") options.commands |= CMD_DISCOVER;
    else if (name == "-G") options.commands |= CMD_GET;
    else if (name == "-I") options.commands |= CMD_INFO;
    else if (name == "-U") options.commands |= CMD_UPDATE;
    else if (name == "-N") options.commands |= CMD_FINGERPRINT;
    else if (name == "-C") options.commands |= CMD_CHECK;
    else if (name == "-Z") options.commands |= CMD_Z;
    else if (name == "-OVERRIDE") {
        if (strncmp(arg, "-OVERRID", 8) != 0) {
            displayPrintf(display, 1, "Invalid format for firmware update override parameter [%s]", arg);
            return false;
        }
        options.override = true;
    } else if (name == "-Y") {
        displayPrintf(display, 1, "Unhandled command: [%s]", arg);
        return false;
    } else if (name == "-d") {
        return parseSerial(display, value, options.serialNumber, "Discarding '0x' serial number prefix\n",
                           "Invalid serial number obtained from argument [%s]");
    } else if (name == "-r") {
        return parseSerial(display, value, options.routerSerialNumber,
                           "Discarding '0x' router serial number prefix\n",
                           "Invalid router serial number obtained from argument [%s]");
    } else if (name == "-b") options.build = std::to_string(parseNumber(value, 10));
    else if (name == "-o") options.baudRate = parseNumber(value, 10);
    else if (name == "-t") return parseTransport(display, value, options);
    else if (name == "-X") parseLogMask(display, typedName.c_str(), value, options);
    else if (name == "-m") options.useUEIBytes = value.compare(0, 1, "1") == 0 || value.compare(0, 4, "true") == 0;
    else if (name == "-e") options.echo = true;
    else if (name == "-n") options.nFlag = true;
    else if (name == "-f") options.birdFilePath = value;
    else if (name == "-s") options.serialPort = value;
    else if (name == "-i") options.storeBase = value;
    else if (name == "-l") options.historyMessage = value;
    else if (name == "-k") options.logFileName = value;
    else if (name == "-u") options.serverEndpoint = value;
    return true;
}

std::string programNameOf(const char* argv0) {
    std::string_view path(argv0 ? argv0 : "");
    size_t cut = path.find_last_of("\\/");
    return std::string(cut == std::string_view::npos ? path : path.substr(cut + 1));
}

} // namespace

int parseUpdaterOptions(UpdaterDisplayInterface* display, int argc, const char* const* argv,
                        UpdaterOptions& options) {
    int result = 0;
    if (argc > 0) options.programName = programNameOf(argv[0]);
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        // Anything that is not a switch (including a path beginning with "/") is ignored here.
        if (!isSwitchArgument(arg)) continue;
        Token token = tokenize(arg);
        const Switch* sw = findSwitch(token.name);
        if (!sw) continue;
        if (!sw->takesValue && token.hasValue) continue;
        if (sw->kind == Kind::Help) {
            options.help = true;
            return 0;
        }
        std::string value;
        if (sw->takesValue) {
            if (token.hasValue) {
                value = token.value;
            } else if (i + 1 < argc && !isSwitchArgument(argv[i + 1])) {
                value = argv[++i];
            } else {
                continue; // no value: the next argument is read as a switch in its turn
            }
        }
        std::string typedName(arg, strcspn(arg, "="));
        if (!applySwitch(display, *sw, arg, typedName, value, options)) result = 1;
    }
    updaterLog(DEBUG_APP, "\nApplication parameters:[%s]\n", options.programName.c_str());
    updaterLog(DEBUG_APP, "Home directory:[%s]\n", options.homeDirectory.c_str());
    for (int i = 0; i < argc; ++i) updaterLog(DEBUG_APP, "\t[%s]\n", argv[i]);
    return result;
}
