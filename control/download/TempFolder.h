#pragma once

#include <functional>
#include <optional>
#include <string>

namespace picvox {

// Where the candidates of the control's cache folder come from. Each gives no value when its
// source has none. The defaults are the Linux stand-ins:
// - environment: getenv;
// - specialFolder: the internet cache folder (XDG_CACHE_HOME, else ~/.cache);
// - registryCache: the "Cache" value of the shell-folder key. Linux keeps no such key, so the
//   default gives none, as Windows does when the value is missing;
// - tempPath: TMPDIR, else /tmp;
// - osGeneration: GetOsGeneration.
struct TempFolderSources {
    std::function<std::optional<std::string>(const char* name)> environment;
    std::function<std::optional<std::string>()> specialFolder;
    std::function<std::optional<std::string>()> registryCache;
    std::function<std::optional<std::string>()> tempPath;
    std::function<int()> osGeneration;
};
TempFolderSources DefaultTempFolderSources();

// Chooses the cache folder once and remembers it until CleanInetTempFolder; later calls return
// the remembered folder unchecked. The result has no trailing '/'. No value when the chosen rule
// has no candidate left (the caller then falls back to FallbackCacheFolder()).
std::optional<std::string> GetInetTempFolder();
std::optional<std::string> GetInetTempFolder(const TempFolderSources& sources);
// Forgets the remembered folder.
void CleanInetTempFolder();

// 1 when a file can be created in `folder`, else 0. Removes one trailing '/' from `folder`.
int CheckFileWrite(std::string& folder);

// The system generation that decides between the special folder and the registry value:
// 2 for a Linux kernel of major version 3 or more (today's systems, which have the XDG cache
// folder), 1 below 3, -1 when the version cannot be read.
int GetOsGeneration();

// Stands in for "C:\DVRCache": the internet cache folder + "/DVRCache".
std::string FallbackCacheFolder();

}  // namespace picvox
