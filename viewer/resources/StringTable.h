#pragma once

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

namespace korvex {

// The viewer carries every user-visible text in English and Japanese under the same id; the
// user's locale picks one table for the whole run.
enum class Language { English, Japanese };

// LANGUAGE, LC_ALL, LC_MESSAGES, LANG in that order: the first one that is set and not empty
// decides, and a value starting with "ja" gives Japanese. `getenv` is injectable for tests.
Language languageFromEnvironment(const std::function<const char*(const char*)>& getenv = {});

// Ids of texts that the viewer shows but that have no number of their own in the original
// resources (drawn marks, message boxes, start-up failures). They share the string table.
namespace textid {
inline constexpr int invalidImage = 50100;     // the face of an undecodable frame
inline constexpr int imageAltered = 50101;     // check-mode banner
inline constexpr int timeAltered = 50102;      // check-mode banner
inline constexpr int noValidTime = 50103;      // time text of a frame without a valid time
inline constexpr int frameCounter = 50104;     // "%d / %d"
inline constexpr int printJobName = 50105;     // names the print job
inline constexpr int saveFilter = 50106;       // the Save dialog's filter (Qt filter syntax)
inline constexpr int filesFoundSoFar = 50107;  // Searching dialog: "%1" = files found so far
inline constexpr int unreadableParts = 50108;  // after a scan: %1 folder, %2 the parts, one a line
inline constexpr int failedCreatePlayer = 50110;
inline constexpr int failedSetPosition = 50111;
inline constexpr int failedPlay = 50112;
inline constexpr int failedPause = 50113;
inline constexpr int failedStop = 50114;
inline constexpr int failedSetChannel = 50115;
inline constexpr int notFoundChannelNo = 50116;
inline constexpr int noBrandFile = 50120;  // %1, %2: the two file names; %3: the folders, in order
inline constexpr int unknownBrandCode = 50121;     // %1: file name; %2: folder
inline constexpr int unreadableBrandFile = 50122;  // %1: file name; %2: folder
inline constexpr int startupFailedCaption = 50123;
inline constexpr int brandFileHint = 50124;  // %1: the folder the brand file belongs in
// Status-bar notes; %1 is a folder or file path.
inline constexpr int openUnreadable = 50125;
inline constexpr int openNotARecording = 50126;
inline constexpr int openNoFrames = 50127;
inline constexpr int openNoFramesInSubfolders = 50128;
inline constexpr int savedTo = 50129;
inline constexpr int printJobSent = 50130;   // %1: the job's name; %2: printer or file
inline constexpr int soundNotHeard = 50131;  // the track plays, but there is no sound device
}  // namespace textid

// Well-known string ids of the original table.
namespace strid {
inline constexpr int idleText = 57345;        // status bar: "ready"
inline constexpr int timeFaceName = 50000;    // font of the time text
inline constexpr int printFaceName = 50001;   // font of the print title
inline constexpr int firstSpeedTick = 64460;  // 64460..64469: speed slider tick labels
inline constexpr int company0 = 64470;
inline constexpr int company1 = 64471;  // no Japanese entry
inline constexpr int product0 = 64472;
inline constexpr int product1 = 64473;
inline constexpr int product3 = 64474;
inline constexpr int product2 = 64475;
inline constexpr int company2 = 64477;  // no Japanese entry
}  // namespace strid

// The text of string `id` in `language` as UTF-8; nullptr when the table has no such entry
// (the Japanese table lacks 64471 and 64477 on purpose: their text is then empty).
const char* findString(Language language, int id);
// findString, with a missing entry read as empty text.
std::string loadString(Language language, int id);
// Every id of the string table, ascending (union of both languages).
std::vector<int> stringIds();

// Replaces "%1".."%9" by the given arguments (message texts keep the argument order free so
// that each language can place them where its grammar wants).
std::string formatText(std::string_view pattern, std::initializer_list<std::string_view> args);

// Field `index` of a document-template string (fields separated by '\n': window title, empty,
// document name, empty, empty, registry file type, file type name); empty past the end.
std::string templateField(std::string_view templateText, int index);

// ---- Menus ----

// One menu item: a command (commandId > 0), a separator (commandId 0) or a popup (items).
struct MenuEntry {
    int commandId = 0;
    std::string text;
    std::vector<MenuEntry> items;
    bool isPopup() const { return !items.empty(); }
    bool isSeparator() const { return commandId == 0 && items.empty(); }
};

// Menu resource `menuId` (the brand menus 127, 128, 129, 179, and the CHANNEL menu 141) as its
// top-level popups; empty for an unknown id. Texts carry "&" mnemonics and "\t" shortcut texts.
std::vector<MenuEntry> menuResource(Language language, int menuId);

// ---- Dialog templates ----

// Texts of the dialog templates, keyed by (template id, key): key 0 is the caption, a positive
// key is the control id, and negative keys number the id-less static texts in template order.
//   100, 101, 178, 181, 182 About boxes: -1 version line, -2.. further fixed lines, 1 OK
//   103 Open: -1 heading, 1000 Browse, 1 OK, 2 Cancel
//   104 Title Input: -1 prompt, 1 OK, 2 Cancel
//   132 control panel: -1 "Speed", 1069 "1ch", 1070 "2ch"
//   133 Searching: -1 message, 2 Cancel
//   135 Date Display Format: -1 "Sample", -2 "Format", -3 "Delimiter", 1 OK, 2 Cancel
// nullptr when the template has no such text.
const char* findDialogText(Language language, int templateId, int key);
std::string dialogText(Language language, int templateId, int key);
// All (template id, key) pairs that carry a text, for completeness checks.
std::vector<std::pair<int, int>> dialogTextKeys();

// Number of further fixed lines of an About box (below the version line).
int aboutExtraLineCount(int aboutBoxId);

}  // namespace korvex
