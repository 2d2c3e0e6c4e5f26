#pragma once

#include <QString>

#include "viewer/resources/StringTable.h"

// The texts of the resources in the user's language. Apart from the pictures and menus (which
// need the widgets), so that the frame painter and what draws with it need only QtGui.

namespace korvex {

// The language of the user interface: chosen from the locale on first use and fixed for the
// run (the resource lookup is process-wide, like the platform's). Tests may set it.
Language uiLanguage();
void setUiLanguage(Language language);

// String `id` of the string table in the UI language; empty when the table lacks it.
QString resString(int id);
// A text of our own that has no table id, in the UI language (both UTF-8).
QString uiText(const char* english, const char* japanese);
// Text `key` of dialog template `templateId` (see findDialogText for the keys).
QString resDialogText(int templateId, int key);

}  // namespace korvex
