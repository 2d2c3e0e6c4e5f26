#include "viewer/resources/ResourceText.h"

#include <atomic>

namespace korvex {

namespace {

// The one process-wide language choice; -1 until first use.
std::atomic<int> chosenLanguage{-1};

}  // namespace

Language uiLanguage() {
    int value = chosenLanguage.load();
    if (value < 0) {
        value = static_cast<int>(languageFromEnvironment());
        int expected = -1;
        if (!chosenLanguage.compare_exchange_strong(expected, value))
            value = expected;
    }
    return static_cast<Language>(value);
}

QString uiText(const char* english, const char* japanese) {
    return QString::fromUtf8(uiLanguage() == Language::Japanese ? japanese : english);
}

void setUiLanguage(Language language) {
    chosenLanguage.store(static_cast<int>(language));
}

QString resString(int id) {
    return QString::fromStdString(loadString(uiLanguage(), id));
}

QString resDialogText(int templateId, int key) {
    return QString::fromStdString(dialogText(uiLanguage(), templateId, key));
}

}  // namespace korvex
