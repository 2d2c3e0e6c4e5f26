// korvex-brand --brand N [--dir D]: writes the brand file for brand N (0 to 4) into folder D
// (default: the current folder), which is where the viewer looks for it at start-up.
#include <cstdio>
#include <cstring>
#include <string>

#include "tools/brand/BrandCodes.h"

namespace {

const char* const kUsage =
    "usage: korvex-brand --brand N [--dir FOLDER]\n"
    "Writes the brand file of brand N into FOLDER (default: the current folder), where the\n"
    "viewer looks for it at start-up.\n"
    "  N: 0 KALMO Korvex2, 1 TERIN Ostrand, 2 ZOLAN Korvex2, 3 TERIN Pellic2,\n"
    "     4 TERIN Korvex2\n";

int usage() {
    std::fputs(kUsage, stderr);
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    int brand = -1;
    std::string folder = ".";
    for (int i = 1; i < argc; ++i) {
        const bool hasValue = i + 1 < argc;
        if (std::strcmp(argv[i], "--help") == 0) {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (std::strcmp(argv[i], "--brand") == 0 && hasValue) {
            const std::string value = argv[++i];
            if (value.size() != 1 || value[0] < '0' || value[0] > '4')
                return usage();
            brand = value[0] - '0';
        } else if (std::strcmp(argv[i], "--dir") == 0 && hasValue) {
            folder = argv[++i];
        } else {
            return usage();
        }
    }
    if (brand < 0)
        return usage();

    std::string written, removed, error;
    if (!korvex::brandtool::writeBrandFile(brand, folder, written, removed, error)) {
        std::fprintf(stderr, "korvex-brand: %s\n", error.c_str());
        return 1;
    }
    if (!removed.empty())
        std::printf("removed %s (it would hide the new file)\n", removed.c_str());
    std::printf("wrote %s (brand %d)\n", written.c_str(), brand);
    return 0;
}
