#include "control/download/RecordingSaver.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "control/buffers/PicvoxLog.h"
#include "control/download/CacheSlots.h"
#include "control/download/J2kFrameCheck.h"
#include "platform/FileSystem.h"
#include "recording/RecordingNames.h"

namespace picvox {

namespace {

constexpr int kMaxRunNumber = 99999;

DiskOps& diskOf(const HttpThreadParams& params) {
    return params.save.disk ? *params.save.disk : RealDisk();
}

// 0 created or already there, else the errno value.
int makeFolder(DiskOps& disk, const std::string& path) {
    if (disk.mkdir(path) == 0)
        return 0;
    const int error = errno;
    return error == EEXIST && platform::isDirectory(path) ? 0 : error;
}

const char* reasonFor(int error) {
    return IsDiskFull(error) ? "ディスクフル" : "ディスクエラー";
}

SaveResult resultFor(int error) {
    return IsDiskFull(error) ? SaveResult::DiskFull : SaveResult::Error;
}

// Creates each missing level of `path` from the top, stopping at the first that cannot be made.
void createLevels(DiskOps& disk, const std::string& path) {
    for (std::size_t at = path.find('/', 1);; at = path.find('/', at + 1)) {
        const std::string level = path.substr(0, at);
        if (!level.empty() && !platform::isDirectory(level) && makeFolder(disk, level) != 0)
            return;
        if (at == std::string::npos)
            return;
    }
}

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

}  // namespace

SaveResult CreateSaveRunFolder(std::string& destination, int& runNumber, const std::string& model,
                               DiskOps& disk) {
    std::string folder = destination;
    if (!platform::isDirectory(folder) && makeFolder(disk, folder) != 0)
        createLevels(disk, folder);

    int highest = 0;
    int listError = 0;
    if (platform::isDirectory(folder)) {
        if (folder.empty() || folder.back() != '/')
            folder += '/';
        destination = folder;
        // Run folders are the model and five digits. The digits are taken after the model, so a
        // model of another length still numbers its runs instead of reusing the first folder.
        std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(folder.c_str()), ::closedir);
        if (!dir) {
            listError = errno;
        } else {
            while (const dirent* entry = ::readdir(dir.get())) {
                const std::string_view name = entry->d_name;
                if (name.size() != model.size() + 5 ||
                    !platform::equalsNoCase(name.substr(0, model.size()), model)) {
                    continue;
                }
                int number = 0;
                bool digits = true;
                for (char c : name.substr(model.size())) {
                    digits = digits && isDigit(c);
                    number = number * 10 + (c - '0');
                }
                if (digits && number > highest)
                    highest = number;
            }
        }
    } else {
        listError = ENOENT;
    }
    if (listError != 0 && listError != ENOENT && listError != ENOTDIR) {
        WriteLog(LogTag::MainProcess, "フォルダー名取得FindFirst失敗 code=%d", listError);
        return SaveResult::Error;
    }
    if (highest >= kMaxRunNumber) {
        WriteLog(LogTag::MainProcess, "IMG99999フォルダー存在");
        return SaveResult::Error;
    }
    // mkdir refuses a name that exists: a folder made meanwhile under the number found (by
    // another control saving here) is not shared, the next number is tried.
    for (int number = highest + 1;; ++number) {
        if (number > kMaxRunNumber) {
            WriteLog(LogTag::MainProcess, "IMG99999フォルダー存在");
            return SaveResult::Error;
        }
        char digits[16];
        std::snprintf(digits, sizeof digits, "%05d", number);
        if (!folder.empty() && folder.back() != '/')
            folder += '/';
        destination = folder + model + digits;
        if (disk.mkdir(destination) == 0) {
            runNumber = number;
            // The run folder's entry reaches the disk with the destination.
            (void)disk.syncDirectory(folder);
            return SaveResult::None;
        }
        const int error = errno;
        if (error == EEXIST)
            continue;
        WriteLog(LogTag::MainProcess, "保存用親ディレクトリ作成失敗 %s %s", folder.c_str(),
                 reasonFor(error));
        return resultFor(error);
    }
}

SaveResult CreateImageFolder(std::string& path, HttpThreadParams& params, int number) {
    path = params.save.folder + "/" + korvex::frameFolderName(number);
    const int error = makeFolder(diskOf(params), path);
    if (error == 0) {
        params.progress.folderSync.folderMade(params.save.folder, diskOf(params));
        return SaveResult::None;
    }
    WriteLog(LogTag::HttpThread, "保存用ディレクトリ作成失敗 %s %s", path.c_str(),
             reasonFor(error));
    return resultFor(error);
}

int SaveFrame(HttpThreadParams& params, int proceed, const std::string& frameFolder, bool direct,
              int& savedCount, int& pictureSlot, const std::string& sourcePath) {
    if (proceed == 0 || frameFolder.empty())
        return proceed;
    const std::string source =
        direct ? sourcePath : PictureSlotPath(params.cache.folder, pictureSlot);
    // Whether the frame has a time is the check's verdict; the text only shows it.
    korvex::CheckResult check;
    const bool hasTime = CheckJ2kFile(source, check) && FrameHasTime(check);
    params.progress.detailText =
        hasTime ? FormatAbsoluteTime(check.time, params.save.timestampOrder, params.save.delimiter)
                : std::string();
    if (!hasTime) {
        WriteLog(LogTag::HttpThread, "AbsTime: 0   %s", source.c_str());
        if (!direct)
            pictureSlot = NextSlot(pictureSlot);
        return 1;
    }
    if (!params.progress.beginLogged) {
        WriteJ2kErrLog("----- download begin Date %s", params.progress.detailText.c_str());
        params.progress.beginLogged = true;
    }
    const std::string target = frameFolder + "/" + korvex::frameFileName(savedCount + 1);
    const int error = CopyFileWhole(source, target, diskOf(params));
    if (error == 0) {
        ++savedCount;
        ++params.progress.savedFrames;
        params.progress.folderSync.renamed(frameFolder, diskOf(params));
        if (!direct)
            pictureSlot = NextSlot(pictureSlot);
        WriteLog(LogTag::HttpThread, "Copy !! %s <- %s", target.c_str(), source.c_str());
        return 1;
    }
    const char* reason = "ディスクエラー";
    int outcome = 0;
    if (IsDiskFull(error)) {
        params.progress.result = SaveResult::DiskFull;
        reason = "ディスクフル";
    } else if (error == EEXIST) {
        outcome = 1;
    } else {
        params.progress.result = SaveResult::Error;
    }
    WriteLog(LogTag::HttpThread, "イメージファイルコピー失敗 %s %s(%d)", target.c_str(), reason,
             error);
    return outcome;
}

int MakeInfName(std::string& path, HttpThreadParams& params) {
    const std::string folder = params.save.folder + "/" + korvex::kInfoFolderName;
    if (!platform::isDirectory(folder)) {
        const int error = makeFolder(diskOf(params), folder);
        if (error != 0) {
            params.progress.result = resultFor(error);
            WriteLog(LogTag::HttpThread, "保存用ディレクトリ作成失敗 %s %s", folder.c_str(),
                     reasonFor(error));
            return 0;
        }
    }
    char number[16];
    std::snprintf(number, sizeof number, "%05d", params.save.runNumber);
    path = folder + "/" + params.save.model + number + ".INF";
    return 1;
}

void CheckEmpFolder(const std::string& runFolder) {
    WriteLog(LogTag::MainProcess, "CheckEmpFolder : %s", runFolder.c_str());
    if (::rmdir(runFolder.c_str()) == 0)
        return;
    const std::string first = runFolder + "/" + korvex::kFirstFrameFolder;
    if (::rmdir(first.c_str()) != 0) {
        WriteLog(LogTag::MainProcess, "%s", std::strerror(errno));
        return;
    }
    WriteLog(LogTag::MainProcess, "CheckEmpFolder : フォルダ消去　%s", first.c_str());
    if (::rmdir(runFolder.c_str()) == 0) {
        WriteLog(LogTag::MainProcess, "CheckEmpFolder : フォルダ消去　%s", runFolder.c_str());
    } else {
        WriteLog(LogTag::MainProcess, "%s", std::strerror(errno));
    }
}

}  // namespace picvox
