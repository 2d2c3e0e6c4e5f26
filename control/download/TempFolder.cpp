#include "control/download/TempFolder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <mutex>

#include "control/buffers/PicvoxLog.h"
#include "platform/UserFolders.h"

namespace picvox {

namespace {

constexpr const char* kEnvironmentName = "DOWNLOAD_TEMP";
constexpr const char* kShellFoldersKey =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders\\";

// The remembered cache folder is process-wide by design: chosen by the first call after load or
// after CleanInetTempFolder, then handed to every fetch of the process. This record is its only
// owner. Start and Stop (page thread) never overlap the download thread's use, but the lock keeps
// that from being something the folder's correctness depends on.
struct RememberedFolder {
    std::mutex lock;
    std::optional<std::string> folder;
};

RememberedFolder& remembered() {
    static RememberedFolder state;
    return state;
}

std::optional<std::string> nonEmpty(std::string value) {
    if (value.empty())
        return std::nullopt;
    return value;
}

void removeOneTrailingSeparator(std::string& folder) {
    if (folder.size() > 1 && folder.back() == '/')
        folder.pop_back();
}

}  // namespace

TempFolderSources DefaultTempFolderSources() {
    TempFolderSources sources;
    sources.environment = [](const char* name) -> std::optional<std::string> {
        const char* value = std::getenv(name);
        if (!value)
            return std::nullopt;
        return std::string(value);
    };
    sources.specialFolder = []() -> std::optional<std::string> {
        // The user's cache folder always exists where this rule comes from; a fresh account
        // may not have it yet. Made private to the user, so the choice never falls through to
        // the shared temp folder for that reason alone.
        const std::string folder = platform::internetCacheFolder();
        std::error_code ignored;
        if (!folder.empty() && std::filesystem::create_directories(folder, ignored))
            ::chmod(folder.c_str(), 0700);
        return nonEmpty(folder);
    };
    sources.registryCache = []() -> std::optional<std::string> { return std::nullopt; };
    sources.tempPath = [] { return nonEmpty(platform::tempPath()); };
    sources.osGeneration = [] { return GetOsGeneration(); };
    return sources;
}

int CheckFileWrite(std::string& folder) {
    removeOneTrailingSeparator(folder);
    const std::string path = folder + "/test.0";
    // An empty candidate would name the file-system root; it never counts as writable.
    const int fd =
        folder.empty() ? -1 : ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        WriteLog(LogTag::HttpThread, "CheckFileWrite 一時フォルダ書き込み失敗 NAME='%s'",
                 path.c_str());
        return 0;
    }
    ::close(fd);
    ::unlink(path.c_str());
    return 1;
}

int GetOsGeneration() {
    utsname names{};
    int major = 0;
    int minor = 0;
    if (::uname(&names) != 0 || std::sscanf(names.release, "%d.%d", &major, &minor) != 2) {
        WriteLog(LogTag::HttpThread, "OS Ver. UNKOWN");
        return -1;
    }
    if (major < 3) {
        WriteLog(LogTag::HttpThread, "OS Ver. %d.%d  before XP", major, minor);
        return 1;
    }
    WriteLog(LogTag::HttpThread, "OS Ver. %d.%d  Vista or later", major, minor);
    return 2;
}

std::optional<std::string> GetInetTempFolder() {
    return GetInetTempFolder(DefaultTempFolderSources());
}

std::optional<std::string> GetInetTempFolder(const TempFolderSources& sources) {
    RememberedFolder& state = remembered();
    std::lock_guard<std::mutex> guard(state.lock);
    if (state.folder) {
        WriteLog(LogTag::HttpThread, "InetTempFolder (return save) %s", state.folder->c_str());
        return state.folder;
    }

    std::optional<std::string> fromEnvironment;
    try {
        std::optional<std::string> value =
            sources.environment ? sources.environment(kEnvironmentName) : std::nullopt;
        if (!value) {
            WriteLog(LogTag::HttpThread, "GetInetTempFolder no define '%s'", kEnvironmentName);
        } else {
            WriteLog(LogTag::HttpThread, "GetInetTempFolder '%s'=%s", kEnvironmentName,
                     value->c_str());
            if (CheckFileWrite(*value)) {
                fromEnvironment = std::move(value);
            } else {
                WriteLog(LogTag::HttpThread, "GetInetTempFolder Can't write");
            }
        }
    } catch (const std::bad_alloc&) {
        WriteLog(LogTag::HttpThread, "GetInetTempFolder memory error '%s'", kEnvironmentName);
    } catch (...) {
        WriteLog(LogTag::HttpThread, "GetInetTempFolder environment variable ERROR");
    }

    std::optional<std::string> fromSpecialFolder;
    try {
        if (std::optional<std::string> value =
                sources.specialFolder ? sources.specialFolder() : std::nullopt) {
            WriteLog(LogTag::HttpThread, "GetInetTempFolder (SHGetFolderPath) : %s",
                     value->c_str());
            if (CheckFileWrite(*value)) {
                fromSpecialFolder = std::move(value);
            } else {
                WriteLog(LogTag::HttpThread, "GetInetTempFolder Can't write");
            }
        }
    } catch (...) {
        WriteLog(LogTag::HttpThread, "GetInetTempFolder SHGetSpecialFolderPath ERROR");
    }

    std::optional<std::string> fromRegistry;
    try {
        if (std::optional<std::string> value =
                sources.registryCache ? sources.registryCache() : std::nullopt) {
            WriteLog(LogTag::HttpThread, "GetInetTempFolder Check Registory Key %sCache",
                     kShellFoldersKey);
            WriteLog(LogTag::HttpThread, "GetInetTempFolder (Registory Cache) : %s",
                     value->c_str());
            if (CheckFileWrite(*value)) {
                fromRegistry = std::move(value);
            } else {
                WriteLog(LogTag::HttpThread, "GetInetTempFolder Can't write");
            }
        }
    } catch (...) {
        WriteLog(LogTag::HttpThread, "GetInetTempFolder Registroy ERROR");
    }

    std::optional<std::string> fromTempPath;
    try {
        if (std::optional<std::string> value =
                sources.tempPath ? sources.tempPath() : std::nullopt) {
            WriteLog(LogTag::HttpThread, "GetInetTempFolder (GetTempPath) : %s", value->c_str());
            if (CheckFileWrite(*value)) {
                fromTempPath = std::move(value);
            } else {
                WriteLog(LogTag::HttpThread, "GetInetTempFolder Can't write");
            }
        }
    } catch (...) {
        WriteLog(LogTag::HttpThread, "GetInetTempFolder GetTempPath ERROR");
    }

    std::optional<std::string> choice;
    if (fromEnvironment) {
        WriteLog(LogTag::HttpThread, "GetInetTempFolder selected '%s' : %s", kEnvironmentName,
                 fromEnvironment->c_str());
        choice = std::move(fromEnvironment);
    } else {
        // The special folder belongs to the newer systems and the registry value to the older
        // ones, whatever else was gathered.
        const int generation = sources.osGeneration ? sources.osGeneration() : -1;
        if (generation == 2 && fromSpecialFolder) {
            WriteLog(LogTag::HttpThread, "GetInetTempFolder selected SHGetSpecialFolder : %s",
                     fromSpecialFolder->c_str());
            choice = std::move(fromSpecialFolder);
        } else if (generation != 2 && fromRegistry) {
            WriteLog(LogTag::HttpThread, "GetInetTempFolder selected Registory : %s",
                     fromRegistry->c_str());
            choice = std::move(fromRegistry);
        } else if (fromTempPath) {
            WriteLog(LogTag::HttpThread, "GetInetTempFolder selected GetTempPath : %s",
                     fromTempPath->c_str());
            choice = std::move(fromTempPath);
        }
    }
    if (!choice)
        return std::nullopt;
    removeOneTrailingSeparator(*choice);
    try {
        state.folder = *choice;
    } catch (const std::bad_alloc&) {
        WriteLog(LogTag::HttpThread, "GetInetTempFolder malloc ERROR");
    }
    return choice;
}

void CleanInetTempFolder() {
    RememberedFolder& state = remembered();
    std::lock_guard<std::mutex> guard(state.lock);
    state.folder.reset();
    WriteLog(LogTag::HttpThread, "CLEAN Inet Temp Folder");
}

std::string FallbackCacheFolder() {
    std::string base = platform::internetCacheFolder();
    if (base.empty())
        base = platform::tempPath();
    return base + "/DVRCache";
}

}  // namespace picvox
