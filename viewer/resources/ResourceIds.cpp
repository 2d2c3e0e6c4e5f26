#include "viewer/resources/ResourceIds.h"

#include <array>

namespace korvex {

namespace {

constexpr int kButton = 36;  // round transport buttons, sized for the 80-pixel panel row
constexpr int kIcon = 20;

constexpr auto kSpecs = [] {
    std::array<BitmapSpec, 35 + 1 + 4> specs{};
    size_t n = 0;
    for (int id = 143; id <= 174; ++id)
        specs[n++] = {ResourceKind::Bitmap, id, kButton, kButton};
    for (int id = 175; id <= 177; ++id)
        specs[n++] = {ResourceKind::Bitmap, id, kIcon, kIcon};
    specs[n++] = {ResourceKind::Toolbar, bmp::toolbar, 16 * 8, 15};
    for (int id : {127, 128, 129, 179})
        specs[n++] = {ResourceKind::Icon, id, 32, 32};
    return specs;
}();

constexpr int kToolbar[] = {cmd::fileOpen,   cmd::fileSave,   cmd::filePrint,   cmd::viewImage1,
                            cmd::viewImage4, cmd::viewImage9, cmd::viewImage16, cmd::appAbout};

}  // namespace

std::span<const BitmapSpec> bitmapSpecs() {
    return kSpecs;
}

const BitmapSpec* findBitmapSpec(ResourceKind kind, int id) {
    for (const BitmapSpec& spec : kSpecs) {
        if (spec.kind == kind && spec.id == id)
            return &spec;
    }
    return nullptr;
}

std::span<const int> toolbarCommands() {
    return kToolbar;
}

}  // namespace korvex
