#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "recording/FolderImageSource.h"
#include "recording/InfoTable.h"
#include "recording/RecordingProbe.h"
#include "recording/TimeTable.h"

namespace korvex::verify {

// The frame index of a recording exactly as the viewer's FolderImageSource builds it (the same
// folders scanned, the same order, the same INFO and time.txt rules), held compactly: a
// recording of a million frames takes about 21 bytes a frame (the bare names in one block, a
// folder number and a name offset each) where the viewer's records take well over a hundred.
// Optionally it also lists every other file of the folder tree, for the manifest.
class RecordingIndex {
public:
    struct Folder {
        std::string path;      // full path with a trailing '/'
        std::string relative;  // path inside the recording with a trailing '/', "" for the top
    };

    // Scans `folder` as FolderImageSource::openFolder(folder, subfoldersOnly) would. With
    // `listOtherFiles`, every regular file under the folder that is no frame of the index is
    // listed too (at most kMaxDepth levels down, without following links into loops).
    // False when the viewer's open would fail (unreadable parts are kept for the message).
    bool open(const std::string& folder, const RecordingKind& kind, bool subfoldersOnly,
              bool listOtherFiles);

    std::size_t count() const { return frames_.size(); }
    const Folder& folderOf(std::size_t i) const { return folders_[frames_[i].folder]; }
    std::uint32_t folderNumberOf(std::size_t i) const { return frames_[i].folder; }
    std::string_view nameOf(std::size_t i) const { return names_.data() + frames_[i].name; }
    std::string pathOf(std::size_t i) const;
    std::string relativeOf(std::size_t i) const;
    // Whether frame i's path inside the recording is `relative` (bytes, or ignoring case).
    bool relativeIs(std::size_t i, std::string_view relative, bool ignoreCase) const;

    const RecordingKind& kind() const { return kind_; }
    const InfoTable& info() const { return info_; }
    const TimeTable& timeTable() const { return timeTable_; }
    const std::vector<UnreadablePart>& unreadable() const { return unreadable_; }
    // Paths inside the recording of the files that are no frame, in byte order.
    const std::vector<std::string>& otherFiles() const { return otherFiles_; }
    // The manifest's spelling found in the recording folder, empty when there is none.
    const std::string& manifestName() const { return manifestName_; }

    static constexpr int kMaxDepth = 8;
    // A folder tree with more entries than this is not walked further for other files.
    static constexpr std::size_t kMaxOtherFiles = 4u * 1024 * 1024;

private:
    struct FrameRef {
        std::uint32_t folder;
        std::uint32_t name;  // offset of the NUL-terminated name in names_
    };
    struct FolderScan;
    bool scan(std::uint32_t folder, bool withFrames, FolderScan& out);
    void walkOthers(const std::string& path, const std::string& relative, int depth);
    std::uint32_t addFolder(std::string path, std::string relative);

    RecordingKind kind_;
    std::string extension_;
    std::vector<Folder> folders_;
    std::vector<char> names_;
    std::vector<FrameRef> frames_;
    InfoTable info_;
    TimeTable timeTable_;
    std::vector<UnreadablePart> unreadable_;
    std::vector<std::string> otherFiles_;
    std::string manifestName_;
    bool listOthers_ = false;
};

}  // namespace korvex::verify
