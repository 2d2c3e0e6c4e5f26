#pragma once

#include <string>

namespace platform {

// Linux stand-ins for the shell's special folders. Each returns a path without a trailing '/',
// or an empty string when no such folder can be found.

// The user's "Personal" folder: XDG_DOCUMENTS_DIR (environment, then ~/.config/user-dirs.dirs),
// else ~/Documents when it exists, else the home folder.
std::string documentsFolder();
// The internet cache folder: XDG_CACHE_HOME, else ~/.cache.
std::string internetCacheFolder();
// The temp path: TMPDIR, else /tmp.
std::string tempPath();
// The home folder: HOME, else the password database.
std::string homeFolder();

}  // namespace platform
