#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace korvex::test {

// The whole file as bytes in a string; empty when it cannot be read.
std::string readText(const std::filesystem::path& path);
// Writes the file anew; throws std::runtime_error when it cannot, so a test never runs on a
// file that is not there.
void writeText(const std::filesystem::path& path, std::string_view text);
void writeFile(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes);

}  // namespace korvex::test
