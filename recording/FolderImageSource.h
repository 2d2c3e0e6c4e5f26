#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "recording/AuthenticityCheck.h"
#include "recording/ImageDecoder.h"
#include "recording/ImageSource.h"
#include "recording/InfoTable.h"
#include "recording/RecordingProbe.h"
#include "recording/TimeTable.h"

namespace korvex {

// A folder or file of a recording that could not be read (errno in `error`): what lies in it is
// missing from the index, or the frame could not be checked.
struct UnreadablePart {
    std::string path;
    int error = 0;
};

// One frame of the index. time, offsetMs and checkFlags fill in lazily when the frame is first
// shown (or its offset first asked for) and keep their values for the life of the index.
struct FrameRecord {
    std::int32_t checkFlags = -1;  // authenticity flags; -1 = not yet examined
    std::string path;
    std::int64_t time = 0;  // calendar time, 0 = none
    std::uint32_t offsetMs = 0;
    std::int32_t channel = -1;
    std::int32_t infoIndex = -1;
};

// Largest frame file the check reads (the decoders stop at kMaxFrameFileBytes).
inline constexpr long long kMaxCheckedFileBytes = 256ll * 1024 * 1024;

// A frame file read, decoded and checked apart from the index (FolderImageSource::readFrame).
struct FrameRead {
    DibBlock picture;      // empty when the file did not decode
    std::size_t size = 0;  // as loadCurrent gives it
    int readError = 0;     // errno when the file could not be read
    bool checked = false;  // the file was checked and `check` holds its result
    CheckResult check;
};

// The frame source over a recording folder: numbered picture files, flat or in subfolders, with
// the optional INFO index and time.txt.
//
// Index arguments outside the record array never fail hard: flagsAt gives -1, timeAt and offsetAt
// 0, pathAt and cameraTitle an empty string; the current-frame accessors behave the same when the
// current index is outside the array, and loadCurrent returns no picture. Navigation moves the
// current index without bounds (callers compare it with count()), saturating at the int range.
class FolderImageSource : public ImageSource {
public:
    // `kind` chooses the frame file pattern and the check variant. `cancelFlag`, when given, is
    // polled by the folder scan; another thread raises it to stop a running openFolder.
    explicit FolderImageSource(RecordingKind kind, const std::atomic<bool>* cancelFlag = nullptr);
    ~FolderImageSource() override;

    int openFolder(const std::string& path, int subfoldersOnly) override;
    DibBlock loadCurrent(std::size_t* outSize, int orderCheck) override;
    // loadCurrent in two steps, so that another thread can read ahead. readFrame reads, decodes
    // and (with `withCheck`) checks frame `i` without touching the index: another thread may
    // call it while the owner uses the source, until the owner opens another folder.
    // acceptFrame then does on the owner's thread what loadCurrent does with the current frame's
    // file: the check fills the frame's record when it has none yet.
    FrameRead readFrame(int i, bool withCheck, JpegPixels pixels) const;
    DibBlock acceptFrame(FrameRead read, std::size_t* outSize, int orderCheck);
    int forward(int n) override;
    int back(int n) override;
    int first() override;
    int last() override;
    int next() override;
    int previous() override;
    int setCurrent(int i) override;
    int findByOffset(std::uint32_t ms) override;
    int currentIndex() const override { return current_; }
    int count() const override { return static_cast<int>(records_.size()); }
    std::int32_t flagsAt(int i) const override;
    std::int32_t currentFlags() const override { return flagsAt(current_); }
    std::int64_t timeAt(int i) const override;
    std::int64_t currentTime() const override { return timeAt(current_); }
    std::uint32_t offsetAt(int i) override;
    int currentChannel() const override;
    bool hasChannel(int c) const override;
    int selectChannels(int c, int n, int* list) override;
    int firstFrameOf(int c) const override;
    int infoIndexOf(int i) const override;
    int nearestOfChannelBackward(int c, int i) const override;
    int nearestOfChannelForward(int c, int i) const override;
    int indexOfInfoIndex(int k) const override;
    std::string cameraTitle(int i) const override;
    int defaultChannel() const override;
    std::string pathAt(int i) const override;

    const RecordingKind& kind() const { return kind_; }
    const InfoTable& infoTable() const { return info_; }
    const TimeTable& timeTable() const { return timeTable_; }
    // The subfolders the last open scanned, in scan order.
    const std::vector<std::string>& subfolders() const { return subfolders_; }
    // Frame files the running (or last) openFolder has listed so far; any thread may read it
    // while the scan runs, for a progress display.
    long long filesFound() const { return filesFound_.load(std::memory_order_relaxed); }
    // The folders and files of the recording that the last openFolder could not read (a
    // subfolder whose frames are therefore missing, the INFO file, time.txt), in scan order.
    // Kept after a failed open too, so that the caller can say why.
    const std::vector<UnreadablePart>& unreadableParts() const { return unreadable_; }
    // errno of the last loadCurrent's read of its frame file; 0 when the file was read.
    int lastLoadError() const { return lastLoadError_; }

private:
    bool validIndex(int i) const { return i >= 0 && i < count(); }
    bool cancelled() const { return cancelFlag_ && cancelFlag_->load(std::memory_order_relaxed); }
    struct ScanEntry {
        std::uint32_t folder;  // index into scannedFolders_, later its rank in byte order
        std::string name;
    };
    // Appends the frame files of `folder` to `entries`; returns how many, -1 when cancelled.
    long long listFolder(const std::string& folder, const char* extension,
                         std::vector<ScanEntry>& entries);
    // What one pass over the recording folder itself finds.
    struct RecordingFolderScan {
        long long frames = 0;  // frame files appended (when asked for), -1 when cancelled
        std::vector<std::string> subfolders;
        std::string infoFolder;  // full path, empty when absent
        std::string timeFile;    // full path, empty when absent
    };
    // One pass over `folder`: its frame files when `withFrames` (appended to `entries`), its
    // subfolders, and the INFO folder and time.txt. Looking those two up on their own would
    // cost a pass each over a flat folder of many thousand frames.
    RecordingFolderScan scanRecordingFolder(const std::string& folder, const char* extension,
                                            bool withFrames, std::vector<ScanEntry>& entries);
    // Fills the path list from the scanned entries in byte order of the full paths.
    void buildSortedPaths(std::vector<ScanEntry>& entries);
    void clearIndex();
    void moveCurrent(long long delta);

    RecordingKind kind_;
    const std::atomic<bool>* cancelFlag_;
    TimeTable timeTable_;
    int current_ = -1;
    std::vector<std::string> paths_;
    InfoTable info_;
    std::vector<FrameRecord> records_;
    std::vector<std::string> subfolders_;
    std::vector<std::string> scannedFolders_;  // during openFolder only
    std::atomic<long long> filesFound_{0};
    std::vector<UnreadablePart> unreadable_;
    int lastLoadError_ = 0;
};

}  // namespace korvex
