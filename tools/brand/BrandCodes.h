#pragma once

#include <string>
#include <vector>

namespace korvex::brandtool {

// The brand file that selects `brandIndex`: its name and its whole content.
struct BrandFileContent {
    std::string fileName;
    std::vector<unsigned char> bytes;
};

// False for an index outside 0..4.
bool brandFileFor(int brandIndex, BrandFileContent& out);

// Writes the brand file of `brandIndex` into `folder`. A "Viewer2.ini" is always read before
// "Viewer.ini", so writing "Viewer.ini" removes a "Viewer2.ini" that would hide it; `removed`
// then names it. False with `error` set when something failed.
bool writeBrandFile(int brandIndex, const std::string& folder, std::string& writtenPath,
                    std::string& removed, std::string& error);

}  // namespace korvex::brandtool
