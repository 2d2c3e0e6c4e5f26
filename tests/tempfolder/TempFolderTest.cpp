// The choice of the control's cache folder.
#include <gtest/gtest.h>

#include <fstream>

#include <filesystem>

#include "control/download/HttpFetch.h"
#include "control/download/TempFolder.h"
#include "tests/support/LogCapture.h"
#include "tests/support/ScopedEnv.h"
#include "tests/support/TempDir.h"

namespace {

using korvex::test::LogCapture;
using korvex::test::ScopedEnv;
using korvex::test::TempDir;
using picvox::TempFolderSources;

// Candidates from scratch folders; each source can be made missing or unwritable.
struct Sources {
    TempDir root{"tempfolder"};
    std::optional<std::string> environment;
    std::optional<std::string> special;
    std::optional<std::string> registry;
    std::optional<std::string> temp;
    int generation = 2;

    Sources() {
        for (const char* name : {"env", "special", "registry", "temp"}) {
            std::filesystem::create_directories(root.file(name));
        }
        environment = root.file("env");
        special = root.file("special");
        registry = root.file("registry");
        temp = root.file("temp");
    }
    std::string unwritable() const { return root.file("no-such-folder"); }

    TempFolderSources get() const {
        TempFolderSources s;
        s.environment = [this](const char* name) -> std::optional<std::string> {
            EXPECT_STREQ(name, "DOWNLOAD_TEMP");
            return environment;
        };
        s.specialFolder = [this] { return special; };
        s.registryCache = [this] { return registry; };
        s.tempPath = [this] { return temp; };
        s.osGeneration = [this] { return generation; };
        return s;
    }
};

class TempFolderTest : public ::testing::Test {
protected:
    void SetUp() override {
        picvox::CleanInetTempFolder();
        log_.clear();
    }
    void TearDown() override { picvox::CleanInetTempFolder(); }
    LogCapture log_;
    Sources sources_;
};

TEST_F(TempFolderTest, RulesFollowTheSystemGeneration) {
    struct Case {
        const char* what;
        bool environment, special, registry, temp;
        int generation;
        const char* chosen;  // folder name under the root, or null for no choice
        const char* selectedLine;
    };
    const Case cases[] = {
        {"environment first on new systems", true, true, true, true, 2, "env",
         "GetInetTempFolder selected 'DOWNLOAD_TEMP' : "},
        {"environment first on old systems", true, true, true, true, 1, "env",
         "GetInetTempFolder selected 'DOWNLOAD_TEMP' : "},
        {"special folder on new systems", false, true, true, true, 2, "special",
         "GetInetTempFolder selected SHGetSpecialFolder : "},
        {"registry on old systems", false, true, true, true, 1, "registry",
         "GetInetTempFolder selected Registory : "},
        {"registry when the version is unknown", false, true, true, true, -1, "registry",
         "GetInetTempFolder selected Registory : "},
        {"never the registry on new systems", false, false, true, true, 2, "temp",
         "GetInetTempFolder selected GetTempPath : "},
        {"never the special folder on old systems", false, true, false, true, 1, "temp",
         "GetInetTempFolder selected GetTempPath : "},
        {"nothing left", false, false, true, false, 2, nullptr, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        picvox::CleanInetTempFolder();
        log_.clear();
        Sources s;
        if (!c.environment)
            s.environment = s.unwritable();
        if (!c.special)
            s.special = s.unwritable();
        if (!c.registry)
            s.registry = s.unwritable();
        if (!c.temp)
            s.temp = s.unwritable();
        s.generation = c.generation;
        const std::optional<std::string> folder = picvox::GetInetTempFolder(s.get());
        if (!c.chosen) {
            EXPECT_FALSE(folder.has_value());
            EXPECT_EQ(log_.countStartingWith("GetInetTempFolder selected"), 0);
            continue;
        }
        ASSERT_TRUE(folder.has_value());
        EXPECT_EQ(*folder, s.root.file(c.chosen));
        EXPECT_EQ(log_.count(c.selectedLine + *folder), 1);
        EXPECT_EQ(log_.countStartingWith("GetInetTempFolder selected"), 1);
        int unwritable = 0;
        for (bool stands : {c.environment, c.special, c.registry, c.temp})
            unwritable += !stands;
        EXPECT_EQ(log_.count("GetInetTempFolder Can't write"), unwritable);
    }
}

TEST_F(TempFolderTest, EveryCandidateIsLoggedInOrder) {
    sources_.environment = *sources_.environment + "/";
    ASSERT_TRUE(picvox::GetInetTempFolder(sources_.get()).has_value());
    const std::string root = sources_.root.str();
    const std::vector<std::string> expected = {
        "GetInetTempFolder 'DOWNLOAD_TEMP'=" + root + "/env/",
        "GetInetTempFolder (SHGetFolderPath) : " + root + "/special",
        "GetInetTempFolder Check Registory Key "
        "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders\\Cache",
        "GetInetTempFolder (Registory Cache) : " + root + "/registry",
        "GetInetTempFolder (GetTempPath) : " + root + "/temp",
        "GetInetTempFolder selected 'DOWNLOAD_TEMP' : " + root + "/env",
    };
    EXPECT_EQ(log_.texts(), expected);
}

TEST_F(TempFolderTest, TheChoiceIsRememberedUntilCleaned) {
    const std::optional<std::string> first = picvox::GetInetTempFolder(sources_.get());
    ASSERT_TRUE(first.has_value());
    log_.clear();
    sources_.environment.reset();  // a changed environment is not looked at again
    EXPECT_EQ(picvox::GetInetTempFolder(sources_.get()), first);
    EXPECT_EQ(log_.texts(), std::vector<std::string>{"InetTempFolder (return save) " + *first});

    picvox::CleanInetTempFolder();
    EXPECT_EQ(log_.count("CLEAN Inet Temp Folder"), 1);
    EXPECT_EQ(picvox::GetInetTempFolder(sources_.get()), sources_.root.file("special"));
    EXPECT_EQ(log_.count("GetInetTempFolder no define 'DOWNLOAD_TEMP'"), 1);
}

TEST_F(TempFolderTest, DownloadTempFromTheEnvironment) {
    TempDir chosen("dltemp");
    ScopedEnv env("DOWNLOAD_TEMP", chosen.str() + "/");
    EXPECT_EQ(picvox::GetInetTempFolder(), chosen.str());

    // A folder that does not exist falls to the next rule (the internet cache folder here).
    picvox::CleanInetTempFolder();
    TempDir cache("xdgcache");
    ScopedEnv missing("DOWNLOAD_TEMP", chosen.file("missing"));
    ScopedEnv xdg("XDG_CACHE_HOME", cache.str());
    log_.clear();
    const std::optional<std::string> folder = picvox::GetInetTempFolder();
    ASSERT_TRUE(folder.has_value());
    EXPECT_EQ(log_.count("CheckFileWrite 一時フォルダ書き込み失敗 NAME='" + chosen.file("missing") +
                         "/test.0'"),
              1);
    EXPECT_EQ(log_.count("GetInetTempFolder Can't write"), 1);
    if (picvox::GetOsGeneration() == 2) {
        EXPECT_EQ(*folder, cache.str());
    }
}

TEST_F(TempFolderTest, AMissingUserCacheFolderIsMadeRatherThanPassedOver) {
    TempDir root("fresh");
    ScopedEnv env("DOWNLOAD_TEMP", root.file("a"));
    ScopedEnv xdg("XDG_CACHE_HOME", root.file("new/cache"));
    const std::optional<std::string> folder = picvox::GetInetTempFolder();
    ASSERT_TRUE(folder.has_value());
    if (picvox::GetOsGeneration() == 2) {
        EXPECT_EQ(*folder, root.file("new/cache"));
    }
}

TEST_F(TempFolderTest, NoWritableFolderLeavesTempNamesEmpty) {
    TempDir root("nowrite");
    ScopedEnv env("DOWNLOAD_TEMP", root.file("a"));
    std::ofstream(root.file("b")) << "a file where the cache folder should be";
    ScopedEnv xdg("XDG_CACHE_HOME", root.file("b"));
    ScopedEnv tmp("TMPDIR", root.file("c"));
    EXPECT_FALSE(picvox::GetInetTempFolder().has_value());
    EXPECT_EQ(picvox::MakeTempName("get.wav", 1), "");
    EXPECT_EQ(log_.count("MakeTempName ERROR"), 1);
    EXPECT_EQ(picvox::FallbackCacheFolder(), root.file("b") + "/DVRCache");
}

TEST(CheckFileWrite, TestsByCreatingAFile) {
    TempDir dir("check");
    std::string folder = dir.str() + "/";
    EXPECT_EQ(picvox::CheckFileWrite(folder), 1);
    EXPECT_EQ(folder, dir.str());  // one trailing separator removed in place
    EXPECT_FALSE(std::filesystem::exists(dir.file("test.0")));

    // A regular file in the way makes the folder unusable, whoever runs the test.
    std::ofstream(dir.file("plain")) << "x";
    std::string notAFolder = dir.file("plain");
    EXPECT_EQ(picvox::CheckFileWrite(notAFolder), 0);
    std::string empty;
    EXPECT_EQ(picvox::CheckFileWrite(empty), 0);
}

TEST(GetOsGeneration, ReadsTheKernelVersion) {
    LogCapture log;
    const int generation = picvox::GetOsGeneration();
    EXPECT_EQ(generation, 2);  // every supported kernel is 3.x or later
    ASSERT_EQ(log.texts().size(), 1u);
    EXPECT_NE(log.texts()[0].find("  Vista or later"), std::string::npos);
}

}  // namespace
