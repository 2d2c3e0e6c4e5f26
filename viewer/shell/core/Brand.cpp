#include "viewer/shell/core/Brand.h"

#include <algorithm>
#include <array>
#include <string_view>
#include <vector>

#include "platform/FileSystem.h"

namespace korvex {

namespace {

constexpr BrandInfo kBrands[kBrandCount] = {
    {127, 100, strid::company0, strid::product0}, {128, 101, strid::company1, strid::product1},
    {179, 178, strid::company2, strid::product2}, {129, 181, strid::company1, strid::product3},
    {127, 182, strid::company1, strid::product0},
};

// The brand codes never appear in the program as they are: a file's bytes are scrambled the
// same way and compared with these.
struct ScrambledCode {
    int brandIndex;
    bool newFile;  // accepted in "Viewer2.ini"
    bool oldFile;  // accepted in "Viewer.ini"
    std::array<unsigned char, 5> bytes;
    size_t length;
};

constexpr ScrambledCode kCodes[] = {
    {0, true, false, {0xec, 0xbe, 0xc3, 0x3a, 0x9b}, 5},
    {1, false, true, {0xdb, 0x33, 0x0a, 0xaf, 0x00}, 4},
    {2, true, true, {0x88, 0x91, 0x8a, 0xe4, 0x05}, 5},
    {3, true, true, {0x34, 0x7e, 0xd5, 0x40, 0xd3}, 5},
    {4, true, true, {0x41, 0x28, 0x79, 0x9d, 0xfc}, 5},
};

// A brand file is a few bytes; anything much larger cannot hold a code and is not read whole.
constexpr long long kMaxBrandFileBytes = 64;

std::vector<unsigned char> scramble(std::span<const unsigned char> plain) {
    std::vector<unsigned char> out(plain.size());
    unsigned key = 0xA7;
    for (size_t i = 0; i < plain.size(); ++i) {
        out[i] = static_cast<unsigned char>(plain[i] ^ key);
        key = (key * 29 + static_cast<unsigned>(i) * 13 + 0x35) & 0xFF;
    }
    return out;
}

}  // namespace

const BrandInfo* brandInfo(int brandIndex) {
    if (brandIndex < 0 || brandIndex >= kBrandCount)
        return nullptr;
    return &kBrands[brandIndex];
}

int aboutBoxOf(int brandIndex) {
    const BrandInfo* info = brandInfo(brandIndex);
    return info != nullptr ? info->aboutBoxId : 100;
}

int aboutCommandOf(int brandIndex) {
    const BrandInfo* info = brandInfo(brandIndex);
    return info != nullptr && info->templateId != 127 ? 32774 : 57664;
}

int brandFromCode(BrandFile file, std::span<const unsigned char> content) {
    if (content.size() > 5)
        return -1;
    const std::vector<unsigned char> scrambled = scramble(content);
    for (const ScrambledCode& code : kCodes) {
        const bool allowed = file == BrandFile::New ? code.newFile : code.oldFile;
        if (!allowed || code.length != scrambled.size())
            continue;
        if (std::equal(scrambled.begin(), scrambled.end(), code.bytes.begin())) {
            return code.brandIndex;
        }
    }
    return -1;
}

BrandSelection selectBrand(const std::string& folder) {
    BrandSelection result;
    result.folder = folder;
    for (const auto& [name, kind] :
         {std::pair{kBrandFileNew, BrandFile::New}, std::pair{kBrandFileOld, BrandFile::Old}}) {
        const std::string path = platform::findEntryNoCase(folder, name, false);
        if (path.empty())
            continue;
        result.fileName = name;
        result.filePath = path;
        const long long size = platform::fileSize(path);
        std::vector<unsigned char> content;
        if (size < 0) {
            result.status = BrandSelection::Status::Unreadable;
            return result;
        }
        if (size > kMaxBrandFileBytes) {
            result.status = BrandSelection::Status::UnknownCode;
            return result;
        }
        if (!platform::readWholeFile(path, content, kMaxBrandFileBytes)) {
            result.status = BrandSelection::Status::Unreadable;
            return result;
        }
        result.brandIndex = brandFromCode(kind, content);
        result.status = result.brandIndex >= 0 ? BrandSelection::Status::Ok
                                               : BrandSelection::Status::UnknownCode;
        return result;
    }
    result.status = BrandSelection::Status::Missing;
    return result;
}

BrandSelection selectBrand(const std::vector<std::string>& folders) {
    for (const std::string& folder : folders) {
        BrandSelection found = selectBrand(folder);
        if (found.status != BrandSelection::Status::Missing)
            return found;
    }
    return {};
}

std::vector<std::string> brandSearchFolders(const std::string& workingFolder,
                                            const char* xdgDataHome, const char* xdgDataDirs,
                                            const char* home) {
    std::vector<std::string> folders;
    const auto add = [&folders](std::string folder) {
        while (folder.size() > 1 && folder.back() == '/')
            folder.pop_back();
        if (std::find(folders.begin(), folders.end(), folder) == folders.end())
            folders.push_back(std::move(folder));
    };
    const auto absolute = [](std::string_view path) { return !path.empty() && path[0] == '/'; };
    const auto korvexIn = [](std::string_view base) {
        while (base.size() > 1 && base.back() == '/')
            base.remove_suffix(1);
        return std::string(base) + (base == "/" ? "korvex" : "/korvex");
    };
    if (!workingFolder.empty())
        add(workingFolder);

    // A relative value is no value: the default stands in, as for the other user folders.
    std::string dataHome = xdgDataHome != nullptr ? xdgDataHome : "";
    if (!absolute(dataHome))
        dataHome = home != nullptr && absolute(home) ? std::string(home) + "/.local/share" : "";
    if (absolute(dataHome))
        add(korvexIn(dataHome));

    std::string_view dirs = xdgDataDirs != nullptr ? xdgDataDirs : "";
    if (dirs.empty())
        dirs = "/usr/local/share:/usr/share";
    while (!dirs.empty()) {
        const std::size_t colon = dirs.find(':');
        const std::string_view entry = dirs.substr(0, colon);
        if (absolute(entry))
            add(korvexIn(entry));
        dirs = colon == std::string_view::npos ? std::string_view() : dirs.substr(colon + 1);
    }
    return folders;
}

std::string settingsKeyPath(Language language, int brandIndex) {
    const BrandInfo* info = brandInfo(brandIndex);
    if (info == nullptr)
        return {};
    return "SOFTWARE\\" + loadString(language, info->companyStringId) + "\\" +
           loadString(language, info->productStringId) + "\\Settings";
}

std::string brandWindowTitle(Language language, int brandIndex) {
    const BrandInfo* info = brandInfo(brandIndex);
    if (info == nullptr)
        return {};
    return templateField(loadString(language, info->templateId), 0);
}

}  // namespace korvex
