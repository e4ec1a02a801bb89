// --json on every command: each run's document fits the schema file, states the
// facts its text states (the same command run without --json, or the lines the
// same run moved to standard error), keeps the exit status, and a failure is a
// document too.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "BirdBytes.h"
#include "BirdWriter.h"
#include "IspRomLine.h"
#include "JsonDocument.h"
#include "ReferenceServer.h"
#include "UpdateNetwork.h"

namespace {

using namespace UpdateTest;
using JsonTest::document;
using JsonTest::expectTextMovedToStandardError;
using nlohmann::json;

std::vector<std::string> withJson(std::vector<std::string> args) {
    args.push_back("--json");
    return args;
}

// A store and a catalogue, as the retrieval tests use them.
class JsonStore : public ::testing::Test {
  protected:
    JsonStore() {
        TempDir::makeDirectories(dir / "catalogue/serial/40F5849A");
        TempDir::makeDirectories(dir / "catalogue/model/VT-Router");
        dir.write("catalogue/devices.txt", "40F5849A VT-Router\n");
        dir.write("catalogue/serial/40F5849A/27.bird", birdFileBytes("1.2.3", 0x40F5849A, "VT-Router"));
        dir.write("catalogue/model/VT-Router/28.bird", birdFileBytes("1.10.0", 0, "VT-Router"));
    }
    SubprocessResult updater(std::vector<std::string> args, const std::string& url = kServer) {
        args.insert(args.end(), {"-u", url, "-i", dir / "store"});
        SubprocessResult r = runUpdater(args, dir / "home");
        EXPECT_TRUE(r.started);
        EXPECT_FALSE(r.timedOut);
        return r;
    }
    // The command with and without --json: the document, once the two runs agree.
    json both(const std::vector<std::string>& args, const std::string& url = kServer) {
        SCOPED_TRACE(args.front());
        SubprocessResult text = updater(args, url);
        SubprocessResult js = updater(withJson(args), url);
        expectTextMovedToStandardError(text, js);
        json doc = document(js, dir);
        if (doc.is_null()) return doc;
        EXPECT_EQ(doc["ok"], text.exitStatus == 0);
        EXPECT_EQ(doc["exit_status"], text.exitStatus);
        return doc;
    }
    TempDir dir;
};

TEST_F(JsonStore, DownloadListingsRecordAndFileCheckStateTheirTextsFacts) {
    ReferenceServer server(dir / "catalogue", dir / "server.log");
    // -G once as text so the record exists, then as JSON (the second download
    // rewrites the same file).
    json get = both({"-G", "-d", "40F5849A"}, server.url());
    EXPECT_EQ(get["commands"], json::array({"get"}));
    EXPECT_EQ(get["download"], json({{"serial", "40F5849A"}, {"ok", true}, {"build", "28"}}));

    json builds = both({"-B", "-d", "40F5849A"}, server.url());
    EXPECT_EQ(builds["serial"], "40F5849A");
    // Newest first, as the table: 28 1.10.0, then 27 1.2.3.
    EXPECT_EQ(builds["builds"], json::parse(R"([{"build":"28","version":"1.10.0"},
                                               {"build":"27","version":"1.2.3"}])"));

    json local = both({"-L", "-d", "40F5849A"}, server.url());
    EXPECT_EQ(local["builds"], json::parse(R"([{"build":"28","version":"1.10.0"}])"));

    json info = both({"-I", "-d", "40F5849A"}, server.url());
    const json& record = info["record"];
    EXPECT_EQ(record["serial"], "40F5849A");
    EXPECT_EQ(record["directory"], dir / "store/updater/40F5849A");
    const auto attributes = TempDir::readAttributes(dir / "store/updater/40F5849A/.settings");
    EXPECT_EQ(record["attributes"].size(), attributes.size());
    for (const auto& [key, value] : attributes)
        EXPECT_EQ(record["attributes"][key], value) << key;
    EXPECT_EQ(record["builds"], local["builds"]);

    BirdWriter writer;
    writer.addIdentity("2.0.7", 0, "VT-Relay");
    writer.addSerialLocations(0x1010, 0x1020);
    writer.addLoaderImage(0x20000000, Bytes(40, 1));
    writer.addFirmwareImage(0x1000, Bytes(300, 2));
    const std::string path = dir / "check.bird";
    writer.writeFile(path);
    json check = both({"-C", "-f", path});
    const json& bird = check["bird"];
    EXPECT_EQ(bird["path"], path);
    EXPECT_EQ(bird["identity"]["version"], "2.0.7");
    EXPECT_EQ(bird["identity"]["model_name"], "VT-Relay");
    EXPECT_EQ(bird["identity"]["target_serial"], "00000000");
    EXPECT_EQ(bird["serial_locations"], json({{"serial_number", "0x00001010"}, {"descriptor", "0x00001020"}}));
    ASSERT_FALSE(bird["models"].empty());
    EXPECT_EQ(bird["models"][0]["name"], "VT-Relay");
    // The text's block table, row by row.
    const std::vector<std::string> out = JsonTest::lines(updater({"-C", "-f", path}).out);
    size_t row = 0;
    while (row < out.size() && out[row].rfind("  #    Type", 0) != 0)
        ++row;
    ASSERT_EQ(out.size() - row - 1, bird["blocks"].size());
    int number = 0;
    for (const json& block : bird["blocks"]) {
        char line[128];
        const std::string address = block["address"].is_null() ? "-" : block["address"].get<std::string>();
        snprintf(line, sizeof line, "  %-4d %-5u %-6u %-11u %-11s %s", ++number, block["type"].get<unsigned>(),
                 block["flags"].get<unsigned>(), block["length"].get<unsigned>(), address.c_str(),
                 block["kind"].get<std::string>().c_str());
        EXPECT_EQ(out[++row], line);
    }
}

// -G for several modules fetches each module's build at once, one line each.
TEST_F(JsonStore, DownloadForSeveralModules) {
    dir.write("catalogue/devices.txt", "40F5849A VT-Router\n40F5849B VT-Router\n");
    ReferenceServer server(dir / "catalogue", dir / "server.log");
    SubprocessResult r = updater({"-G", "-d", "40F5849A", "-d", "40F5849B", "--json"}, server.url());
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    json doc = document(r, dir);
    ASSERT_EQ(doc["updates"].size(), 2u);
    for (const char* serial : {"40F5849A", "40F5849B"}) {
        SCOPED_TRACE(serial);
        EXPECT_EQ(TempDir::read(dir / "store/updater/" + std::string(serial) + "/28.bird"),
                  TempDir::read(dir / "catalogue/model/VT-Router/28.bird"));
        EXPECT_NE(r.err.find("[" + std::string(serial) + "] downloaded in "), std::string::npos) << r.err;
    }
    EXPECT_EQ(doc["updates"][1]["serial"], "40F5849B");
    EXPECT_EQ(doc["updates"][1]["ok"], true);
    EXPECT_EQ(doc["fleet"]["succeeded"], 2);
}

// Each failure: the exit status of the text run, "ok": false, the first error
// line as the error's text.
TEST_F(JsonStore, AFailureIsADocumentWithTheErrorTheTextGave) {
    struct Case {
        std::vector<std::string> args;
        std::string error;
    } cases[] = {
        {{"-C", "-f", "/nonexistent/x.bird"}, "BIRD file not found: /nonexistent/x.bird"},
        {{"-B"}, "Error must supply a serial number for the List Builds command"},
        {{"-L", "-d", "12G4"}, "Invalid serial number obtained from argument [12G4]"},
        {{"-G", "-d", "40F5849A"}, "Server request failed for http://127.0.0.1:9/cgi/u"},
        {{"-I", "-d", "40F5849A"}, "No record of device [40F5849A] in the store at " + dir / "store/updater"},
        {{"-U", "-d", "40F5849A", "-b", "42"}, "Failed to load bird file"},
        {{"-U", "-t", "RECOVER", "-s=/nonexistent/tty"}, ""},
        {{"-N"}, "Must specify the serial port used for connecting"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.front() + " " + c.args.back());
        SubprocessResult text = updater(c.args);
        SubprocessResult js = updater(withJson(c.args));
        EXPECT_EQ(text.exitStatus, 1);
        expectTextMovedToStandardError(text, js);
        json doc = document(js, dir);
        if (doc.is_null()) continue;
        EXPECT_EQ(doc["ok"], false);
        EXPECT_EQ(doc["exit_status"], 1);
        const std::string firstError = JsonTest::lines(text.err).empty() ? "" : JsonTest::lines(text.err)[0];
        EXPECT_EQ(doc["error"]["text"], firstError);
        if (!c.error.empty()) {
            EXPECT_EQ(firstError, c.error);
        }
        // Every error line, in order; the usage text that may follow is no error.
        EXPECT_TRUE(JsonTest::inOrder(JsonTest::lines(text.err),
                                      doc["error"]["lines"].get<std::vector<std::string>>()));
    }
}

// Help asked before --json: the usage moves to standard error like any text, and
// standard output holds the document alone.
TEST_F(JsonStore, HelpBeforeJsonIsADocumentToo) {
    for (const char* help : {"--help", "-h"}) {
        SCOPED_TRACE(help);
        json doc = both({help});
        EXPECT_EQ(doc["ok"], true);
        EXPECT_EQ(doc["commands"], json::array());
    }
}

// -N against the serial ISP boot ROM emulator.
TEST_F(JsonStore, FingerprintAsFourWords) {
    Veltrano::Sim::IspRomSettings settings;
    const uint32_t uid[4] = {0x0A1B2C3D, 0x4E5F6071, 0x8293A4B5, 0xC6D7E8F9};
    std::copy(uid, uid + 4, settings.uid);
    Veltrano::Sim::IspRomLine chip(settings, Veltrano::Sim::SerialLine::Settings{true});
    json doc = both({"-N", "-s", chip.path()});
    EXPECT_EQ(doc["fingerprint"], json::array({"0A1B2C3D", "4E5F6071", "8293A4B5", "C6D7E8F9"}));
}

// Discovery and updates over TCP/IP in the test's namespace.
class JsonNetwork : public UpdateNetwork {
  protected:
    json both(const std::vector<std::string>& args) {
        SubprocessResult text = updater(args);
        SubprocessResult js = updater(withJson(args));
        expectTextMovedToStandardError(text, js);
        return document(js, dir);
    }
};

TEST_F(JsonNetwork, DiscoveryRowsAreTheTablesRows) {
    VirtualModule& other = kept.make(moduleIdentity(0x5A17C312, 17, 0x12, 0x2F020E07, 4107));
    serve(module, 7301);
    serve(other, 7302);
    startResponder();
    SubprocessResult text = updater({"-D", "-t", "TCPIP"});
    json doc = both({"-D", "-t", "TCPIP"});
    ASSERT_TRUE(doc.contains("devices"));
    const std::vector<std::string> rows = JsonTest::lines(text.out);
    ASSERT_EQ(doc["devices"].size() + 4, rows.size()) << text.out;
    for (size_t i = 0; i < doc["devices"].size(); ++i) {
        const json& d = doc["devices"][i];
        // The table pads the major version to three columns.
        const std::string version = d["firmware"]["version"];
        const std::string major = version.substr(0, version.find('.'));
        char row[160];
        snprintf(row, sizeof row, "    %s  %02X       %02X      %-12s %3s%s (%u) [%s]",
                 d["serial"].get<std::string>().c_str(), d["module_address"].get<unsigned>(),
                 d["router_address"].get<unsigned>(), d["model"]["name"].get<std::string>().c_str(),
                 major.c_str(), version.substr(major.size()).c_str(), d["firmware"]["build"].get<unsigned>(),
                 d["ip_address"].get<std::string>().c_str());
        EXPECT_EQ(rows[4 + i], row);
        EXPECT_EQ(d["transport"], "TCPIP");
        EXPECT_TRUE(d["error"].is_null());
    }
}

TEST_F(JsonNetwork, AnUpdateReportsBeforeAfterBytesAndTime) {
    serve(module, 7311);
    startResponder();
    Firmware firmware("VT-CoreUSB", kSerial);
    const std::string path = firmware.write(dir, "new.bird");
    SubprocessResult r = updater({"-U", "-d", "5A17C3C4", "-f", path, "--json"});
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    expectFlashHolds(module, firmware);
    json doc = document(r, dir);
    ASSERT_EQ(doc["updates"].size(), 1u);
    const json& u = doc["updates"][0];
    EXPECT_EQ(u["serial"], "5A17C3C4");
    EXPECT_EQ(u["ok"], true);
    EXPECT_TRUE(u["failed_step"].is_null());
    EXPECT_EQ(u["model"], "VT-CoreUSB");
    EXPECT_EQ(u["transport"], "TCPIP");
    EXPECT_EQ(u["before"], json({{"version", "2.15.3"}, {"build", 4211}}));
    EXPECT_EQ(u["after"], json({{"version", "3.4.2"}, {"build", kNewBuild}}));
    // The text's totals: 44 loader bytes, 3624 firmware bytes; and its time.
    EXPECT_EQ(u["bytes_sent"], 44 + 3624);
    char time[64];
    snprintf(time, sizeof time, "Update time: %.4f sec", u["seconds"].get<double>());
    EXPECT_NE(r.err.find(time), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(firmware.transferLines()), std::string::npos);
}

TEST_F(JsonNetwork, AFailedUpdateNamesItsStepAndError) {
    ModuleFaults faults;
    // The loader's write goes through; every firmware write is refused.
    faults.replies["upgrade.write"] = ReplyFault{ReplyFaultKind::ErrorReply, 1};
    module.setFaults(faults);
    serve(module, 7321);
    startResponder();
    const std::string path = Firmware("VT-CoreUSB", kSerial).write(dir, "new.bird");
    SubprocessResult r = updater({"-U", "-d", "5A17C3C4", "-f", path, "--json"});
    EXPECT_EQ(r.exitStatus, 1);
    json doc = document(r, dir);
    const json& u = doc["updates"][0];
    EXPECT_EQ(u["ok"], false);
    EXPECT_EQ(u["failed_step"], "firmware");
    EXPECT_EQ(u["error"]["code"], doc["error"]["code"]);
    EXPECT_FALSE(u["error"]["code"].is_null());
    EXPECT_EQ(u["error"]["text"], JsonTest::lines(r.err).empty() ? "" : doc["error"]["text"]);
    EXPECT_NE(r.err.find(u["error"]["text"].get<std::string>()), std::string::npos);
    EXPECT_TRUE(u["after"].is_null());
    EXPECT_EQ(doc["ok"], false);
}

// A module behind a router that never restarts (its reboot request is lost),
// sent a file whose version names nothing to compare with what it runs: the update
// is not confirmed, and fails at the after-reboot check.
TEST_F(JsonNetwork, AnUnconfirmedUpdateFailsAtTheAfterRebootCheck) {
    VirtualModule& router = kept.make(liveIdentity(kRouterSerial, 27, 2));
    VirtualModule& behind = kept.make(liveIdentity(0x5A17C306, 17, 6));
    router.attachToBus(behind);
    UpgradeArea::Settings settings = behind.upgrade().settings();
    settings.rebootIgnored = true;
    behind.upgrade().configure(settings);
    serve(router, 7331);
    startResponder();
    BirdWriter writer;
    writer.addIdentity("nightly", 0x5A17C306, "VT-Acquire");
    writer.addLoaderImage(0x20000000, pattern(40, 3));
    writer.addFirmwareImage(0x1000, pattern(600, 11));
    const std::string path = dir / "nightly.bird";
    writer.writeFile(path);
    SubprocessResult r = updater({"-U", "-r", "5A17C3A0", "-d", "5A17C306", "-f", path, "--json"});
    EXPECT_EQ(r.exitStatus, 1) << r.err;
    EXPECT_NE(r.err.find("showed no sign of a restart"), std::string::npos) << r.err;
    json doc = document(r, dir);
    ASSERT_EQ(doc["updates"].size(), 1u);
    EXPECT_EQ(doc["updates"][0]["failed_step"], "verify");
    EXPECT_EQ(behind.upgrade().counts().reboots, 1u);
}

} // namespace
