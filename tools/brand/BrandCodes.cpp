#include "tools/brand/BrandCodes.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/FileSystem.h"

namespace korvex::brandtool {

namespace {

// The viewer keeps these only scrambled; this table is the one place where they are written out.
//   brand 0 (KALMO, Korvex2)        Viewer2.ini  4b 9e 21 d3 5a
//   brand 1 (TERIN, Ostrand)        Viewer.ini   7c 13 e8 46       (the only 4-byte code)
//   brand 2 (ZOLAN, Korvex2)        Viewer2.ini  2f b1 68 0d c4    (also valid in Viewer.ini)
//   brand 3 (TERIN, Pellic2)        Viewer2.ini  93 5e 37 a9 12    (also valid in Viewer.ini)
//   brand 4 (TERIN, Korvex2)        Viewer2.ini  e6 08 9b 74 3d    (also valid in Viewer.ini)
// The first code is accepted only in Viewer2.ini, the second only in Viewer.ini.
const BrandFileContent kFiles[] = {
    {"Viewer2.ini", {0x4b, 0x9e, 0x21, 0xd3, 0x5a}},
    {"Viewer.ini", {0x7c, 0x13, 0xe8, 0x46}},
    {"Viewer2.ini", {0x2f, 0xb1, 0x68, 0x0d, 0xc4}},
    {"Viewer2.ini", {0x93, 0x5e, 0x37, 0xa9, 0x12}},
    {"Viewer2.ini", {0xe6, 0x08, 0x9b, 0x74, 0x3d}},
};

}  // namespace

bool brandFileFor(int brandIndex, BrandFileContent& out) {
    if (brandIndex < 0 || brandIndex >= static_cast<int>(std::size(kFiles)))
        return false;
    out = kFiles[brandIndex];
    return true;
}

bool writeBrandFile(int brandIndex, const std::string& folder, std::string& writtenPath,
                    std::string& removed, std::string& error) {
    BrandFileContent file;
    if (!brandFileFor(brandIndex, file)) {
        error = "unknown brand " + std::to_string(brandIndex) + " (0 to 4)";
        return false;
    }
    if (!platform::isDirectory(folder)) {
        error = "not a folder: " + folder;
        return false;
    }
    removed.clear();
    if (file.fileName == "Viewer.ini") {
        const std::string shadow = platform::findEntryNoCase(folder, "Viewer2.ini", false);
        if (!shadow.empty()) {
            if (std::remove(shadow.c_str()) != 0) {
                error = "cannot remove " + shadow + ": " + std::strerror(errno);
                return false;
            }
            removed = shadow;
        }
    }
    // Replace a differently cased file of the same name, which the viewer would read first.
    const std::string existing = platform::findEntryNoCase(folder, file.fileName, false);
    writtenPath = platform::joinPath(folder, file.fileName);
    if (!existing.empty() && existing != writtenPath)
        std::remove(existing.c_str());

    std::FILE* f = std::fopen(writtenPath.c_str(), "wb");
    if (f == nullptr) {
        error = "cannot create " + writtenPath + ": " + std::strerror(errno);
        return false;
    }
    const bool written =
        std::fwrite(file.bytes.data(), 1, file.bytes.size(), f) == file.bytes.size();
    const bool closed = std::fclose(f) == 0;
    if (!written || !closed) {
        error = "cannot write " + writtenPath;
        return false;
    }
    return true;
}

}  // namespace korvex::brandtool
