#include "UpdaterOptions.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "ServerEndpoint.h"
#include "UpdaterLog.h"

namespace {

enum class Kind { Command, Help, Parameter };

// What a recognised switch sees: the argument as typed, its switch part as typed
// (before any "="), and its value.
struct SwitchUse {
    UpdaterDisplayInterface* display;
    const char* arg;
    const std::string& typedName;
    const std::string& value;
    UpdaterOptions& options;
};

// Handles a recognised switch; false when it failed.
using SwitchHandler = bool (*)(const SwitchUse&);

struct Switch {
    const char* name;
    Kind kind;
    bool takesValue;
    uint32_t command;     // command flag to set, 0 for none
    SwitchHandler handle; // null: nothing more to do
    // Matched only when written out: a switch added to the original table must not
    // make an abbreviation that used to select one switch ("--" for --help) ambiguous.
    bool wholeNameOnly = false;
};

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

bool handleBuild(const SwitchUse& u) {
    u.options.build = std::to_string(parseNumber(u.value, 10));
    return true;
}
bool handleBaudRate(const SwitchUse& u) {
    u.options.baudRate = parseNumber(u.value, 10);
    return true;
}
bool handleUEIBytes(const SwitchUse& u) {
    u.options.useUEIBytes = u.value.compare(0, 1, "1") == 0 || u.value.compare(0, 4, "true") == 0;
    u.options.useUEIBytesGiven = true;
    return true;
}
bool handleEcho(const SwitchUse& u) {
    u.options.echo = true;
    return true;
}
bool handleN(const SwitchUse& u) {
    u.options.nFlag = true;
    return true;
}
bool handleJson(const SwitchUse& u) {
    u.options.json = true;
    return true;
}
bool handleJobs(const SwitchUse& u) {
    u.options.jobs = parseNumber(u.value, 10);
    if (u.options.jobs != 0) return true;
    displayPrintf(u.display, 1, "Invalid number of modules at once [%s]: -j takes a number from 1", u.value.c_str());
    return false;
}
bool handleAllowUnsigned(const SwitchUse& u) {
    u.options.allowUnsigned = true;
    return true;
}

// The switches whose value is kept as given.
template <std::string UpdaterOptions::*Field> bool keepValue(const SwitchUse& u) {
    u.options.*Field = u.value;
    return true;
}

bool parseSerial(const SwitchUse& use, uint32_t& out, const char* prefixMessage, const char* invalidMessage) {
    std::string digits = use.value;
    if (digits.size() >= 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
        digits.erase(0, 2);
        updaterLog(DEBUG_Updater, "%s", prefixMessage);
    }
    out = parseNumber(digits, 16);
    if (out != 0) return true;
    displayPrintf(use.display, 1, invalidMessage, digits.c_str());
    return false;
}

bool handleSerial(const SwitchUse& use) {
    if (!parseSerial(use, use.options.serialNumber, "Discarding '0x' serial number prefix\n",
                     "Invalid serial number obtained from argument [%s]"))
        return false;
    // Every -d counts for a fleet update; the last one is the device of every
    // other command, as it always was.
    use.options.serialNumbers.push_back(use.options.serialNumber);
    return true;
}

bool handleRouterSerial(const SwitchUse& use) {
    return parseSerial(use, use.options.routerSerialNumber, "Discarding '0x' router serial number prefix\n",
                       "Invalid router serial number obtained from argument [%s]");
}

bool handleTransport(const SwitchUse& use) {
    UpdaterOptions& options = use.options;
    options.transportGiven = true;
    if (use.value.compare(0, 3, "USB") == 0) {
        options.transport = TRANSPORT_USB;
    } else if (use.value.compare(0, 3, "TCP") == 0) {
        options.transport = TRANSPORT_TCPIP;
    } else if (use.value.compare(0, 7, "RECOVER") == 0) {
        options.transport = TRANSPORT_RECOVER;
    } else {
        displayPrintf(use.display, 1,
                      "Invalid transport type:[%s]\nMust be one of the following: USB, TCPIP, RECOVER",
                      use.value.c_str());
        options.transport = TRANSPORT_INVALID;
        return false;
    }
    return true;
}

// A bad mask is reported but does not fail the parse.
bool handleLogMask(const SwitchUse& use) {
    const std::string& value = use.value;
    bool hex = value.size() >= 2 && value[0] == '0' && (value[1] == 'x' || value[1] == 'X');
    char* end = nullptr;
    unsigned long mask = strtoul(value.c_str(), &end, hex ? 16 : 10);
    if (*end != '\0') {
        displayPrintf(use.display, 1, "Invalid format for \"%s\" parameter, unprocessed characters [%s]",
                      use.typedName.c_str(), end);
        return true;
    }
    use.options.logMask |= static_cast<uint32_t>(mask);
    updaterLog_SetMask(static_cast<uint32_t>(mask));
    return true;
}

// Only a spelling of at least "-OVERRID" counts, so a stray abbreviation cannot
// switch off the model checks.
bool handleOverride(const SwitchUse& use) {
    if (strncmp(use.arg, "-OVERRID", 8) != 0) {
        displayPrintf(use.display, 1, "Invalid format for firmware update override parameter [%s]", use.arg);
        return false;
    }
    use.options.override = true;
    return true;
}

bool handleServer(const SwitchUse& use) {
    use.options.serverEndpoint = serverEndpointFor(use.value);
    return true;
}

bool handleUnhandled(const SwitchUse& use) {
    displayPrintf(use.display, 1, "Unhandled command: [%s]", use.arg);
    return false;
}

// Lookups walk the table in this order.
const Switch kSwitches[] = {
    {"-B", Kind::Command, false, CMD_BUILDS, nullptr},
    {"-L", Kind::Command, false, CMD_LOCAL_BUILDS, nullptr},
    {"-D", Kind::Command, false, CMD_DISCOVER, nullptr},
    {"-G", Kind::Command, false, CMD_GET, nullptr},
    {"-I", Kind::Command, false, CMD_INFO, nullptr},
    {"-U", Kind::Command, false, CMD_UPDATE, nullptr},
    {"-OVERRIDE", Kind::Command, false, 0, handleOverride},
    {"-N", Kind::Command, false, CMD_FINGERPRINT, nullptr},
    {"-Y", Kind::Command, false, 0, handleUnhandled},
    {"-C", Kind::Command, false, CMD_CHECK, nullptr},
    {"-h", Kind::Help, false, 0, nullptr},
    {"-H", Kind::Help, false, 0, nullptr},
    {"-n", Kind::Parameter, false, 0, handleN},
    {"-X", Kind::Parameter, true, 0, handleLogMask},
    {"-Z", Kind::Parameter, true, CMD_Z, nullptr},
    {"-m", Kind::Parameter, true, 0, handleUEIBytes},
    {"-i", Kind::Parameter, true, 0, keepValue<&UpdaterOptions::storeBase>},
    {"-b", Kind::Parameter, true, 0, handleBuild},
    {"-d", Kind::Parameter, true, 0, handleSerial},
    {"-t", Kind::Parameter, true, 0, handleTransport},
    {"-f", Kind::Parameter, true, 0, keepValue<&UpdaterOptions::birdFilePath>},
    {"-r", Kind::Parameter, true, 0, handleRouterSerial},
    {"-s", Kind::Parameter, true, 0, keepValue<&UpdaterOptions::serialPort>},
    {"-o", Kind::Parameter, true, 0, handleBaudRate},
    {"-e", Kind::Parameter, false, 0, handleEcho},
    {"-l", Kind::Parameter, true, 0, keepValue<&UpdaterOptions::historyMessage>},
    {"-k", Kind::Parameter, true, 0, keepValue<&UpdaterOptions::logFileName>},
    {"-u", Kind::Parameter, true, 0, handleServer},
    {"--help", Kind::Help, false, 0, nullptr},
    {"--allow-unsigned", Kind::Parameter, false, 0, handleAllowUnsigned, true},
    {"--json", Kind::Parameter, false, 0, handleJson, true},
    {"-j", Kind::Parameter, true, 0, handleJobs, true},
};

size_t leadingHyphens(std::string_view text) {
    size_t n = 0;
    while (n < text.size() && text[n] == '-')
        ++n;
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
        if (s.wholeNameOnly || leadingHyphens(candidate) != hyphens || candidate.substr(0, name.size()) != name)
            continue;
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
            // A --json after the help still asks for the document alone on standard output.
            for (int j = i + 1; j < argc; ++j) {
                if (!isSwitchArgument(argv[j])) continue;
                const Token later = tokenize(argv[j]);
                const Switch* laterSwitch = findSwitch(later.name);
                if (laterSwitch && laterSwitch->handle == handleJson && !later.hasValue) options.json = true;
            }
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
        options.commands |= sw->command;
        if (sw->handle && !sw->handle({display, arg, typedName, value, options})) result = 1;
    }
    updaterLog(DEBUG_APP, "\nApplication parameters:[%s]\n", options.programName.c_str());
    updaterLog(DEBUG_APP, "Home directory:[%s]\n", options.homeDirectory.c_str());
    for (int i = 0; i < argc; ++i)
        updaterLog(DEBUG_APP, "\t[%s]\n", argv[i]);
    return result;
}
