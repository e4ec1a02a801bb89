#include <gtest/gtest.h>

#include <dirent.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "AsNobody.h"
#include "AtomicFile.h"
#include "AttributesFile.h"
#include "LogCapture.h"
#include "TempDir.h"
#include "Timestamp.h"
#include "aFile.h"

namespace {

using Values = std::map<std::string, std::string>;

// Names in a directory besides "." and "..".
std::vector<std::string> entries(const std::string& directory) {
    std::vector<std::string> names;
    DIR* dir = opendir(directory.c_str());
    if (!dir) return names;
    while (dirent* e = readdir(dir)) {
        std::string name = e->d_name;
        if (name != "." && name != "..") names.push_back(name);
    }
    closedir(dir);
    return names;
}

bool looksLikeTimestamp(const std::string& text) {
    struct tm parsed = {};
    const char* end = strptime(text.c_str(), "%a %b %e %H:%M:%S %Y", &parsed);
    return text.size() == 24 && end && *end == '\0';
}

} // namespace

TEST(Attributes, ReadingTrimsSkipsAndLetsTheLastValueWin) {
    struct Case {
        const char* name;
        std::string content;
        Values values;
    } cases[] = {
        {"padding, carriage return and a comment",
         "  LATEST_DOWNLOAD =  12.bird  \r\n#LATEST_TRANSFER=7.bird\n",
         {{"LATEST_DOWNLOAD", "12.bird"}}},
        {"a hash after white space is part of the key", " # x=1\n", {{"# x", "1"}}},
        {"only the first = splits", "A=b=c\n", {{"A", "b=c"}}},
        {"the later of repeated keys wins", "K=1\nK=2\n", {{"K", "2"}}},
        {"tabs around key and value", "\tKEY\t=\tv a l\t\n", {{"KEY", "v a l"}}},
        {"short lines are skipped", "a\n\n=\nB=1\n", {{"B", "1"}}},
        {"last line without a line feed", "A=1\nB=2", {{"A", "1"}, {"B", "2"}}},
        {"line starting with =", "=v\n", {{"", "v"}}},
        {"line without =", "word\n", {{"word", ""}}},
        {"empty value", "EMPTY=\n", {{"EMPTY", ""}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        AttributesFile attributes(dir.write(".settings", c.content));
        EXPECT_EQ(attributes.values(), c.values);
        EXPECT_FALSE(attributes.isModified());
        EXPECT_EQ(attributes.fileName(), dir / ".settings");
    }
}

TEST(Attributes, MissingFileIsCreatedWithItsTimes) {
    TempDir dir;
    LogCapture log(DEBUG_Attributes);
    std::string path = dir / ".settings";
    AttributesFile attributes(path);
    EXPECT_FALSE(attributes.isModified());
    std::string created = attributes.getText("CREATED_TIME");
    EXPECT_TRUE(looksLikeTimestamp(created)) << created;
    EXPECT_EQ(attributes.getText("UPDATED_TIME"), created);
    EXPECT_EQ(TempDir::read(path), "CREATED_TIME=" + created + "\nUPDATED_TIME=" + created + "\n");
    EXPECT_EQ(log.text(), "Attibutes: Error - cannot open attributes file: '" + path + "' (2)\n");
}

// The platform layer opens no path longer than aFILE_MAXPATH; such a record cannot be
// read, and must then not be replaced by a fresh one either.
TEST(Attributes, OverlongPathLeavesTheRecordAlone) {
    TempDir dir;
    std::string directory = dir.path();
    while (directory.size() <= aFILE_MAXPATH) {
        directory += "/" + std::string(60, 'd');
        ASSERT_EQ(mkdir(directory.c_str(), 0755), 0);
    }
    std::string path = directory + "/.settings";
    std::string record = "LATEST_DOWNLOAD=12.bird\n";
    {
        FILE* file = fopen(path.c_str(), "w");
        ASSERT_NE(file, nullptr);
        fputs(record.c_str(), file);
        fclose(file);
    }
    LogCapture log(DEBUG_Attributes);
    AttributesFile attributes(path);
    attributes.setText("LATEST_DOWNLOAD", "13.bird");
    EXPECT_NE(attributes.write(), aErrNone);
    EXPECT_TRUE(attributes.isModified());
    EXPECT_EQ(TempDir::read(path), record);
    EXPECT_EQ(log.text(), "Attibutes: Error - cannot open attributes file: '" + path + "' (" +
                              std::to_string(ENAMETOOLONG) + ")\nAttibutes: not rewriting '" + path +
                              "': it could not be read\n");
}

// A record that is there but cannot be read (as another user's) still holds the
// device's history: neither reading it nor writing what was gathered since may
// replace it.
TEST(Attributes, UnreadableFileIsNeverReplaced) {
    TempDir dir;
    ASSERT_EQ(chmod(dir.path().c_str(), 0777), 0);
    const std::string record = "LATEST_DOWNLOAD=12.bird\nLATEST_TRANSFER=12.bird\n";
    const std::string path = dir.write(".settings", record);
    ASSERT_EQ(chmod(path.c_str(), 0), 0);
    const int failures = asNobody([&] {
        LogCapture log(DEBUG_Attributes);
        AttributesFile attributes(path);
        int bad = !attributes.values().empty();
        bad += log.text() != "Attibutes: Error - cannot open attributes file: '" + path + "' (" +
                                 std::to_string(EACCES) + ")\n";
        attributes.setText("LATEST_DOWNLOAD", "13.bird");
        bad += attributes.write() != aErrRead;
        bad += attributes.isModified() ? 0 : 1;
        // Written under another name, the gathered values are fine.
        bad += attributes.write(dir / "copy") != aErrNone;
        return bad;
    });
    EXPECT_EQ(failures, 0);
    EXPECT_EQ(TempDir::read(path), record);
    std::vector<std::string> names = entries(dir.path());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{".settings", "copy"}));
}

// A record whose reading stops before its end (a line longer than the line buffer)
// still holds pairs that were never read: writing what was read must not drop them.
TEST(Attributes, RecordReadOnlyInPartIsNeverReplaced) {
    TempDir dir;
    const std::string record = "CREATED_TIME=Mon Dec  7 09:00:00 2026\nNOTE=" + std::string(3000, 'n') +
                               "\nLATEST_DOWNLOAD=12.bird\n";
    const std::string path = dir.write(".settings", record);
    LogCapture log(DEBUG_Attributes);
    AttributesFile attributes(path);
    EXPECT_EQ(attributes.getText("CREATED_TIME"), "Mon Dec  7 09:00:00 2026");
    attributes.setText("LATEST_DOWNLOAD", "13.bird");
    EXPECT_EQ(attributes.write(), aErrRead);
    EXPECT_TRUE(attributes.isModified());
    EXPECT_TRUE(TempDir::read(path) == record) << "the record was replaced";
    EXPECT_EQ(log.text(), "Attibutes: Error - reading attributes file: '" + path + "' stopped early (" +
                              std::to_string(aErrOverrun) + ")\nAttibutes: not rewriting '" + path +
                              "': it could not be read\n");
}

// A directory where the file should be is no missing file either.
TEST(Attributes, DirectoryInPlaceOfTheFileIsLeftAlone) {
    TempDir dir;
    const std::string path = dir / ".settings";
    ASSERT_EQ(mkdir(path.c_str(), 0755), 0);
    LogCapture log(DEBUG_Attributes);
    AttributesFile attributes(path);
    EXPECT_TRUE(attributes.values().empty()) << "no CREATED_TIME for a file that was never made";
    EXPECT_EQ(log.text(), "Attibutes: Error - cannot open attributes file: '" + path + "' (" +
                              std::to_string(EISDIR) + ")\n");
}

TEST(Attributes, GetIntReadsLeadingDigitsAndAddsAbsentKeys) {
    TempDir dir;
    std::string path =
        dir.write(".settings", "LATEST_DOWNLOAD=99528558.bird\nLATEST_TRANSFER=/opt/fw/7.bird\n"
                               "PADDED=  42abc\nUPDATED_TIME=then\n");
    AttributesFile attributes(path);
    EXPECT_EQ(attributes.getInt("LATEST_DOWNLOAD", 0), 99528558);
    EXPECT_EQ(attributes.getInt("LATEST_TRANSFER", 5), 0) << "a path does not start with digits";
    EXPECT_EQ(attributes.getInt("PADDED", 0), 42);
    EXPECT_EQ(attributes.getInt("ABSENT", 17), 17);
    EXPECT_FALSE(attributes.isModified());
    attributes.write();
    EXPECT_EQ(TempDir::read(path), "ABSENT=\nLATEST_DOWNLOAD=99528558.bird\nLATEST_TRANSFER=/opt/fw/7.bird\n"
                                   "PADDED=42abc\nUPDATED_TIME=then\n")
        << "an unchanged file keeps its UPDATED_TIME";
}

TEST(Attributes, GetTextDoesNotAddKeys) {
    AttributesFile attributes;
    EXPECT_EQ(attributes.getText("A"), "");
    EXPECT_EQ(attributes.getText("A", "fallback"), "fallback");
    EXPECT_TRUE(attributes.values().empty());
    attributes.setText("A", "x");
    EXPECT_EQ(attributes.getText("A", "fallback"), "x");
}

TEST(Attributes, SettingTheSameValueChangesNothing) {
    TempDir dir;
    std::string path = dir.write(".settings", "LATEST_DOWNLOAD=12.bird\nUPDATED_TIME=then\n");
    AttributesFile attributes(path);
    EXPECT_TRUE(attributes.setText("LATEST_DOWNLOAD", "12.bird"));
    EXPECT_TRUE(attributes.setText(std::string("NEW_EMPTY"), std::string()));
    EXPECT_FALSE(attributes.isModified());
    attributes.write();
    EXPECT_EQ(TempDir::read(path), "LATEST_DOWNLOAD=12.bird\nNEW_EMPTY=\nUPDATED_TIME=then\n");
}

TEST(Attributes, WriteAfterAChangeIsSortedAndStampsTheUpdate) {
    TempDir dir;
    std::string path = dir.write(".settings", "UPDATED_TIME=then\nCREATED_TIME=long ago\n");
    AttributesFile attributes(path);
    attributes.setText("LATEST_DOWNLOAD", "13.bird");
    attributes.setText("LAST_DOWNLOAD_DATE", "Tue Dec  8 10:30:54 2026");
    attributes.setText("lower", "after upper case");
    EXPECT_TRUE(attributes.isModified());
    EXPECT_EQ(attributes.write(), aErrNone);
    EXPECT_FALSE(attributes.isModified());
    std::string updated = attributes.getText("UPDATED_TIME");
    EXPECT_TRUE(looksLikeTimestamp(updated)) << updated;
    EXPECT_EQ(TempDir::read(path), "CREATED_TIME=long ago\nLAST_DOWNLOAD_DATE=Tue Dec  8 10:30:54 2026\n"
                                   "LATEST_DOWNLOAD=13.bird\nUPDATED_TIME=" +
                                       updated + "\nlower=after upper case\n");
    EXPECT_EQ(entries(dir.path()), std::vector<std::string>{".settings"}) << "no temporary file left";
}

TEST(Attributes, WriteWithoutANameUsesTheDefault) {
    TempDir dir;
    LogCapture log(DEBUG_Attributes);
    char cwd[4096];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    ASSERT_EQ(chdir(dir.path().c_str()), 0);
    AttributesFile attributes;
    attributes.setText("A", "1");
    aErr result = attributes.write();
    ASSERT_EQ(chdir(cwd), 0);
    EXPECT_EQ(result, aErrNone);
    EXPECT_EQ(attributes.fileName(), ".settings");
    EXPECT_EQ(log.text(), "Attibutes: no filename given for attributes, using default:[.settings]\n");
    EXPECT_EQ(TempDir::read(dir / ".settings"),
              "A=1\nUPDATED_TIME=" + attributes.getText("UPDATED_TIME") + "\n");
}

TEST(Attributes, CopiesCarryNameValuesAndFlag) {
    TempDir dir;
    AttributesFile original(dir.write(".settings", "A=1\n"));
    original.setText("B", "2");
    AttributesFile copy = original;
    EXPECT_EQ(copy.fileName(), original.fileName());
    EXPECT_EQ(copy.values(), original.values());
    EXPECT_TRUE(copy.isModified());
}

TEST(Attributes, UnwritableFileIsLoggedAndValuesStay) {
    TempDir dir;
    LogCapture log(DEBUG_Attributes);
    std::string path = dir / "missing-directory/.settings";
    AttributesFile attributes;
    attributes.setText("A", "1");
    EXPECT_NE(attributes.write(path), aErrNone);
    EXPECT_TRUE(attributes.isModified());
    EXPECT_EQ(attributes.getText("A"), "1");
    EXPECT_EQ(log.text(),
              "Attibutes: Error - cannot open attributes file for writting: '" + path + "' (2)\n");
}

// A disk that fills up in the middle of a rewrite must not cost the device its record.
TEST(Attributes, FailedRewriteKeepsThePreviousFile) {
    TempDir dir;
    std::string before = "CREATED_TIME=Mon Dec  7 09:00:00 2026\nLATEST_DOWNLOAD=12.bird\n";
    std::string path = dir.write(".settings", before);
    AttributesFile attributes(path);
    attributes.setText("LATEST_DOWNLOAD", "13.bird");
    attributes.setText("LAST_DOWNLOAD_DATE", currentTimestamp());

    LogCapture log(DEBUG_Attributes);
    // Files may grow to 16 bytes only: every longer write fails as on a full disk.
    struct rlimit saved;
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    struct rlimit tight = saved;
    tight.rlim_cur = 16;
    auto oldHandler = signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &tight), 0);
    aErr result = attributes.write();
    setrlimit(RLIMIT_FSIZE, &saved);
    signal(SIGXFSZ, oldHandler);

    EXPECT_EQ(result, aErrWrite);
    EXPECT_EQ(TempDir::read(path), before);
    EXPECT_EQ(entries(dir.path()), std::vector<std::string>{".settings"}) << "no temporary file left";
    EXPECT_TRUE(attributes.isModified());
    EXPECT_EQ(log.text(), "Attibutes: Error - cannot open attributes file for writting: '" + path + "' (" +
                              std::to_string(EFBIG) + ")\n");

    // Once there is room again, the next write stores everything.
    EXPECT_EQ(attributes.write(), aErrNone);
    EXPECT_EQ(AttributesFile(path).getText("LATEST_DOWNLOAD"), "13.bird");
}

TEST(AtomicFile, ReplacesContentAndKeepsTheFileMode) {
    TempDir dir;
    std::string path = dir.write("data.bin", "old content that is longer");
    ASSERT_EQ(chmod(path.c_str(), 0640), 0);
    EXPECT_EQ(writeFileAtomically(path, std::string("new")), aErrNone);
    EXPECT_EQ(TempDir::read(path), "new");
    struct stat st;
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);

    std::string fresh = dir / "fresh.bin";
    mode_t mask = umask(022);
    EXPECT_EQ(writeFileAtomically(fresh, "", 0), aErrNone);
    umask(mask);
    ASSERT_EQ(stat(fresh.c_str(), &st), 0);
    EXPECT_EQ(st.st_size, 0);
    EXPECT_EQ(st.st_mode & 07777, 0644u);
}

TEST(AtomicFile, FailuresReportTheSystemError) {
    TempDir dir;
    int error = 0;
    EXPECT_EQ(writeFileAtomically(dir / "no/such/dir/file", std::string("x"), &error), aErrNotFound);
    EXPECT_EQ(error, ENOENT);
    EXPECT_EQ(writeFileAtomically("", std::string("x"), &error), aErrParam);
    // Longer than the file layer opens: it could never be read back.
    EXPECT_EQ(writeFileAtomically(dir / std::string(aFILE_MAXPATH, 'n'), std::string("x"), &error),
              aErrFileNameLength);
    EXPECT_EQ(error, ENAMETOOLONG);
    ASSERT_EQ(mkdir((dir / "a-directory").c_str(), 0755), 0);
    EXPECT_NE(writeFileAtomically(dir / "a-directory", std::string("x"), &error), aErrNone);
    EXPECT_EQ(entries(dir.path()), std::vector<std::string>{"a-directory"});
}

TEST(Timestamp, CtimeTextWithoutLineFeed) {
    const char* savedTz = getenv("TZ");
    std::string saved = savedTz ? savedTz : "";
    setenv("TZ", "UTC", 1);
    tzset();
    EXPECT_EQ(timestampText(1796725854), "Tue Dec  8 10:30:54 2026");
    if (savedTz)
        setenv("TZ", saved.c_str(), 1);
    else
        unsetenv("TZ");
    tzset();
}
