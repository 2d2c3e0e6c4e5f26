#pragma once

#include <string>

#include "viewer/playback/core/OpenOutcome.h"
#include "viewer/resources/StringTable.h"

namespace korvex {

// The status bar's note on how an open of `folder` ended, in `language`; empty when there is
// nothing to say (opened, or cancelled by the user). The command line prints the same text.
std::string openOutcomeText(Language language, OpenOutcome outcome, const std::string& folder);

// The standing note while the open recording's sound track plays unheard (no sound device).
std::string soundNotHeardText(Language language);

// The confirmation of a saved frame file.
std::string savedText(Language language, const std::string& path);

// The confirmation of a print job handed to `destination` (a printer's name or a file).
std::string printedText(Language language, const std::string& jobName,
                        const std::string& destination);

}  // namespace korvex
