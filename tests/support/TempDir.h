#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace korvex::test {

// A fresh scratch folder for one test, removed with everything in it when the object goes. It is
// made under $KORVEX_TEST_TMP (the build gives each test program its own) or else the system's
// temporary folder, named after `tag`, the process and a counter, so that parallel test programs
// and repeated cases never share one.
class TempDir {
public:
    explicit TempDir(std::string_view tag = "korvex");
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::string str() const { return path_.string(); }
    // The path of `name` inside the folder (nothing is created).
    std::string file(std::string_view name) const { return (path_ / name).string(); }
    std::string operator/(std::string_view name) const { return file(name); }

private:
    std::filesystem::path path_;
};

}  // namespace korvex::test
