#include <gtest/gtest.h>

#include <cstdlib>
#include <set>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "AsNobody.h"
#include "TempDir.h"
#include "aDirectory.h"

TEST(BuildPath, JoinsWithOneSeparator) {
    struct Case {
        const char* a;
        const char* b;
        const char* joined;
    } cases[] = {
        {"/home", "dir", "/home/dir"},
        {"/home/", "dir", "/home/dir"},
        {"/home", "/dir", "/home/dir"},
        {"rel", "x", "rel/x"},
    };
    char buf[64];
    for (const Case& c : cases) {
        EXPECT_EQ(aDirectory_JoinPath(buf, sizeof buf, c.a, c.b), aErrNone);
        EXPECT_STREQ(buf, c.joined);
    }
}

TEST(BuildPath, RoomRules) {
    char buf[16];
    EXPECT_EQ(aDirectory_BuildPath(buf, 5, "abcd", nullptr), aErrOverrun);
    EXPECT_EQ(aDirectory_BuildPath(buf, 5, "abc", nullptr), aErrNone);
    EXPECT_STREQ(buf, "abc");
    EXPECT_EQ(aDirectory_BuildPath(buf, 8, "abc", "def", nullptr), aErrOverrun);
    EXPECT_STREQ(buf, "abc/") << "keeps what was joined so far";
    EXPECT_EQ(aDirectory_BuildPath(buf, 9, "abc", "def", nullptr), aErrNone);
    EXPECT_STREQ(buf, "abc/def");
}

TEST(BuildPath, TextCountAndAliasing) {
    char buf[128];
    EXPECT_EQ(
        aDirectory_BuildPath(buf, sizeof buf, "a", "b", "c", "d", "e", "f", "g", "h", "i", "j", nullptr),
        aErrNone);
    EXPECT_STREQ(buf, "a/b/c/d/e/f/g/h/i/j");
    EXPECT_EQ(
        aDirectory_BuildPath(buf, sizeof buf, "a", "b", "c", "d", "e", "f", "g", "h", "i", "j", "k", nullptr),
        aErrParam);
    EXPECT_EQ(aDirectory_BuildPath(buf, sizeof buf, buf, nullptr), aErrParam);
    EXPECT_EQ(aDirectory_BuildPath(buf, sizeof buf, "x", buf, nullptr), aErrParam);
}

namespace {

// Runs a body with the working directory changed, restoring it afterwards.
template <class F> void inDirectory(const std::string& dir, F body) {
    char old[1024];
    ASSERT_NE(::getcwd(old, sizeof old), nullptr);
    ASSERT_EQ(::chdir(dir.c_str()), 0);
    body();
    ASSERT_EQ(::chdir(old), 0);
}

bool listNames(const aDirectoryEntry* entry, void* ref) {
    std::string path(entry->path);
    static_cast<std::set<std::string>*>(ref)->insert(
        path.substr(path.rfind('/') + 1) + (entry->isDirectory ? "/" : ":" + std::to_string(entry->size)));
    return true;
}

} // namespace

TEST(Directory, EnsureCreatesEveryLevel) {
    TempDir dir;
    inDirectory(dir.path(), [] {
        EXPECT_EQ(aDirectory_Ensure("a/b/c", 0755), aErrNone);
        EXPECT_TRUE(aDirectory_Exists("a"));
        EXPECT_TRUE(aDirectory_Exists("a/b/c"));
        EXPECT_EQ(aDirectory_Ensure("a/b/c", 0755), aErrNone) << "existing directory";
        EXPECT_TRUE(aDirectory_Exists("."));
        EXPECT_TRUE(aDirectory_Exists("./"));
    });
    EXPECT_EQ(aDirectory_Ensure((dir / "x/y/z").c_str(), 0755), aErrNone);
    EXPECT_TRUE(aDirectory_Exists((dir / "x/y/z").c_str()));
    EXPECT_FALSE(aDirectory_Exists(nullptr));
    EXPECT_FALSE(aDirectory_Exists((dir / "nope").c_str()));
}

TEST(Directory, EnsureFailsBelowAFile) {
    TempDir dir;
    dir.write("file", "x");
    EXPECT_EQ(aDirectory_Ensure((dir / "file/sub").c_str(), 0755), aErrPermission);
    // The last level itself being a file is no directory either.
    EXPECT_EQ(aDirectory_Ensure((dir / "file").c_str(), 0755), aErrPermission);
    EXPECT_FALSE(aDirectory_Exists((dir / "file").c_str()));
}

TEST(Directory, ListGivesEveryEntryWithSizes) {
    TempDir dir;
    dir.write("one", "12345");
    ::mkdir((dir / "sub").c_str(), 0755);
    std::set<std::string> names;
    EXPECT_EQ(aDirectory_List(dir.path().c_str(), listNames, &names), aErrNone);
    EXPECT_EQ(names, (std::set<std::string>{"./", "../", "one:5", "sub/"}));
    EXPECT_EQ(aDirectory_List((dir / "missing").c_str(), listNames, &names), aErrParam);
}

TEST(Directory, ListStopsWhenCallbackSaysSo) {
    TempDir dir;
    int calls = 0;
    auto once = [](const aDirectoryEntry*, void* ref) {
        ++*static_cast<int*>(ref);
        return false;
    };
    EXPECT_EQ(aDirectory_List(dir.path().c_str(), once, &calls), aErrNone);
    EXPECT_EQ(calls, 1);
}

TEST(Directory, DeleteAndDeleteTree) {
    TempDir dir;
    std::string root = dir / "tree";
    ASSERT_EQ(aDirectory_Ensure((root + "/a/b").c_str(), 0755), aErrNone);
    dir.write("tree/a/b/f", "x");
    dir.write("tree/g", "y");
    EXPECT_EQ(aDirectory_Delete(root.c_str()), aErrUnknown) << "not empty";
    EXPECT_EQ(aDirectory_DeleteTree(root.c_str()), aErrNone);
    EXPECT_FALSE(aDirectory_Exists(root.c_str()));
    EXPECT_EQ(aDirectory_DeleteTree(root.c_str()), aErrParam);
}

TEST(Directory, DeleteTreeStopsAtAFileItCannotDelete) {
    TempDir dir;
    ASSERT_EQ(::chmod(dir.path().c_str(), 0777), 0);
    std::string root = dir / "tree";
    int failures = asNobody([&] {
        int bad = 0;
        if (aDirectory_Ensure((root + "/locked").c_str(), 0755) != aErrNone) return 50;
        dir.write("tree/locked/f", "x");
        if (::chmod((root + "/locked").c_str(), 0555) != 0) return 51;
        // The file cannot go, so neither can its directory nor the tree.
        bad += aDirectory_DeleteTree(root.c_str()) != aErrUnknown;
        bad += !aDirectory_Exists((root + "/locked").c_str());
        bad += aDirectory_DeleteTree((root + "/locked").c_str()) != aErrPermission;
        bad += !aFile_Exists((root + "/locked/f").c_str());
        return bad;
    });
    EXPECT_EQ(failures, 0);
}

TEST(Directory, HomeCwdAndExecutable) {
    char buf[aFILE_MAXPATH];
    const char* saved = std::getenv("HOME");
    std::string old = saved ? saved : "";
    ::setenv("HOME", "/tmp/somewhere", 1);
    EXPECT_EQ(aDirectory_GetHomeDirectory(buf, sizeof buf), aErrNone);
    EXPECT_STREQ(buf, "/tmp/somewhere");
    ::unsetenv("HOME");
    EXPECT_EQ(aDirectory_GetHomeDirectory(buf, sizeof buf), aErrNone) << "falls back to the password entry";
    EXPECT_EQ(buf[0], '/');
    if (saved) ::setenv("HOME", old.c_str(), 1);

    EXPECT_EQ(aDirectory_CWD(buf, sizeof buf), aErrNone);
    EXPECT_TRUE(aDirectory_Exists(buf));
    EXPECT_EQ(aDirectory_CWD(buf, 1), aErrParam);
    EXPECT_EQ(aDirectory_ExecutableFilePath(buf, sizeof buf), aErrNone);
    EXPECT_NE(std::string(buf).find("test_platform"), std::string::npos);
    EXPECT_EQ(aDirectory_ExecutableFilePath(buf, 3), aErrRead);
}
