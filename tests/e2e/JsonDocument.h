// The --json document of a run: parsed, and validated against the schema file
// the repository ships, by an independent validator (python3-jsonschema).
#pragma once

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "Subprocess.h"
#include "TempDir.h"

namespace JsonTest {

inline const std::string kSchema = std::string(VELTRANO_SOURCE_DIR) + "/Updater/app/UpdaterOutput.schema.json";

// The document on the run's standard output; a failed expectation when it is not
// one JSON document or does not fit the schema.
inline nlohmann::json document(const SubprocessResult& run, const TempDir& dir) {
    const std::string path = dir / "document.json";
    dir.write("document.json", run.out);
    SubprocessResult check = runSubprocess("/usr/bin/python3", {"-m", "jsonschema", "-i", path, kSchema});
    EXPECT_EQ(check.exitStatus, 0) << "schema: " << check.err << check.out << "\ndocument:\n" << run.out;
    try {
        return nlohmann::json::parse(run.out);
    } catch (const nlohmann::json::exception& error) {
        ADD_FAILURE() << "not one JSON document: " << error.what() << "\n" << run.out;
        return nullptr;
    }
}

inline std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    size_t start = 0;
    for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
        out.push_back(text.substr(start, end - start));
    if (start < text.size()) out.push_back(text.substr(start));
    return out;
}

// Whether part's lines appear in whole, in their order, with others between.
inline bool inOrder(const std::vector<std::string>& whole, const std::vector<std::string>& part) {
    size_t next = 0;
    for (const std::string& line : whole)
        if (next < part.size() && line == part[next]) ++next;
    return next == part.size();
}

// The same command with --json: the same exit status, and every line the text run
// wrote on either stream now on standard error, each stream's lines in their order.
inline void expectTextMovedToStandardError(const SubprocessResult& text, const SubprocessResult& json) {
    EXPECT_EQ(json.exitStatus, text.exitStatus);
    const std::vector<std::string> moved = lines(json.err);
    EXPECT_EQ(moved.size(), lines(text.out).size() + lines(text.err).size()) << json.err;
    EXPECT_TRUE(inOrder(moved, lines(text.out))) << json.err;
    EXPECT_TRUE(inOrder(moved, lines(text.err))) << json.err;
}

} // namespace JsonTest
