#include "tools/verify/RecordingIndex.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/FileSystem.h"
#include "recording/manifest/Manifest.h"

namespace korvex::verify {

struct RecordingIndex::FolderScan {
    bool read = true;
    int error = 0;
    std::vector<std::string> subfolders;  // bare names
    std::vector<std::string> others;      // bare names of regular files that are no frame
    std::string infoFolder;               // bare name, empty when absent (top only)
    std::string timeFile;                 // bare name, empty when absent (top only)
    std::string manifest;                 // bare name, empty when absent (top only)
};

std::uint32_t RecordingIndex::addFolder(std::string path, std::string relative) {
    folders_.push_back({std::move(path), std::move(relative)});
    return static_cast<std::uint32_t>(folders_.size() - 1);
}

bool RecordingIndex::scan(std::uint32_t folder, bool withFrames, FolderScan& out) {
    struct Ctx {
        RecordingIndex* self;
        std::uint32_t folder;
        bool withFrames;
        bool top;
        FolderScan* out;
        platform::NoCaseMatch info{InfoTable::kFolderName};
        platform::NoCaseMatch time{TimeTable::kFileName};
        platform::NoCaseMatch manifest{manifest::kFileName};
    } ctx{this, folder, withFrames, folder == 0, &out};
    std::string path = folders_[folder].path;
    if (path.size() > 1)
        path.pop_back();  // the scan names the folder without its '/', as the viewer does
    out.read = platform::detail::scanFolder(
        path,
        [](void* p, const char* name, bool isDir, bool isReg) -> bool {
            auto* c = static_cast<Ctx*>(p);
            const std::string_view n(name);
            if (isDir) {
                c->out->subfolders.emplace_back(n);
                if (c->top)
                    c->info.offer(n);
            } else if (isReg) {
                if (c->withFrames && platform::hasExtensionNoCase(n, c->self->extension_)) {
                    RecordingIndex& self = *c->self;
                    const auto offset = static_cast<std::uint32_t>(self.names_.size());
                    self.names_.insert(self.names_.end(), n.begin(), n.end());
                    self.names_.push_back('\0');
                    self.frames_.push_back({c->folder, offset});
                } else {
                    if (c->top) {
                        c->time.offer(n);
                        c->manifest.offer(n);
                    }
                    if (c->self->listOthers_)
                        c->out->others.emplace_back(n);
                }
            }
            return true;
        },
        &ctx);
    out.error = out.read ? 0 : errno;
    out.infoFolder = ctx.info.result();
    out.timeFile = ctx.time.result();
    out.manifest = ctx.manifest.result();
    if (!out.read)
        unreadable_.push_back({path, out.error});
    return out.read;
}

void RecordingIndex::walkOthers(const std::string& path, const std::string& relative, int depth) {
    if (otherFiles_.size() >= kMaxOtherFiles)
        return;
    struct Ctx {
        std::vector<std::string> dirs;
        std::vector<std::string> files;
    } ctx;
    platform::detail::scanFolder(
        path,
        [](void* p, const char* name, bool isDir, bool isReg) -> bool {
            auto* c = static_cast<Ctx*>(p);
            if (isDir)
                c->dirs.emplace_back(name);
            else if (isReg)
                c->files.emplace_back(name);
            return true;
        },
        &ctx);
    for (const std::string& f : ctx.files) {
        if (otherFiles_.size() >= kMaxOtherFiles)
            return;
        otherFiles_.push_back(relative + f);
    }
    if (depth >= kMaxDepth)
        return;
    for (const std::string& d : ctx.dirs)
        walkOthers(platform::joinPath(path, d), relative + d + "/", depth + 1);
}

bool RecordingIndex::open(const std::string& folder, const RecordingKind& kind, bool subfoldersOnly,
                          bool listOtherFiles) {
    *this = RecordingIndex();
    kind_ = kind;
    listOthers_ = listOtherFiles;
    const char* extension = frameExtensionFor(kind);
    if (extension == nullptr)
        return false;
    extension_ = extension;

    addFolder(platform::joinPath(folder, ""), "");
    FolderScan top;
    scan(0, !subfoldersOnly, top);
    manifestName_ = top.manifest;
    for (const std::string& name : top.others) {
        if (name != manifestName_)
            otherFiles_.push_back(name);
    }
    std::vector<std::string> subfolders = top.subfolders;
    std::sort(subfolders.begin(), subfolders.end(), [](const std::string& a, const std::string& b) {
        const int c = platform::compareNoCase(a, b);
        return c != 0 ? c < 0 : a < b;
    });
    if (frames_.empty()) {
        // As the viewer: the pictures are in the subfolders, and the first must hold some.
        for (std::size_t i = 0; i < subfolders.size(); ++i) {
            const std::string path = platform::joinPath(folder, subfolders[i]);
            const std::size_t before = frames_.size();
            const std::uint32_t index =
                addFolder(platform::joinPath(path, ""), subfolders[i] + "/");
            FolderScan sub;
            scan(index, true, sub);
            if (frames_.size() == before && i == 0) {
                frames_.clear();
                return false;
            }
            for (const std::string& name : sub.others)
                otherFiles_.push_back(subfolders[i] + "/" + name);
            if (listOthers_) {
                for (const std::string& d : sub.subfolders)
                    walkOthers(platform::joinPath(path, d), subfolders[i] + "/" + d + "/", 2);
            }
        }
    } else if (listOthers_) {
        for (const std::string& d : subfolders)
            walkOthers(platform::joinPath(folder, d), d + "/", 1);
    }
    if (frames_.empty())
        return false;

    // The viewer orders the full paths by their bytes; the folders of one index are the
    // recording folder alone or its direct subfolders, so ranking the folders and then the bare
    // names gives that order.
    std::vector<std::uint32_t> rank(folders_.size());
    {
        std::vector<std::uint32_t> byPath(folders_.size());
        for (std::uint32_t i = 0; i < byPath.size(); ++i)
            byPath[i] = i;
        std::sort(byPath.begin(), byPath.end(), [&](std::uint32_t a, std::uint32_t b) {
            return folders_[a].path < folders_[b].path;
        });
        for (std::uint32_t r = 0; r < byPath.size(); ++r)
            rank[byPath[r]] = r;
    }
    const char* names = names_.data();
    std::sort(frames_.begin(), frames_.end(), [&](const FrameRef& a, const FrameRef& b) {
        if (a.folder != b.folder)
            return rank[a.folder] < rank[b.folder];
        return std::strcmp(names + a.name, names + b.name) < 0;
    });
    frames_.shrink_to_fit();
    names_.shrink_to_fit();
    std::sort(otherFiles_.begin(), otherFiles_.end());

    if (!top.infoFolder.empty()) {
        const std::string infoFile =
            InfoTable::findInfoFileIn(platform::joinPath(folder, top.infoFolder));
        if (!infoFile.empty()) {
            int error = 0;
            if (!info_.load(infoFile, &error) && error != 0)
                unreadable_.push_back({infoFile, error});
        }
    }
    if (info_.loaded() && static_cast<std::size_t>(info_.recordCount()) != frames_.size())
        info_.clear();
    if (!top.timeFile.empty()) {
        const std::string timeFile = platform::joinPath(folder, top.timeFile);
        if (!timeTable_.load(timeFile))
            unreadable_.push_back({timeFile, errno});
    }
    return true;
}

std::string RecordingIndex::pathOf(std::size_t i) const {
    std::string path = folderOf(i).path;
    path.append(nameOf(i));
    return path;
}

std::string RecordingIndex::relativeOf(std::size_t i) const {
    std::string path = folderOf(i).relative;
    path.append(nameOf(i));
    return path;
}

bool RecordingIndex::relativeIs(std::size_t i, std::string_view relative, bool ignoreCase) const {
    const std::string& prefix = folderOf(i).relative;
    const std::string_view name = nameOf(i);
    if (relative.size() != prefix.size() + name.size())
        return false;
    const std::string_view head = relative.substr(0, prefix.size());
    const std::string_view tail = relative.substr(prefix.size());
    if (ignoreCase)
        return platform::equalsNoCase(head, prefix) && platform::equalsNoCase(tail, name);
    return head == prefix && tail == name;
}

}  // namespace korvex::verify
