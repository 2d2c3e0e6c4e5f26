#include "tools/verify/ManifestCheck.h"

#include <algorithm>

#include "platform/FileSystem.h"

namespace korvex::verify {

namespace {

// FNV-1a over the lower-cased bytes, so that both look-ups share one table.
std::uint64_t hashNoCase(std::string_view a, std::string_view b = {}) {
    std::uint64_t h = 1469598103934665603ull;
    for (const std::string_view part : {a, b}) {
        for (const char c : part) {
            const char lower = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
            h = (h ^ static_cast<std::uint8_t>(lower)) * 1099511628211ull;
        }
    }
    return h;
}

}  // namespace

std::size_t ManifestCheck::slotOf(std::string_view path) const {
    return static_cast<std::size_t>(hashNoCase(path)) & (table_.size() - 1);
}

bool ManifestCheck::lookUpFrame(const RecordingIndex& index, std::string_view path,
                                std::size_t& frame) const {
    if (table_.empty())
        return false;
    bool foundNoCase = false;
    std::size_t noCase = 0;
    for (std::size_t s = slotOf(path);; s = (s + 1) & (table_.size() - 1)) {
        const std::uint32_t v = table_[s];
        if (v == 0)
            break;
        const std::size_t i = v - 1;
        if (index.relativeIs(i, path, false)) {
            frame = i;
            return true;
        }
        if (!foundNoCase && index.relativeIs(i, path, true)) {
            foundNoCase = true;
            noCase = i;
        }
    }
    frame = noCase;
    return foundNoCase;
}

bool ManifestCheck::load(const std::string& folder, const RecordingIndex& index, int& error) {
    error = 0;
    fileName_ = index.manifestName();
    if (fileName_.empty())
        return true;
    manifest::Reader reader;
    error = reader.open(platform::joinPath(folder, fileName_));
    if (error != 0)
        return false;
    present_ = true;

    // A table twice the frames' size keeps the probes short.
    const std::size_t n = index.count();
    std::size_t size = 2;
    while (size < 2 * n)
        size *= 2;
    table_.assign(size, 0);
    for (std::size_t i = 0; i < n; ++i) {
        const RecordingIndex::Folder& f = index.folderOf(i);
        std::size_t s =
            static_cast<std::size_t>(hashNoCase(f.relative, index.nameOf(i))) & (size - 1);
        while (table_[s] != 0)
            s = (s + 1) & (size - 1);
        table_[s] = static_cast<std::uint32_t>(i + 1);
    }
    frames_.digest.assign(n, Sha256Digest{});
    frames_.listed.assign(n, 0);

    std::unordered_map<std::string, std::size_t> byPath;
    manifest::Entry e;
    while (reader.next(e)) {
        std::size_t frame = 0;
        if (lookUpFrame(index, e.path, frame)) {
            listsFrames_ = true;
            std::uint8_t& listed = frames_.listed[frame];
            if (listed == 0) {
                frames_.digest[frame] = e.digest;
                listed = 1;
            } else if (frames_.digest[frame] != e.digest) {
                listed = 2;  // two lines that cannot both be true
            }
            continue;
        }
        const auto [it, added] = byPath.emplace(e.path, others_.size());
        if (added) {
            others_.push_back({e, 0, false});
        } else if (others_[it->second].entry.digest != e.digest) {
            others_[it->second].conflicting = true;
        }
    }
    table_ = {};  // only the load looks frames up by name
    if (reader.error() != 0) {
        error = reader.error();
        present_ = false;
        return false;
    }
    unparsed_ = reader.malformed() + reader.outside() + (reader.tooLong() ? 1 : 0);
    cutShort_ = reader.cutShort();
    return true;
}

void ManifestCheck::frameChecked(std::size_t i, ManifestState state) {
    const auto n = static_cast<std::uint32_t>(i);
    switch (state) {
        case ManifestState::Matched:
            ++framesMatched_;
            break;
        case ManifestState::Changed:
            framesChanged_.push_back(n);
            break;
        case ManifestState::Unlisted:
            framesAdded_.push_back(n);
            break;
        case ManifestState::Unreadable:
            framesUnreadable_.push_back(n);
            break;
        case ManifestState::None:
            break;
    }
}

void ManifestCheck::checkOtherFiles(const std::string& folder, const RecordingIndex& index,
                                    const std::atomic<bool>* cancel) {
    if (!present_)
        return;
    std::unordered_map<std::string, std::size_t> exact, noCase;
    for (std::size_t k = 0; k < others_.size(); ++k) {
        exact.emplace(others_[k].entry.path, k);
        noCase.emplace(platform::asciiLower(others_[k].entry.path), k);
    }
    Sha256 hasher;
    std::vector<std::uint8_t> buffer;
    for (const std::string& file : index.otherFiles()) {
        if (cancel && cancel->load(std::memory_order_relaxed))
            return;
        std::size_t k = others_.size();
        if (const auto it = exact.find(file); it != exact.end() && others_[it->second].state == 0) {
            k = it->second;
        } else if (const auto low = noCase.find(platform::asciiLower(file));
                   low != noCase.end() && others_[low->second].state == 0) {
            k = low->second;
        }
        if (k == others_.size()) {
            othersAdded_.push_back(file);
            continue;
        }
        Other& other = others_[k];
        Sha256Digest digest{};
        if (sha256File(platform::joinPath(folder, file), digest, buffer, hasher) != 0)
            other.state = 3;
        else
            other.state = digest == other.entry.digest && !other.conflicting ? 1 : 2;
    }
}

ManifestSummary ManifestCheck::finish(const RecordingIndex& index,
                                      const std::string& soundRelative) {
    ManifestSummary m;
    m.present = present_;
    if (!present_)
        return m;
    m.file = fileName_;
    m.matched = static_cast<long long>(framesMatched_);
    m.unparsed = static_cast<long long>(unparsed_);
    for (const std::uint32_t i : framesChanged_)
        m.changedFiles.push_back(index.relativeOf(i));
    for (const std::uint32_t i : framesUnreadable_)
        m.unreadableFiles.push_back(index.relativeOf(i));
    for (const std::uint32_t i : framesAdded_)
        m.addedFiles.push_back(index.relativeOf(i));
    bool soundListed = false;
    for (const Other& o : others_) {
        if (!soundRelative.empty() && platform::equalsNoCase(o.entry.path, soundRelative))
            soundListed = true;
        switch (o.state) {
            case 0:
                m.missingFiles.push_back(o.entry.path);
                break;
            case 1:
                ++m.matched;
                break;
            case 2:
                m.changedFiles.push_back(o.entry.path);
                break;
            default:
                m.unreadableFiles.push_back(o.entry.path);
                break;
        }
    }
    m.addedFiles.insert(m.addedFiles.end(), othersAdded_.begin(), othersAdded_.end());
    std::sort(m.changedFiles.begin(), m.changedFiles.end());
    std::sort(m.missingFiles.begin(), m.missingFiles.end());
    std::sort(m.addedFiles.begin(), m.addedFiles.end());
    std::sort(m.unreadableFiles.begin(), m.unreadableFiles.end());
    m.changed = static_cast<long long>(m.changedFiles.size());
    m.missing = static_cast<long long>(m.missingFiles.size());
    m.added = static_cast<long long>(m.addedFiles.size());
    m.unreadable = static_cast<long long>(m.unreadableFiles.size());
    // A saving run lists its sound when it has finished, so frames without it (or a last line
    // cut short) tell a run that did not complete.
    m.incomplete = cutShort_ || (listsFrames_ && !soundRelative.empty() && !soundListed);
    return m;
}

}  // namespace korvex::verify
