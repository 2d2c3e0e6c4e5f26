#include "viewer/resources/StringTable.h"

#include <algorithm>
#include <cstdlib>
#include <iterator>

namespace korvex {

namespace {

struct StringRow {
    int id;
    const char* english;
    const char* japanese;
};

constexpr StringRow kStrings[] = {
#include "viewer/resources/StringTable.inc"
};

struct DialogRow {
    int templateId;
    int key;
    const char* english;
    const char* japanese;
};

constexpr DialogRow kDialogTexts[] = {
#include "viewer/resources/DialogTable.inc"
};

struct MenuRow {
    int commandId;
    const char* english;
    const char* japanese;
};

constexpr MenuRow kMenuTexts[] = {
#include "viewer/resources/MenuTable.inc"
};

// The brand menus differ only in their About item.
struct AboutItemRow {
    int menuId;
    int commandId;
    const char* english;
    const char* japanese;
};

constexpr AboutItemRow kAboutItems[] = {
    {127, 57664, "About Korvex2(&A)...", "Korvex2 のバージョン情報(&A)..."},
    {128, 32774, "About Ostrand(&A)...", "Ostrand のバージョン情報(&A)..."},
    {129, 32774, "About Pellic(&A)...", "Pellic のバージョン情報(&A)..."},
    {179, 32774, "About Korvex2(&A)...", "Korvex のバージョン情報(&A)..."},
};

const char* pick(Language language, const char* english, const char* japanese) {
    return language == Language::Japanese ? japanese : english;
}

std::string menuText(Language language, int commandId) {
    for (const MenuRow& row : kMenuTexts) {
        if (row.commandId == commandId)
            return pick(language, row.english, row.japanese);
    }
    return {};
}

MenuEntry command(Language language, int commandId) {
    return MenuEntry{commandId, menuText(language, commandId), {}};
}

MenuEntry popup(Language language, int popupKey, std::vector<MenuEntry> items) {
    return MenuEntry{0, menuText(language, popupKey), std::move(items)};
}

}  // namespace

Language languageFromEnvironment(const std::function<const char*(const char*)>& getenv) {
    for (const char* name : {"LANGUAGE", "LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* value = getenv ? getenv(name) : std::getenv(name);
        if (value == nullptr || *value == '\0')
            continue;
        return std::string_view(value).starts_with("ja") ? Language::Japanese : Language::English;
    }
    return Language::English;
}

const char* findString(Language language, int id) {
    for (const StringRow& row : kStrings) {
        if (row.id == id)
            return pick(language, row.english, row.japanese);
    }
    return nullptr;
}

std::string loadString(Language language, int id) {
    const char* text = findString(language, id);
    return text != nullptr ? std::string(text) : std::string();
}

std::vector<int> stringIds() {
    std::vector<int> ids;
    ids.reserve(std::size(kStrings));
    for (const StringRow& row : kStrings)
        ids.push_back(row.id);
    std::sort(ids.begin(), ids.end());
    ids.erase(std::unique(ids.begin(), ids.end()), ids.end());
    return ids;
}

std::string formatText(std::string_view pattern, std::initializer_list<std::string_view> args) {
    std::string out;
    out.reserve(pattern.size());
    for (size_t i = 0; i < pattern.size(); ++i) {
        if (pattern[i] == '%' && i + 1 < pattern.size() && pattern[i + 1] >= '1' &&
            pattern[i + 1] <= '9') {
            const size_t n = static_cast<size_t>(pattern[i + 1] - '1');
            if (n < args.size()) {
                out += *(args.begin() + n);
                ++i;
                continue;
            }
        }
        out += pattern[i];
    }
    return out;
}

std::string templateField(std::string_view templateText, int index) {
    if (index < 0)
        return {};
    size_t start = 0;
    for (int i = 0; i < index; ++i) {
        const size_t nl = templateText.find('\n', start);
        if (nl == std::string_view::npos)
            return {};
        start = nl + 1;
    }
    const size_t end = templateText.find('\n', start);
    return std::string(
        templateText.substr(start, end == std::string_view::npos ? end : end - start));
}

std::vector<MenuEntry> menuResource(Language language, int menuId) {
    if (menuId == 141) {
        std::vector<MenuEntry> items;
        for (int id = 40001; id <= 40005; ++id)
            items.push_back(command(language, id));
        for (int channel = 0; channel < 16; ++channel) {
            items.push_back(MenuEntry{40006 + channel, std::to_string(channel + 1) + "ch", {}});
        }
        return {popup(language, -6, std::move(items))};
    }
    const auto about = std::find_if(std::begin(kAboutItems), std::end(kAboutItems),
                                    [menuId](const AboutItemRow& r) { return r.menuId == menuId; });
    if (about == std::end(kAboutItems))
        return {};

    const MenuEntry separator{};
    std::vector<MenuEntry> menus;
    menus.push_back(popup(language, -1,
                          {command(language, 57601), command(language, 33001),
                           command(language, 57607), command(language, 32775), separator,
                           command(language, 32772), separator, command(language, 57665)}));
    menus.push_back(popup(language, -2,
                          {command(language, 59392), command(language, 59393),
                           command(language, 40035), command(language, 32773),
                           popup(language, -4,
                                 {command(language, 40031), command(language, 40032),
                                  command(language, 40033), command(language, 40034)}),
                           popup(language, -5,
                                 {command(language, 40041), command(language, 40042),
                                  command(language, 40043), command(language, 40044)})}));
    menus.push_back(
        popup(language, -3,
              {MenuEntry{about->commandId, pick(language, about->english, about->japanese), {}}}));
    return menus;
}

const char* findDialogText(Language language, int templateId, int key) {
    for (const DialogRow& row : kDialogTexts) {
        if (row.templateId == templateId && row.key == key) {
            return pick(language, row.english, row.japanese);
        }
    }
    return nullptr;
}

std::string dialogText(Language language, int templateId, int key) {
    const char* text = findDialogText(language, templateId, key);
    return text != nullptr ? std::string(text) : std::string();
}

std::vector<std::pair<int, int>> dialogTextKeys() {
    std::vector<std::pair<int, int>> keys;
    for (const DialogRow& row : kDialogTexts)
        keys.emplace_back(row.templateId, row.key);
    return keys;
}

int aboutExtraLineCount(int aboutBoxId) {
    int count = 0;
    while (findDialogText(Language::English, aboutBoxId, -2 - count) != nullptr)
        ++count;
    return count;
}

}  // namespace korvex
