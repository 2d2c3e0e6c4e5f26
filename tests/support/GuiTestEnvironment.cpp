#include "tests/support/GuiTestEnvironment.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <random>
#include <utility>
#include <vector>

#include "viewer/resources/Resources.h"

namespace korvex::test {

namespace {

std::string g_home;

struct Hooks {
    std::function<void()> up, down;
};
std::vector<Hooks>& hooks() {
    static std::vector<Hooks> all;  // filled from other files' static initialisers
    return all;
}

// Runs before any test of a Qt test program: a fresh home for this run, then the one
// QApplication of the process.
class GuiEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        namespace fs = std::filesystem;
        std::random_device rd;
        const fs::path home = fs::temp_directory_path() /
                              ("korvex-ui-" + std::to_string(rd()) + std::to_string(rd()));
        fs::create_directories(home / "config");
        g_home = home.string();
        ::setenv("HOME", g_home.c_str(), 1);
        ::setenv("XDG_CONFIG_HOME", (home / "config").c_str(), 1);
        // The viewer also looks for its brand file in the data folders: an installed package's
        // must not decide a test.
        ::setenv("XDG_DATA_HOME", (home / "data").c_str(), 1);
        ::setenv("XDG_DATA_DIRS", (home / "system-data").c_str(), 1);
        // Qt wants a private runtime folder and complains about a missing one.
        fs::create_directories(home / "runtime");
        fs::permissions(home / "runtime", fs::perms::owner_all, fs::perm_options::replace);
        ::setenv("XDG_RUNTIME_DIR", (home / "runtime").c_str(), 1);
        if (std::getenv("QT_QPA_PLATFORM") == nullptr)
            ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
        if (std::getenv("SDL_AUDIODRIVER") == nullptr)
            ::setenv("SDL_AUDIODRIVER", "dummy", 1);
        app_ = std::make_unique<QApplication>(argc_, argv_);
        korvex::initResources();
        korvex::setUiLanguage(korvex::Language::English);
        for (const Hooks& h : hooks())
            if (h.up)
                h.up();
    }
    void TearDown() override {
        for (auto it = hooks().rbegin(); it != hooks().rend(); ++it)
            if (it->down)
                it->down();
        app_.reset();
        std::error_code ec;
        std::filesystem::remove_all(g_home, ec);
    }

private:
    int argc_ = 1;
    char name_[16] = "korvex-test";
    char* argv_[2] = {name_, nullptr};
    std::unique_ptr<QApplication> app_;
};

[[maybe_unused]] ::testing::Environment* const g_env =
    ::testing::AddGlobalTestEnvironment(new GuiEnvironment);

}  // namespace

const std::string& scratchHome() {
    return g_home;
}

std::string freshFolder(const std::string& name) {
    static std::atomic<int> counter{0};
    const auto folder =
        std::filesystem::path(g_home) / (name + "-" + std::to_string(counter.fetch_add(1)));
    std::filesystem::create_directories(folder);
    return folder.string();
}

bool atQtStart(std::function<void()> up, std::function<void()> down) {
    hooks().push_back({std::move(up), std::move(down)});
    return true;
}

}  // namespace korvex::test
