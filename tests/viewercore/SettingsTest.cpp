#include "viewer/playback/core/ViewerSettings.h"

#include <gtest/gtest.h>

#include <map>

namespace {

// An in-memory key holding every value as the text a store would hand back.
class MemoryKey : public korvex::SettingsKey {
public:
    std::map<std::string, std::string> values;
    std::optional<std::string> readValue(const std::string& name) const override {
        auto it = values.find(name);
        if (it == values.end())
            return std::nullopt;
        return it->second;
    }
    bool writeNumber(const std::string& name, int32_t value) override {
        values[name] = std::to_string(value);
        return true;
    }
    bool writeString(const std::string& name, const std::string& value) override {
        values[name] = value;
        return true;
    }
};

}  // namespace

TEST(Settings, DefaultsWithoutKeyOrValues) {
    EXPECT_EQ(korvex::loadSettings(nullptr), korvex::ViewerSettings{});
    MemoryKey empty;
    EXPECT_EQ(korvex::loadSettings(&empty), korvex::ViewerSettings{});
}

TEST(Settings, RoundTrip) {
    korvex::ViewerSettings s;
    s.dateFormat = 2;
    s.dateDelimiter = 1;
    s.timePosition = 3;
    s.lastOpenFolder = "/media/dvr/2009-03-05 カメラ";
    s.lastSaveFolder = "/home/user/Pictures";
    MemoryKey key;
    ASSERT_TRUE(korvex::saveSettings(key, s));
    EXPECT_EQ(key.values.size(), 5u);
    EXPECT_EQ(korvex::loadSettings(&key), s);
}

TEST(Settings, EachNumberIsCheckedAlone) {
    struct Row {
        const char* name;
        const char* text;
        int32_t korvex::ViewerSettings::*field;
        int32_t expected;
    };
    using S = korvex::ViewerSettings;
    const Row rows[] = {
        {"DateDispPos", "4", &S::timePosition, 0},
        {"DateDispPos", "3", &S::timePosition, 3},
        {"DateDispPos", "-1", &S::timePosition, 0},
        {"DateFormat", "2", &S::dateFormat, 2},
        {"DateFormat", "3", &S::dateFormat, 0},
        {"DateFormat", "4294967295", &S::dateFormat, 0},
        {"DateFormat", "1x", &S::dateFormat, 0},
        {"DateFormat", "", &S::dateFormat, 0},
        {"DateDelimiter", "2", &S::dateDelimiter, 2},
        {"DateDelimiter", " 1", &S::dateDelimiter, 0},
    };
    for (const Row& r : rows) {
        MemoryKey key;
        // A valid neighbour must survive whatever happens to the value under test.
        key.values = {{"DateFormat", "1"}, {"DateDelimiter", "1"}, {"DateDispPos", "1"}};
        key.values[r.name] = r.text;
        const S s = korvex::loadSettings(&key);
        EXPECT_EQ(s.*r.field, r.expected) << r.name << "=" << r.text;
        for (auto f : {&S::dateFormat, &S::dateDelimiter, &S::timePosition}) {
            if (f != r.field) {
                EXPECT_EQ(s.*f, 1) << r.name << "=" << r.text;
            }
        }
    }
}

TEST(Settings, PathLengthIsCountedInCharacters) {
    MemoryKey key;
    key.values["ForderDir"] = std::string(259, 'a');
    key.values["SaveForder"] = std::string(260, 'a');
    korvex::ViewerSettings s = korvex::loadSettings(&key);
    EXPECT_EQ(s.lastOpenFolder.size(), 259u);
    EXPECT_TRUE(s.lastSaveFolder.empty());

    std::string japanese;
    for (int i = 0; i < 259; ++i)
        japanese += "画";  // 3 bytes each, 259 characters
    key.values["ForderDir"] = japanese;
    key.values["SaveForder"] = japanese + "像";
    s = korvex::loadSettings(&key);
    EXPECT_EQ(s.lastOpenFolder, japanese);
    EXPECT_TRUE(s.lastSaveFolder.empty());
}
