#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "viewer/resources/StringTable.h"

namespace korvex {

inline constexpr int kBrandCount = 5;
inline constexpr const char* kBrandFileNew = "Viewer2.ini";
inline constexpr const char* kBrandFileOld = "Viewer.ini";

// One row of the brand table (row = brandIndex).
struct BrandInfo {
    int templateId;  // document template string; the menu and icon of the same number
    int aboutBoxId;
    int companyStringId;
    int productStringId;
};

// The row of `brandIndex` (0..4); nullptr for any other index.
const BrandInfo* brandInfo(int brandIndex);

// The About box of a brand: 0: 100, 1: 101, 2: 178, 3: 181, 4: 182; any other index: 100.
int aboutBoxOf(int brandIndex);
// The About command of a brand's menu: 57664 for menu 127, 32774 for the others.
int aboutCommandOf(int brandIndex);

enum class BrandFile { New, Old };  // "Viewer2.ini", "Viewer.ini"

// The brand whose code is exactly `content` when read from `file`, or -1. A file's own code is
// accepted only in that file; the three shared codes in either.
int brandFromCode(BrandFile file, std::span<const unsigned char> content);

// Outcome of looking for the brand file at start-up.
struct BrandSelection {
    enum class Status { Ok, Missing, Unreadable, UnknownCode };
    Status status = Status::Missing;
    int brandIndex = -1;
    std::string fileName;  // the file that was read (empty when none was found)
    std::string filePath;
    std::string folder;  // the folder it was found in
};

// Reads "Viewer2.ini", else "Viewer.ini", in `folder` (names matched without regard to letter
// case, as on the recorders' own platform). Only the first file found is read, so a bad
// "Viewer2.ini" is not rescued by a good "Viewer.ini".
BrandSelection selectBrand(const std::string& folder);
// The same over several folders in order: the first folder that holds a brand file decides, so
// a bad file in the working folder is not rescued by the installed one.
BrandSelection selectBrand(const std::vector<std::string>& folders);

// Where the brand file is looked for: the working folder first (where the recorder software kept
// it, beside the program), then the user's and the system's data folders of the XDG base
// directory rules, each with "korvex" appended: $XDG_DATA_HOME (else $HOME/.local/share), then
// every entry of $XDG_DATA_DIRS (else /usr/local/share and /usr/share). Unset or empty variables
// take their defaults; relative paths are ignored, as those rules ask (a relative
// $XDG_DATA_HOME as if unset); no folder is listed twice. The arguments are the variables'
// values, null when unset.
std::vector<std::string> brandSearchFolders(const std::string& workingFolder,
                                            const char* xdgDataHome, const char* xdgDataDirs,
                                            const char* home);

// The per-user settings key "SOFTWARE\<company>\<product>\Settings" of a brand in a language.
// The company text is empty where the language's table lacks it (Japanese, brands 1, 3, 4).
std::string settingsKeyPath(Language language, int brandIndex);

// The window title of a brand: field 0 of its document template string.
std::string brandWindowTitle(Language language, int brandIndex);

}  // namespace korvex
