#include "tests/support/TempDir.h"

#include <unistd.h>

#include <atomic>
#include <cstdlib>

namespace korvex::test {

namespace fs = std::filesystem;

TempDir::TempDir(std::string_view tag) {
    static std::atomic<int> counter{0};
    const char* base = std::getenv("KORVEX_TEST_TMP");
    const fs::path root =
        base != nullptr && *base != '\0' ? fs::path(base) : fs::temp_directory_path();
    path_ = root / (std::string(tag) + "-" + std::to_string(::getpid()) + "-" +
                    std::to_string(counter.fetch_add(1)));
    // A folder left by a crashed run of the same process id would mix its files in.
    std::error_code ec;
    fs::remove_all(path_, ec);
    fs::create_directories(path_);
}

TempDir::~TempDir() {
    std::error_code ec;
    fs::remove_all(path_, ec);
}

}  // namespace korvex::test
