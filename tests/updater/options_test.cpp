#include <gtest/gtest.h>

#include <functional>

#include "RecordingDisplay.h"
#include "UpdaterLog.h"
#include "UpdaterOptions.h"

namespace {

struct Parsed {
    int result;
    UpdaterOptions options;
    std::vector<std::string> errors;
};

Parsed parse(std::vector<const char*> args) {
    args.insert(args.begin(), "/usr/local/bin/Updater");
    RecordingDisplay display;
    Parsed p;
    p.result = parseUpdaterOptions(&display, static_cast<int>(args.size()), args.data(), p.options);
    p.errors = display.errors;
    EXPECT_TRUE(display.messages.empty());
    return p;
}

struct Case {
    const char* name;
    std::vector<const char*> args;
    std::function<void(const UpdaterOptions&)> check;
};

void runCases(const std::vector<Case>& cases) {
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Parsed p = parse(c.args);
        EXPECT_EQ(p.result, 0);
        EXPECT_TRUE(p.errors.empty()) << p.errors.front();
        c.check(p.options);
    }
}

} // namespace

TEST(Options, Defaults) {
    Parsed p = parse({});
    EXPECT_EQ(p.result, 0);
    const UpdaterOptions& o = p.options;
    EXPECT_EQ(o.commands, 0u);
    EXPECT_EQ(o.transport, TRANSPORT_USB);
    EXPECT_FALSE(o.transportGiven);
    EXPECT_EQ(o.baudRate, 115200u);
    EXPECT_EQ(o.serverEndpoint, "http://updates.veltrano.example:80/cgi/u");
    EXPECT_EQ(o.logFileName, "Updater.log");
    EXPECT_TRUE(o.useUEIBytes);
    EXPECT_TRUE(o.extendedUsage);
    EXPECT_EQ(o.programName, "Updater");
}

TEST(Options, SwitchesAndValues) {
    runCases({
        {"hex serial with prefix", {"-d", "0x1a2b"}, [](auto& o) { EXPECT_EQ(o.serialNumber, 0x1A2Bu); }},
        {"upper-case prefix", {"-d", "0X40F5849A"}, [](auto& o) { EXPECT_EQ(o.serialNumber, 0x40F5849Au); }},
        {"more than eight digits saturate",
         {"-d", "123456789"},
         [](auto& o) { EXPECT_EQ(o.serialNumber, 0xFFFFFFFFu); }},
        {"value glued with =", {"-d=40F5849A"}, [](auto& o) { EXPECT_EQ(o.serialNumber, 0x40F5849Au); }},
        {"glued without = matches nothing", {"-d40F5849A"}, [](auto& o) { EXPECT_EQ(o.serialNumber, 0u); }},
        {"combined switches match nothing", {"-DU"}, [](auto& o) { EXPECT_EQ(o.commands, 0u); }},
        {"router serial", {"-r", "D272031D"}, [](auto& o) { EXPECT_EQ(o.routerSerialNumber, 0xD272031Du); }},
        {"switch without its value",
         {"-G", "-d"},
         [](auto& o) {
             EXPECT_EQ(o.commands, uint32_t(CMD_GET));
             EXPECT_EQ(o.serialNumber, 0u);
         }},
        {"next switch is not taken as a value",
         {"-d", "-U", "-G"},
         [](auto& o) {
             EXPECT_EQ(o.commands, uint32_t(CMD_UPDATE | CMD_GET));
             EXPECT_EQ(o.serialNumber, 0u);
         }},
        {"every command flag",
         {"-B", "-L", "-D", "-G", "-I", "-U", "-N", "-C", "-Z", "1"},
         [](auto& o) {
             EXPECT_EQ(o.commands, uint32_t(CMD_BUILDS | CMD_LOCAL_BUILDS | CMD_DISCOVER | CMD_GET |
                                            CMD_INFO | CMD_UPDATE | CMD_FINGERPRINT | CMD_CHECK | CMD_Z));
         }},
        {"slash reads as hyphen",
         {"/D", "/d", "1A"},
         [](auto& o) {
             EXPECT_EQ(o.commands, uint32_t(CMD_DISCOVER));
             EXPECT_EQ(o.serialNumber, 0x1Au);
         }},
        {"serial port path is a value",
         {"-U", "-t", "RECOVER", "-s", "/dev/ttyUSB0"},
         [](auto& o) {
             EXPECT_EQ(o.serialPort, "/dev/ttyUSB0");
             EXPECT_EQ(o.transport, TRANSPORT_RECOVER);
         }},
        {"serial port after =", {"-s=/dev/ttyS0"}, [](auto& o) { EXPECT_EQ(o.serialPort, "/dev/ttyS0"); }},
        {"a slash switch is not a value",
         {"-s", "/D"},
         [](auto& o) {
             EXPECT_EQ(o.serialPort, "");
             EXPECT_EQ(o.commands, uint32_t(CMD_DISCOVER));
         }},
        {"store, file and endpoint paths",
         {"-i", "/tmp/x", "-f", "/opt/fw/7.bird", "-u", "http://127.0.0.1:8080/cgi/u", "-k", "my.log", "-l",
          "note"},
         [](auto& o) {
             EXPECT_EQ(o.storeBase, "/tmp/x");
             EXPECT_EQ(o.birdFilePath, "/opt/fw/7.bird");
             EXPECT_EQ(o.serverEndpoint, "http://127.0.0.1:8080/cgi/u");
             EXPECT_EQ(o.logFileName, "my.log");
             EXPECT_EQ(o.historyMessage, "note");
         }},
        // The usage says "-u <host:port>"; a URL with a scheme is taken whole.
        {"server host and port",
         {"-u", "127.0.0.1:8080"},
         [](auto& o) { EXPECT_EQ(o.serverEndpoint, "http://127.0.0.1:8080/cgi/u"); }},
        {"server host and port with a slash",
         {"-u", "127.0.0.1:8080/"},
         [](auto& o) { EXPECT_EQ(o.serverEndpoint, "http://127.0.0.1:8080/cgi/u"); }},
        {"server host alone",
         {"-u=updates.lab"},
         [](auto& o) { EXPECT_EQ(o.serverEndpoint, "http://updates.lab/cgi/u"); }},
        {"server IPv6 address and port",
         {"-u", "[::1]:8080"},
         [](auto& o) { EXPECT_EQ(o.serverEndpoint, "http://[::1]:8080/cgi/u"); }},
        {"server URL over HTTPS",
         {"-u", "https://updates.lab:8443/firmware/q"},
         [](auto& o) { EXPECT_EQ(o.serverEndpoint, "https://updates.lab:8443/firmware/q"); }},
        {"later value replaces earlier",
         {"-s", "a", "-s", "b"},
         [](auto& o) { EXPECT_EQ(o.serialPort, "b"); }},
        {"transport TCPIP",
         {"-t", "TCPIP"},
         [](auto& o) {
             EXPECT_EQ(o.transport, TRANSPORT_TCPIP);
             EXPECT_TRUE(o.transportGiven);
         }},
        {"transport by its first letters",
         {"-t", "USBX"},
         [](auto& o) { EXPECT_EQ(o.transport, TRANSPORT_USB); }},
        {"transport TCP", {"-t", "TCP"}, [](auto& o) { EXPECT_EQ(o.transport, TRANSPORT_TCPIP); }},
        {"build digits", {"-b", "99528558"}, [](auto& o) { EXPECT_EQ(o.build, "99528558"); }},
        {"build leading zeros", {"-b", "007"}, [](auto& o) { EXPECT_EQ(o.build, "7"); }},
        {"build not a number", {"-b", "abc"}, [](auto& o) { EXPECT_EQ(o.build, "0"); }},
        {"build too large", {"-b", "99999999999"}, [](auto& o) { EXPECT_EQ(o.build, "4294967295"); }},
        {"baud rate", {"-o", "9600"}, [](auto& o) { EXPECT_EQ(o.baudRate, 9600u); }},
        {"baud rate not a number", {"-o", "fast"}, [](auto& o) { EXPECT_EQ(o.baudRate, 0u); }},
        {"UEI bytes off", {"-m", "0"}, [](auto& o) { EXPECT_FALSE(o.useUEIBytes); }},
        {"UEI bytes true", {"-m", "true"}, [](auto& o) { EXPECT_TRUE(o.useUEIBytes); }},
        {"UEI bytes by first digit", {"-m", "1x"}, [](auto& o) { EXPECT_TRUE(o.useUEIBytes); }},
        {"flags",
         {"-e", "-n"},
         [](auto& o) {
             EXPECT_TRUE(o.echo);
             EXPECT_TRUE(o.nFlag);
         }},
        {"flag given a value is skipped",
         {"-e=1", "-n=1"},
         [](auto& o) {
             EXPECT_FALSE(o.echo);
             EXPECT_FALSE(o.nFlag);
         }},
        {"override in full", {"-OVERRIDE"}, [](auto& o) { EXPECT_TRUE(o.override); }},
        {"override by eight characters", {"-OVERRID"}, [](auto& o) { EXPECT_TRUE(o.override); }},
        {"unknown switches and plain words are skipped",
         {"-a", "-help", "word", "/", "-OVERRIDEX", "-"},
         [](auto& o) {
             EXPECT_EQ(o.commands, 0u);
             EXPECT_FALSE(o.help);
             EXPECT_FALSE(o.override);
         }},
        {"help given a value is skipped", {"--help=x"}, [](auto& o) { EXPECT_FALSE(o.help); }},
        {"case matters",
         {"-g", "-u"},
         [](auto& o) {
             EXPECT_EQ(o.commands, 0u);
             EXPECT_EQ(o.serverEndpoint, defaultServerEndpoint());
         }},
    });
}

TEST(Options, FailingSwitchesReportAndParsingGoesOn) {
    struct Failing {
        std::vector<const char*> args;
        std::string error;
    } cases[] = {
        {{"-d", "12G4", "-D"}, "Invalid serial number obtained from argument [12G4]"},
        {{"-d", "0", "-D"}, "Invalid serial number obtained from argument [0]"},
        {{"-d", "0x0", "-D"}, "Invalid serial number obtained from argument [0]"},
        {{"-r", "0x-1", "-D"}, "Invalid router serial number obtained from argument [-1]"},
        {{"-t", "tcpip", "-D"},
         "Invalid transport type:[tcpip]\nMust be one of the following: USB, TCPIP, RECOVER"},
        {{"-t", "REC", "-D"},
         "Invalid transport type:[REC]\nMust be one of the following: USB, TCPIP, RECOVER"},
        {{"-OVER", "-D"}, "Invalid format for firmware update override parameter [-OVER]"},
        {{"-O", "-D"}, "Invalid format for firmware update override parameter [-O]"},
        {{"/Y", "-D"}, "Unhandled command: [/Y]"},
    };
    for (const Failing& c : cases) {
        SCOPED_TRACE(c.error);
        Parsed p = parse(c.args);
        EXPECT_EQ(p.result, 1);
        ASSERT_EQ(p.errors.size(), 1u);
        EXPECT_EQ(p.errors[0], c.error);
        EXPECT_EQ(p.options.commands, uint32_t(CMD_DISCOVER)) << "the switch after the failure is still read";
        EXPECT_FALSE(p.options.override);
    }
    EXPECT_EQ(parse({"-t", "bogus"}).options.transport, TRANSPORT_INVALID);
}

TEST(Options, HelpEndsParsingAtOnce) {
    Parsed before = parse({"-D", "-h", "-G"});
    EXPECT_TRUE(before.options.help);
    EXPECT_EQ(before.options.commands, uint32_t(CMD_DISCOVER));

    Parsed after = parse({"-h", "-D"});
    EXPECT_TRUE(after.options.help);
    EXPECT_EQ(after.options.commands, 0u);

    Parsed failed = parse({"-d", "0", "--he", "-d", "12G4"});
    EXPECT_EQ(failed.result, 0) << "help wins over an earlier failure";
    EXPECT_TRUE(failed.options.help);
    EXPECT_EQ(failed.errors.size(), 1u);

    EXPECT_TRUE(parse({"/H"}).options.help);
}

TEST(Options, LogMasksAccumulateAndBadMaskIsIgnored) {
    Parsed p = parse({"-X", "0x20", "-X", "8"});
    EXPECT_EQ(p.result, 0);
    EXPECT_EQ(p.options.logMask, 0x28u);
    EXPECT_EQ(updaterLog_GetMask() & 0x28u, 0x28u);

    uint32_t maskBefore = updaterLog_GetMask();
    Parsed bad = parse({"-X", "12ab", "-X=0x4000000q"});
    EXPECT_EQ(bad.result, 0) << "a bad mask does not fail the parse";
    EXPECT_EQ(bad.options.logMask, 0u);
    EXPECT_EQ(updaterLog_GetMask(), maskBefore);
    ASSERT_EQ(bad.errors.size(), 2u);
    EXPECT_EQ(bad.errors[0], "Invalid format for \"-X\" parameter, unprocessed characters [ab]");
    EXPECT_EQ(bad.errors[1], "Invalid format for \"-X\" parameter, unprocessed characters [q]");
}

TEST(Options, ProgramNameIsTheLastPathComponent) {
    const char* unixPath[] = {"/usr/bin/Updater"};
    const char* windowsPath[] = {"C:\\tools\\Updater.exe"};
    RecordingDisplay display;
    UpdaterOptions a, b;
    parseUpdaterOptions(&display, 1, unixPath, a);
    parseUpdaterOptions(&display, 1, windowsPath, b);
    EXPECT_EQ(a.programName, "Updater");
    EXPECT_EQ(b.programName, "Updater.exe");
}

TEST(Options, AllowUnsignedIsMatchedOnlyWrittenOut) {
    EXPECT_TRUE(parse({"--allow-unsigned", "-U"}).options.allowUnsigned);
    // An abbreviation selects nothing, and "--" still means --help as it always did.
    const Parsed abbreviated = parse({"--allow", "-U"});
    EXPECT_FALSE(abbreviated.options.allowUnsigned);
    EXPECT_FALSE(abbreviated.options.help);
    EXPECT_TRUE(parse({"--"}).options.help);
    EXPECT_FALSE(parse({"-U"}).options.allowUnsigned);
}
