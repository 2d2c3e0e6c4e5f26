#pragma once

#include <span>

namespace korvex {

// Command ids (menus, toolbar, accelerators): the routing keys of the viewer's actions.
namespace cmd {
inline constexpr int fileOpen = 57601;
inline constexpr int fileSave = 33001;
inline constexpr int filePrint = 57607;
inline constexpr int titleInput = 32772;
inline constexpr int fileExport = 32775;  // File > Export: a stretch as an MP4 video
inline constexpr int dateFormat = 32773;
inline constexpr int aboutBrand = 32774;  // About item of menus 128, 129, 179
inline constexpr int appAbout = 57664;    // About item of menu 127 and the toolbar
inline constexpr int appExit = 57665;
inline constexpr int viewToolbar = 59392;
inline constexpr int viewStatusBar = 59393;
inline constexpr int timeRightDown = 40031;  // 40031..40034: time position 0..3
inline constexpr int timeRightUp = 40032;
inline constexpr int timeLeftUp = 40033;
inline constexpr int timeLeftDown = 40034;
inline constexpr int cameraTitle = 40035;
inline constexpr int viewImage1 = 40041;  // 40041..40044: 1, 4, 9, 16 panes
inline constexpr int viewImage4 = 40042;
inline constexpr int viewImage9 = 40043;
inline constexpr int viewImage16 = 40044;
inline constexpr int channelImage1 = 40001;  // CHANNEL menu (141): 40001..40004 layouts,
inline constexpr int channelAll = 40005;     // 40005 all channels ("--"),
inline constexpr int channelFirst = 40006;   // 40006..40021 channels 0..15
inline constexpr int channelLast = 40021;
}  // namespace cmd

// Controls of the control panel (template 132).
namespace ctl {
inline constexpr int previous = 1001;
inline constexpr int reverse = 1002;
inline constexpr int stop = 1003;
inline constexpr int play = 1004;
inline constexpr int next = 1005;
inline constexpr int frameCounter = 1022;
inline constexpr int currentTime = 1023;
inline constexpr int firstTime = 1061;
inline constexpr int lastTime = 1062;
inline constexpr int position = 1063;
inline constexpr int speed = 1064;
inline constexpr int sound = 1065;
inline constexpr int channelIcon = 1066;
inline constexpr int clockIcon = 1067;
inline constexpr int counterIcon = 1068;
inline constexpr int channel1 = 1069;
inline constexpr int channel2 = 1070;
inline constexpr int volume = 1071;
inline constexpr int singleChannel = 1072;  // 1073..1076: channels of the four panes
}  // namespace ctl

// Dialog templates and menus.
namespace dlg {
inline constexpr int open = 103;
inline constexpr int titleInput = 104;
inline constexpr int panel = 132;
inline constexpr int searching = 133;
inline constexpr int dateFormat = 135;
inline constexpr int channelMenu = 141;
}  // namespace dlg

// Bitmaps of the panel buttons (four-state sets are normal, pressed, focused, disabled; the
// sound toggle's set is on, off, on-disabled, off-disabled).
namespace bmp {
inline constexpr int reverse = 143;   // 143..146
inline constexpr int previous = 147;  // 147..150
inline constexpr int stop = 151;      // 151..154
inline constexpr int next = 155;      // 155..158
inline constexpr int play = 159;      // 159..162
inline constexpr int first = 163;     // 163..166, spare: not on the panel
inline constexpr int last = 167;      // 167..170, spare: not on the panel
inline constexpr int sound = 171;     // 171..174
inline constexpr int channelIcon = 175;
inline constexpr int clockIcon = 176;
inline constexpr int counterIcon = 177;
inline constexpr int toolbar = 127;  // toolbar strip: 8 buttons of 16 x 15
}  // namespace bmp

enum class ResourceKind { Bitmap, Toolbar, Icon };

struct BitmapSpec {
    ResourceKind kind;
    int id;
    int width;
    int height;
};

// Every picture resource of the viewer with its size; magenta (255, 0, 255) is transparent.
std::span<const BitmapSpec> bitmapSpecs();
const BitmapSpec* findBitmapSpec(ResourceKind kind, int id);

// The toolbar's buttons in strip order (command ids; separators are not in the strip).
std::span<const int> toolbarCommands();

}  // namespace korvex
