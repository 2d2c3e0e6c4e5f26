#pragma once

#include <optional>
#include <string>

#include "control/run/PagePort.h"

namespace picvox::run {

// Where the last chosen save folder is remembered in the per-user store.
inline constexpr const char* kDestFolderKey = "Software\\Kalmo\\Tessaly\\";
inline constexpr const char* kDestFolderValue = "DestFolder";
// A remembered folder this long or longer is not preselected (the value's buffer size).
inline constexpr std::size_t kDestFolderBytes = 260;

// The folder-choice step of Start: asks the user for a save folder, starting at the remembered
// one; remembers the choice in the store at `storePath` and shows it (one trailing separator
// removed) in the page element named `inputName`. Returns that shown text, or nothing when the
// user cancelled. Store failures are logged and do not stop the choice.
std::optional<std::string> ChooseSaveFolder(PagePort& page, const std::string& inputName,
                                            const std::string& storePath);

// `folder` without one trailing "/" or "\" ("/" itself becomes empty, as "C:\" became "C:").
std::string WithoutTrailingSeparator(std::string folder);

}  // namespace picvox::run
