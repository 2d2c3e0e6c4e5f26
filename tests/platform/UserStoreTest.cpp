// The per-user store: keys and values as in the registry, its file, its bounds and its writers.

#include "platform/UserStore.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/ScopedEnv.h"
#include "tests/support/TempDir.h"

namespace platform {
namespace {

TEST(UserStoreTest, KeysAndNamesMatchWithoutRegardToCase) {
    UserStore store;
    ASSERT_TRUE(store.setValue("Software\\Kalmo\\Tessaly\\", "DestFolder", "D:\\"));
    EXPECT_EQ(store.value("software\\KALMO\\tessaly", "destfolder").value_or(""), "D:\\");
    EXPECT_TRUE(store.keyExists("Software\\Kalmo"));  // parents exist like registry keys
    EXPECT_FALSE(store.value("Software\\Kalmo", "DestFolder").has_value());
    EXPECT_EQ(store.subkeys("SOFTWARE"), std::vector<std::string>{"Kalmo"});
    EXPECT_FALSE(store.createKey("\\\\"));
    EXPECT_FALSE(store.createKey("bad\nkey"));
}

TEST(UserStoreTest, DeleteTreeTakesSubkeysButNotSiblingsWithTheSamePrefix) {
    UserStore store;
    store.setValue("A\\B", "", "1");
    store.setValue("A\\B\\C\\D", "x", "2");
    store.setValue("A\\BC", "", "3");
    EXPECT_TRUE(store.deleteTree("a\\b"));
    EXPECT_FALSE(store.keyExists("A\\B\\C"));
    EXPECT_FALSE(store.keyExists("A\\B"));
    EXPECT_EQ(store.value("A\\BC").value_or(""), "3");
    EXPECT_FALSE(store.deleteTree("A\\B"));
    EXPECT_TRUE(store.deleteValue("A\\BC", ""));
    EXPECT_FALSE(store.value("A\\BC").has_value());
}

TEST(UserStoreTest, SavedTextsSurviveTheirEscapes) {
    korvex::test::TempDir folder("store");
    std::string file = folder.str() + "/sub/registry.ini";
    UserStore store;
    const std::string tricky = "C:\\dir \"quoted\" = [x]\nnext\tline ﾀｲﾌﾟ";
    store.setValue("Software\\Odd [key]", "name=\"with\" \\", tricky);
    store.setValue("Software\\Odd [key]", "", "default");
    ASSERT_TRUE(store.save(file));
    UserStore again;
    ASSERT_TRUE(again.load(file));
    EXPECT_EQ(again.value("Software\\Odd [key]", "name=\"with\" \\").value_or(""), tricky);
    EXPECT_EQ(again.value("Software\\Odd [key]").value_or(""), "default");
    EXPECT_FALSE(std::filesystem::exists(file + ".tmp." + std::to_string(::getpid())));
}

TEST(UserStoreTest, CorruptLinesAreSkippedAndOversizedFilesRefused) {
    korvex::test::TempDir folder("store");
    std::string file = folder.str() + "/registry.ini";
    {
        std::ofstream out(file, std::ios::binary);
        out << "@=\"outside any key\"\n"
            << "[Good]\r\n@=\"kept\"\r\n"
            << "\"unterminated=\"x\n"
            << "\"a\"=\"b\" trailing\n"
            << "\"n\"\"v\"\n"
            << std::string("\0\xff\xfe[", 4) << "\n"
            << "[]\n@=\"no key\"\n"
            << "[Good\\Sub]\n\"esc\"=\"a\\\\b\\q\"\n"
            << "[Unclosed\n\"v\"=\"lost\"\n";
    }
    UserStore store;
    ASSERT_TRUE(store.load(file));
    EXPECT_EQ(store.value("Good").value_or(""), "kept");
    EXPECT_FALSE(store.value("Good", "unterminated=").has_value());
    EXPECT_FALSE(store.value("Good", "a").has_value());
    EXPECT_EQ(store.value("Good\\Sub", "esc").value_or(""), "a\\bq");
    EXPECT_FALSE(store.keyExists("Unclosed"));

    {
        std::ofstream out(file, std::ios::binary | std::ios::trunc);
        out << "[K]\n@=\"v\"\n" << std::string(UserStore::kMaxFileBytes, ';');
    }
    EXPECT_FALSE(store.load(file));
    EXPECT_FALSE(store.keyExists("K"));
    EXPECT_FALSE(UserStore::update(file, [](UserStore& s) { return s.setValue("X", "", "y"); }));
    EXPECT_GT(std::filesystem::file_size(file), UserStore::kMaxFileBytes);
    EXPECT_TRUE(store.load(folder.str() + "/absent.ini"));  // a missing store is an empty one
}

// "k\k\...\k" with `depth` components.
std::string nestedKey(std::size_t depth) {
    std::string key = "k";
    for (std::size_t i = 1; i < depth; ++i)
        key += "\\k";
    return key;
}

TEST(UserStoreTest, KeysBeyondTheBoundsAreRefusedWithoutCreatingParents) {
    const std::string longLine = "[" + nestedKey(UserStore::kMaxLineBytes / 2 - 8) + "]\n";
    struct Case {
        const char* label;
        std::string key;  // written as a section with a default value
        int copies;
        bool kept;
    };
    const Case cases[] = {
        {"deepest allowed", nestedKey(UserStore::kMaxKeyDepth), 1, true},
        {"one level deeper", nestedKey(UserStore::kMaxKeyDepth + 1), 1, false},
        {"longest allowed", std::string(UserStore::kMaxKeyBytes, 'x'), 1, true},
        {"one byte longer", std::string(UserStore::kMaxKeyBytes + 1, 'x'), 1, false},
        {"long nested lines filling the file", longLine.substr(1, longLine.size() - 3),
         static_cast<int>(UserStore::kMaxFileBytes / longLine.size()) - 1, false},
    };
    korvex::test::TempDir folder("store");
    const std::string file = folder.str() + "/registry.ini";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        {
            std::ofstream out(file, std::ios::binary | std::ios::trunc);
            for (int i = 0; i < c.copies; ++i)
                out << "[" << c.key << "]\n@=\"v\"\n";
            out << "[After]\n@=\"kept\"\n";
        }
        UserStore store;
        ASSERT_TRUE(store.load(file));
        EXPECT_EQ(store.value(c.key).has_value(), c.kept);
        EXPECT_EQ(store.keyExists("k"), c.kept && c.key[0] == 'k');  // no parents of a refused key
        EXPECT_EQ(store.value("After").value_or(""), "kept");

        UserStore fresh;
        EXPECT_EQ(fresh.setValue(c.key, "", "v"), c.kept);
        EXPECT_EQ(fresh.createKey(c.key), c.kept);
    }
}

TEST(UserStoreTest, AStoreHoldsABoundedNumberOfKeys) {
    korvex::test::TempDir folder("store");
    const std::string file = folder.str() + "/registry.ini";
    for (std::size_t count : {UserStore::kMaxKeys, UserStore::kMaxKeys + 1}) {
        SCOPED_TRACE(count);
        {
            std::ofstream out(file, std::ios::binary | std::ios::trunc);
            for (std::size_t i = 0; i < count; ++i)
                out << "[K" << i << "]\n";
        }
        UserStore store;
        const bool fits = count <= UserStore::kMaxKeys;
        EXPECT_EQ(store.load(file), fits);
        EXPECT_EQ(store.keyExists("K0"), fits);  // a store too big reads as broken, not cut short
        if (fits) {
            EXPECT_FALSE(store.setValue("One\\More", "", "v"));
            EXPECT_FALSE(store.keyExists("One"));
            EXPECT_TRUE(store.setValue("K1", "n", "v"));  // existing keys still take values
        }
    }
}

TEST(UserStoreTest, OnlyARegularFileIsRead) {
    korvex::test::TempDir folder("store");
    const std::string fifo = folder.str() + "/fifo.ini";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::string dir = folder.str() + "/dir.ini";
    std::filesystem::create_directory(dir);
    for (const std::string& path : {fifo, dir}) {
        SCOPED_TRACE(path);
        UserStore store;
        EXPECT_FALSE(store.load(path));  // returns at once: nobody ever writes to the FIFO
        EXPECT_FALSE(UserStore::update(path, [](UserStore& s) { return s.createKey("X"); }));
    }
    EXPECT_EQ(std::filesystem::status(fifo).type(), std::filesystem::file_type::fifo);
}

TEST(UserStoreTest, ConcurrentUpdatesLoseNothing) {
    korvex::test::TempDir folder("store");
    std::string file = folder.str() + "/registry.ini";
    std::vector<std::thread> writers;
    for (int t = 0; t < 3; ++t) {
        writers.emplace_back([&, t] {
            for (int i = 0; i < 20; ++i) {
                UserStore::update(file, [&](UserStore& s) {
                    return s.setValue("K" + std::to_string(t), std::to_string(i), "v");
                });
            }
        });
    }
    for (auto& w : writers)
        w.join();
    UserStore store;
    ASSERT_TRUE(store.load(file));
    for (int t = 0; t < 3; ++t) {
        for (int i = 0; i < 20; ++i) {
            EXPECT_TRUE(store.value("K" + std::to_string(t), std::to_string(i)).has_value());
        }
    }
}

TEST(UserStoreTest, DefaultPathFollowsTheConfigFolder) {
    korvex::test::ScopedEnv home("HOME", "/home/someone");
    {
        korvex::test::ScopedEnv config("XDG_CONFIG_HOME", "/tmp/cfg/");
        EXPECT_EQ(UserStore::defaultPath(), "/tmp/cfg/korvex/registry.ini");
    }
    korvex::test::ScopedEnv config("XDG_CONFIG_HOME", "relative");  // not absolute: ignored
    EXPECT_EQ(UserStore::defaultPath(), "/home/someone/.config/korvex/registry.ini");
}

}  // namespace
}  // namespace platform
