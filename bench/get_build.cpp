// Downloading a 4 MiB build with `Updater -G` from the reference update server,
// against curl fetching the same build request from the same server. Both run as
// processes, so start-up costs count on both sides. Prints Updater's time relative
// to curl's (goal: at most 1.3).
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "ErrorCounter.h"
#include "BirdWriter.h"
#include "ReferenceServer.h"

extern char** environ;

namespace {

const std::string kBin = VELTRANO_BIN_DIR;

struct Fixture {
    std::string directory;
    std::unique_ptr<ReferenceServer> server;
    std::string buildQuery;
};

Fixture* fixture = nullptr;
double ratio = 0;

// Runs a program with its output discarded; its exit status, or -1.
int runQuietly(const std::vector<std::string>& args) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    std::vector<char*> argv;
    for (const std::string& arg : args)
        argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    pid_t pid;
    int status = -1;
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) == 0) waitpid(pid, &status, 0);
    posix_spawn_file_actions_destroy(&actions);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void setUp() {
    char pattern[] = "/tmp/bench_get_buildXXXXXX";
    fixture = new Fixture{mkdtemp(pattern), nullptr, ""};
    const std::string catalogue = fixture->directory + "/catalogue";
    mkdir(catalogue.c_str(), 0755);
    mkdir((catalogue + "/serial").c_str(), 0755);
    mkdir((catalogue + "/serial/40F5849A").c_str(), 0755);
    // Random image bytes do not compress: the file is 4 MiB on the wire as well.
    std::mt19937 random(7);
    std::vector<uint8> image((size_t(4) << 20) - 256);
    for (uint8& byte : image)
        byte = static_cast<uint8>(random());
    BirdWriter writer;
    writer.addIdentity("2.11.4", 0x40F5849A, "VT-Router");
    writer.addFirmwareImage(0x1000, image);
    writer.writeFile(catalogue + "/serial/40F5849A/99528558.bird", 1);
    fixture->server = std::make_unique<ReferenceServer>(catalogue, fixture->directory + "/server.log");
    fixture->buildQuery =
        fixture->server->url() + "?bld=99528558&fw=40F5849A&no_cal=false&op=bird&sn=40F5849A&";
}

void tearDown() {
    fixture->server.reset();
    runQuietly({"/bin/rm", "-rf", fixture->directory});
    delete fixture;
}

// curl stores the reply in a file too, as the download command stores the build.
std::vector<std::string> curlCommand() {
    return {"/usr/bin/curl", "-sf", "-o", fixture->directory + "/curl.reply", fixture->buildQuery};
}

std::vector<std::string> updaterCommand() {
    return {kBin + "/Updater",
            "-G",
            "-d",
            "40F5849A",
            "-u",
            fixture->server->url(),
            "-i",
            fixture->directory + "/store"};
}

double millisecondsOf(const std::vector<std::string>& command, bool& failed) {
    const auto start = std::chrono::steady_clock::now();
    failed = runQuietly(command) != 0 || failed;
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

void BM_CurlFetch(benchmark::State& state) {
    for (auto _ : state)
        if (runQuietly(curlCommand()) != 0) state.SkipWithError("curl failed");
}
BENCHMARK(BM_CurlFetch)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(10);

void BM_UpdaterGet(benchmark::State& state) {
    for (auto _ : state)
        if (runQuietly(updaterCommand()) != 0) state.SkipWithError("Updater -G failed");
}
BENCHMARK(BM_UpdaterGet)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(10);

// The two alternate, so a change in the machine's load touches both alike; the
// ratio is taken between the medians.
void BM_UpdaterOverCurl(benchmark::State& state) {
    std::vector<double> curl, updater;
    bool failed = false;
    for (auto _ : state) {
        curl.push_back(millisecondsOf(curlCommand(), failed));
        updater.push_back(millisecondsOf(updaterCommand(), failed));
    }
    if (failed) state.SkipWithError("a download failed");
    ratio = median(updater) / median(curl);
    state.counters["curl_ms"] = median(curl);
    state.counters["updater_ms"] = median(updater);
    state.counters["ratio"] = ratio;
}
BENCHMARK(BM_UpdaterOverCurl)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(21);

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    setUp();
    ErrorCounter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    tearDown();
    if (ratio > 0)
        printf("Updater -G time / curl time (medians, interleaved): %.2f (goal: at most 1.3)\n", ratio);
    benchmark::Shutdown();
    return reporter.exitStatus();
}
