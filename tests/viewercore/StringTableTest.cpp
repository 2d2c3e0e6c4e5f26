#include "viewer/resources/StringTable.h"

#include <gtest/gtest.h>

#include <map>
#include <set>

#include "viewer/resources/ResourceIds.h"
#include "viewer/shell/core/Brand.h"
#include "viewer/shell/core/StatusNotes.h"

using korvex::Language;

TEST(StringTable, EveryIdHasBothLanguagesButTheTwoGaps) {
    const std::set<int> gaps = {64471, 64477};
    for (int id : korvex::stringIds()) {
        const char* en = korvex::findString(Language::English, id);
        const char* ja = korvex::findString(Language::Japanese, id);
        ASSERT_NE(en, nullptr) << id;
        EXPECT_STRNE(en, "") << id;
        if (gaps.count(id)) {
            EXPECT_EQ(ja, nullptr) << id;
            EXPECT_EQ(korvex::loadString(Language::Japanese, id), "");
        } else {
            ASSERT_NE(ja, nullptr) << id;
            EXPECT_STRNE(ja, "") << id;
        }
    }
}

TEST(StringTable, IdsTheViewerNeedsArePresent) {
    std::vector<int> needed = {127,   128,   129,   179,   57345, 50000, 50001, 57601, 33001, 57607,
                               32772, 32773, 32775, 57664, 32774, 57665, 59392, 59393, 40035};
    for (int id = 40031; id <= 40034; ++id)
        needed.push_back(id);
    for (int id = 40041; id <= 40044; ++id)
        needed.push_back(id);
    for (int id = 64460; id <= 64475; ++id)
        needed.push_back(id);
    needed.push_back(64477);
    for (int id : {1001, 1002, 1003, 1004, 1005, 1065, 1066, 1067, 1068, 1071})
        needed.push_back(id);
    for (int id = korvex::textid::invalidImage; id <= korvex::textid::filesFoundSoFar; ++id) {
        needed.push_back(id);
    }
    for (int id = korvex::textid::failedCreatePlayer; id <= korvex::textid::notFoundChannelNo;
         ++id) {
        needed.push_back(id);
    }
    for (int id : needed)
        EXPECT_NE(korvex::findString(Language::English, id), nullptr) << id;
    // Every toolbar button has its tooltip after the newline of its help string.
    for (int command : korvex::toolbarCommands()) {
        for (Language l : {Language::English, Language::Japanese}) {
            const std::string help = korvex::loadString(l, command);
            EXPECT_NE(help.find('\n'), std::string::npos) << command;
        }
    }
}

// The status bar's notes exist in both languages, each in its own.
TEST(StringTable, StatusNotesSpeakBothLanguages) {
    using korvex::textid::openUnreadable;
    using korvex::textid::soundNotHeard;
    for (int id = openUnreadable; id <= soundNotHeard; ++id) {
        SCOPED_TRACE(id);
        const std::string english = korvex::loadString(Language::English, id);
        const std::string japanese = korvex::loadString(Language::Japanese, id);
        EXPECT_FALSE(english.empty());
        EXPECT_FALSE(japanese.empty());
        EXPECT_NE(english, japanese);
    }
    EXPECT_EQ(korvex::soundNotHeardText(Language::Japanese),
              korvex::loadString(Language::Japanese, soundNotHeard));
}

TEST(StringTable, QuotedTexts) {
    struct Row {
        int id;
        const char* en;
        const char* ja;
    };
    const Row rows[] = {
        {1002, "reversible play", "逆再生"}, {1067, "time of current image ", "表示画像の時刻"},
        {64465, "skip 1", "スキップ1"},      {64469, "skip 5", "スキップ5"},
        {57345, "ready", "レディ"},          {57601, "open image folder\nopen", nullptr},
        {64470, "KALMO", "KALMO"},           {50000, "Arial", nullptr},
    };
    for (const Row& r : rows) {
        EXPECT_EQ(korvex::loadString(Language::English, r.id), r.en);
        if (r.ja) {
            EXPECT_EQ(korvex::loadString(Language::Japanese, r.id), r.ja);
        }
    }
    EXPECT_NE(korvex::loadString(Language::Japanese, 50000), "Arial");
}

TEST(StringTable, LanguageFromEnvironment) {
    struct Row {
        std::map<std::string, std::string> env;
        Language expected;
    };
    const Row rows[] = {
        {{}, Language::English},
        {{{"LANG", "ja_JP.UTF-8"}}, Language::Japanese},
        {{{"LANG", "en_US.UTF-8"}}, Language::English},
        {{{"LANG", "ja_JP.UTF-8"}, {"LC_ALL", "C"}}, Language::English},
        {{{"LANG", "C"}, {"LC_MESSAGES", "ja_JP"}}, Language::Japanese},
        {{{"LANG", "C"}, {"LANGUAGE", "ja:en"}}, Language::Japanese},
        {{{"LANGUAGE", ""}, {"LC_ALL", "ja_JP.eucJP"}}, Language::Japanese},
        {{{"LANGUAGE", "en"}, {"LC_ALL", "ja_JP"}}, Language::English},
        {{{"LANG", "jv_ID"}}, Language::English},
    };
    for (const Row& r : rows) {
        auto get = [&r](const char* name) -> const char* {
            auto it = r.env.find(name);
            return it == r.env.end() ? nullptr : it->second.c_str();
        };
        EXPECT_EQ(korvex::languageFromEnvironment(get), r.expected);
    }
}

TEST(StringTable, FormatAndTemplateFields) {
    EXPECT_EQ(korvex::formatText("%2 of %1, %3%%9", {"a", "b"}), "b of a, %3%%9");
    const std::string t = korvex::loadString(Language::English, 128);
    EXPECT_EQ(korvex::templateField(t, 0), "Ostrand");
    EXPECT_EQ(korvex::templateField(t, 1), "");
    EXPECT_EQ(korvex::templateField(t, 2), "Korvx");
    EXPECT_EQ(korvex::templateField(t, 6), "Korvx Document");
    EXPECT_EQ(korvex::templateField(t, 7), "");
}

namespace {

void collect(const std::vector<korvex::MenuEntry>& items, std::map<int, std::string>& out) {
    for (const auto& item : items) {
        if (item.isPopup()) {
            collect(item.items, out);
        } else if (!item.isSeparator()) {
            out[item.commandId] = item.text;
        }
    }
}

}  // namespace

TEST(StringTable, BrandMenusDifferOnlyInTheAboutItem) {
    struct Row {
        int menu;
        int command;
        const char* en;
        const char* ja;
    };
    const Row rows[] = {
        {127, 57664, "About Korvex2(&A)...", "Korvex2 のバージョン情報(&A)..."},
        {128, 32774, "About Ostrand(&A)...", "Ostrand のバージョン情報(&A)..."},
        {129, 32774, "About Pellic(&A)...", "Pellic のバージョン情報(&A)..."},
        {179, 32774, "About Korvex2(&A)...", "Korvex のバージョン情報(&A)..."},
    };
    for (Language l : {Language::English, Language::Japanese}) {
        std::map<int, std::string> base;
        collect(korvex::menuResource(l, 127), base);
        base.erase(57664);
        EXPECT_EQ(base.size(), 18u);
        for (const auto& [id, text] : base)
            EXPECT_FALSE(text.empty()) << id;
        for (const Row& r : rows) {
            std::map<int, std::string> items;
            collect(korvex::menuResource(l, r.menu), items);
            EXPECT_EQ(items[r.command], l == Language::English ? r.en : r.ja);
            items.erase(r.command);
            EXPECT_EQ(items, base) << r.menu;
        }
    }
    std::map<int, std::string> en;
    collect(korvex::menuResource(Language::English, 127), en);
    EXPECT_EQ(en[57601], "Open(&O)...\tCtrl+O");
    EXPECT_EQ(en[32772], "Title Input(&T)...");
    std::map<int, std::string> ja;
    collect(korvex::menuResource(Language::Japanese, 127), ja);
    EXPECT_EQ(ja[32772], "印刷タイトル入力(&T)...");
    EXPECT_EQ(ja[40035], "カメラタイトル表示");
    EXPECT_TRUE(korvex::menuResource(Language::English, 130).empty());
}

TEST(StringTable, ChannelMenu) {
    const auto menu = korvex::menuResource(Language::Japanese, korvex::dlg::channelMenu);
    ASSERT_EQ(menu.size(), 1u);
    const auto& items = menu[0].items;
    ASSERT_EQ(items.size(), 21u);
    EXPECT_EQ(items[0].text, "1画面");
    EXPECT_EQ(items[3].text, "16画面");
    EXPECT_EQ(items[4].text, "--");
    EXPECT_EQ(items[4].commandId, 40005);
    EXPECT_EQ(items[5].text, "1ch");
    EXPECT_EQ(items[20].text, "16ch");
    EXPECT_EQ(items[20].commandId, 40021);
    EXPECT_EQ(korvex::menuResource(Language::English, 141)[0].items[0].text, "1 image");
}

TEST(StringTable, DialogTextsInBothLanguages) {
    for (const auto& [templ, key] : korvex::dialogTextKeys()) {
        EXPECT_STRNE(korvex::findDialogText(Language::English, templ, key), "") << templ << key;
        const char* ja = korvex::findDialogText(Language::Japanese, templ, key);
        ASSERT_NE(ja, nullptr);
        // The Japanese Searching dialog has no caption; everything else has a text.
        if (!(templ == 133 && key == 0)) {
            EXPECT_STRNE(ja, "") << templ << " " << key;
        }
    }
    EXPECT_EQ(korvex::dialogText(Language::Japanese, 103, 2), "ｷｬﾝｾﾙ");
    EXPECT_EQ(korvex::dialogText(Language::English, 133, -1),
              "It is searching for the image file.");
    for (int b = 0; b < korvex::kBrandCount; ++b) {
        const int box = korvex::aboutBoxOf(b);
        for (Language l : {Language::English, Language::Japanese}) {
            EXPECT_NE(korvex::dialogText(l, box, -1).find("Version 2.1.5"), std::string::npos);
        }
    }
    EXPECT_EQ(korvex::aboutExtraLineCount(100), 2);
    EXPECT_EQ(korvex::aboutExtraLineCount(101), 3);
    EXPECT_EQ(korvex::aboutExtraLineCount(181), 2);
    EXPECT_EQ(korvex::aboutExtraLineCount(178), 0);
    EXPECT_EQ(korvex::aboutExtraLineCount(182), 0);
}
