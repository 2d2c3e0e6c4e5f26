#include "viewer/shell/core/Brand.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "tests/support/Files.h"
#include "tests/support/TempDir.h"
#include "tools/brand/BrandCodes.h"

namespace fs = std::filesystem;
using korvex::BrandSelection;

namespace {

using korvex::test::TempDir;
using korvex::test::writeFile;

std::vector<unsigned char> codeOf(int brand) {
    korvex::brandtool::BrandFileContent file;
    EXPECT_TRUE(korvex::brandtool::brandFileFor(brand, file));
    return file.bytes;
}

}  // namespace

TEST(Brand, ToolWritesAFileThatSelectsEachBrand) {
    for (int brand = 0; brand < korvex::kBrandCount; ++brand) {
        TempDir dir("korvex-brand");
        std::string written, removed, error;
        ASSERT_TRUE(korvex::brandtool::writeBrandFile(brand, dir.str(), written, removed, error))
            << error;
        const BrandSelection sel = korvex::selectBrand(dir.str());
        EXPECT_EQ(sel.status, BrandSelection::Status::Ok) << brand;
        EXPECT_EQ(sel.brandIndex, brand);
        EXPECT_EQ(sel.fileName, brand == 1 ? "Viewer.ini" : "Viewer2.ini");
    }
}

TEST(Brand, CodesAreBoundToTheirFile) {
    using korvex::BrandFile;
    const auto newCode = codeOf(0);
    const auto oldCode = codeOf(1);
    EXPECT_EQ(korvex::brandFromCode(BrandFile::New, newCode), 0);
    EXPECT_EQ(korvex::brandFromCode(BrandFile::Old, newCode), -1);
    EXPECT_EQ(korvex::brandFromCode(BrandFile::Old, oldCode), 1);
    EXPECT_EQ(korvex::brandFromCode(BrandFile::New, oldCode), -1);
    for (int brand = 2; brand <= 4; ++brand) {
        EXPECT_EQ(korvex::brandFromCode(BrandFile::New, codeOf(brand)), brand);
        EXPECT_EQ(korvex::brandFromCode(BrandFile::Old, codeOf(brand)), brand);
    }
}

TEST(Brand, NearMissesAreUnknown) {
    using korvex::BrandFile;
    auto code = codeOf(3);
    std::vector<std::vector<unsigned char>> misses = {
        {},
        {code.begin(), code.end() - 1},
        {code.begin(), code.end()},
        {code.begin(), code.end()},
    };
    misses[2].push_back('\n');  // a trailing newline is not part of the code
    misses[3][2] ^= 0x01;
    for (const auto& bytes : misses) {
        EXPECT_EQ(korvex::brandFromCode(BrandFile::New, bytes), -1);
        EXPECT_EQ(korvex::brandFromCode(BrandFile::Old, bytes), -1);
    }
}

TEST(Brand, OnlyTheFirstFileFoundIsRead) {
    TempDir dir("korvex-brand");
    writeFile(dir.path() / "Viewer.ini", codeOf(1));
    EXPECT_EQ(korvex::selectBrand(dir.str()).brandIndex, 1);

    // A 4-byte Viewer2.ini is not a Viewer2 code, and hides the valid Viewer.ini.
    writeFile(dir.path() / "Viewer2.ini", codeOf(1));
    const BrandSelection sel = korvex::selectBrand(dir.str());
    EXPECT_EQ(sel.status, BrandSelection::Status::UnknownCode);
    EXPECT_EQ(sel.brandIndex, -1);
    EXPECT_EQ(sel.fileName, "Viewer2.ini");
}

TEST(Brand, MissingOversizedAndOddlyCasedFiles) {
    TempDir dir("korvex-brand");
    BrandSelection sel = korvex::selectBrand(dir.str());
    EXPECT_EQ(sel.status, BrandSelection::Status::Missing);
    EXPECT_TRUE(sel.fileName.empty());

    std::vector<unsigned char> big(100000, 0x4b);
    writeFile(dir.path() / "Viewer2.ini", big);
    EXPECT_EQ(korvex::selectBrand(dir.str()).status, BrandSelection::Status::UnknownCode);
    fs::remove(dir.path() / "Viewer2.ini");

    writeFile(dir.path() / "VIEWER2.INI", codeOf(4));
    EXPECT_EQ(korvex::selectBrand(dir.str()).brandIndex, 4);
}

TEST(Brand, SearchFoldersFollowTheDataDirectoryRules) {
    using Folders = std::vector<std::string>;
    const struct {
        const char* name;
        const char* dataHome;
        const char* dataDirs;
        const char* home;
        Folders expected;
    } rows[] = {
        {"defaults",
         nullptr,
         nullptr,
         "/home/u",
         {"/work", "/home/u/.local/share/korvex", "/usr/local/share/korvex", "/usr/share/korvex"}},
        {"empty values take the defaults",
         "",
         "",
         "/home/u",
         {"/work", "/home/u/.local/share/korvex", "/usr/local/share/korvex", "/usr/share/korvex"}},
        {"set values, in order, slashes trimmed",
         "/data/",
         "/opt/a/share/://b/share",
         "/home/u",
         {"/work", "/data/korvex", "/opt/a/share/korvex", "//b/share/korvex"}},
        {"relative entries and empty ones are ignored",
         "rel/data",
         "share::/usr/share:x",
         "/home/u",
         {"/work", "/home/u/.local/share/korvex", "/usr/share/korvex"}},
        {"no home: no user folder", nullptr, "/usr/share", nullptr, {"/work", "/usr/share/korvex"}},
        {"a folder is listed once",
         "/usr/share",
         "/usr/share:/usr/share/",
         "/home/u",
         {"/work", "/usr/share/korvex"}},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.name);
        EXPECT_EQ(korvex::brandSearchFolders("/work", r.dataHome, r.dataDirs, r.home), r.expected);
    }
}

TEST(Brand, TheFirstFolderWithABrandFileDecides) {
    TempDir work("korvex-brand"), user("korvex-brand"), system("korvex-brand");
    const std::vector<std::string> folders = {work.str(), user.str(), system.str()};
    EXPECT_EQ(korvex::selectBrand(folders).status, BrandSelection::Status::Missing);

    writeFile(system.path() / "Viewer2.ini", codeOf(2));
    BrandSelection sel = korvex::selectBrand(folders);
    EXPECT_EQ(sel.brandIndex, 2);
    EXPECT_EQ(sel.folder, system.str());

    writeFile(user.path() / "Viewer.ini", codeOf(1));
    sel = korvex::selectBrand(folders);
    EXPECT_EQ(sel.brandIndex, 1);
    EXPECT_EQ(sel.folder, user.str());

    // A bad file in the working folder is reported, not passed over for the installed one.
    writeFile(work.path() / "Viewer2.ini", {1, 2, 3});
    sel = korvex::selectBrand(folders);
    EXPECT_EQ(sel.status, BrandSelection::Status::UnknownCode);
    EXPECT_EQ(sel.folder, work.str());
}

TEST(Brand, WritingViewerIniRemovesAHidingViewer2Ini) {
    TempDir dir("korvex-brand");
    writeFile(dir.path() / "Viewer2.ini", codeOf(0));
    std::string written, removed, error;
    ASSERT_TRUE(korvex::brandtool::writeBrandFile(1, dir.str(), written, removed, error));
    EXPECT_FALSE(removed.empty());
    EXPECT_EQ(korvex::selectBrand(dir.str()).brandIndex, 1);
    EXPECT_FALSE(korvex::brandtool::writeBrandFile(5, dir.str(), written, removed, error));
}

TEST(Brand, TableAboutBoxesAndCommands) {
    const int about[] = {100, 101, 178, 181, 182};
    const int templ[] = {127, 128, 179, 129, 127};
    const int command[] = {57664, 32774, 32774, 32774, 57664};
    for (int b = 0; b < 5; ++b) {
        EXPECT_EQ(korvex::aboutBoxOf(b), about[b]);
        EXPECT_EQ(korvex::brandInfo(b)->templateId, templ[b]);
        EXPECT_EQ(korvex::aboutCommandOf(b), command[b]);
    }
    EXPECT_EQ(korvex::aboutBoxOf(-1), 100);
    EXPECT_EQ(korvex::aboutBoxOf(5), 100);
    EXPECT_EQ(korvex::brandInfo(5), nullptr);
}

TEST(Brand, SettingsKeyPerBrandAndLanguage) {
    using korvex::Language;
    struct Row {
        int brand;
        const char* english;
        const char* japanese;
    };
    const Row rows[] = {
        {0, "SOFTWARE\\KALMO\\Korvex2\\Settings", "SOFTWARE\\KALMO\\Korvex2\\Settings"},
        {1, "SOFTWARE\\TERIN\\Ostrand\\Settings", "SOFTWARE\\\\Ostrand\\Settings"},
        {2, "SOFTWARE\\ZOLAN\\Korvex2\\Settings", "SOFTWARE\\\\Korvex2\\Settings"},
        {3, "SOFTWARE\\TERIN\\Pellic2\\Settings", "SOFTWARE\\\\Pellic2\\Settings"},
        {4, "SOFTWARE\\TERIN\\Korvex2\\Settings", "SOFTWARE\\\\Korvex2\\Settings"},
    };
    for (const Row& r : rows) {
        EXPECT_EQ(korvex::settingsKeyPath(Language::English, r.brand), r.english);
        EXPECT_EQ(korvex::settingsKeyPath(Language::Japanese, r.brand), r.japanese);
    }
}

TEST(Brand, WindowTitles) {
    using korvex::Language;
    const char* english[] = {"Korvex2", "Ostrand", "Korvex2", "Pellic2", "Korvex2"};
    for (int b = 0; b < 5; ++b)
        EXPECT_EQ(korvex::brandWindowTitle(Language::English, b), english[b]);
    EXPECT_EQ(korvex::brandWindowTitle(Language::Japanese, 2), "Korvex");
    EXPECT_EQ(korvex::brandWindowTitle(Language::English, -1), "");
}
