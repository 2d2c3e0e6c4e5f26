#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "recording/manifest/Sha256.h"

namespace korvex::manifest {

// The manifest of a recording folder: one line per file in the format of coreutils' sha256sum
// (hex digest, two spaces, the path relative to the folder), so that `sha256sum -c SHA256SUMS`
// checks it without our programs. Neither the viewer's probe nor its index looks at it.
inline constexpr std::string_view kFileName = "SHA256SUMS";

// A manifest comes from the medium like everything else: lines and entries are bounded.
inline constexpr std::size_t kMaxLineBytes = 8192;
inline constexpr std::size_t kMaxPathBytes = 4096;
inline constexpr std::size_t kMaxEntries = 32u * 1024 * 1024;

// The line for `relativePath` with its end. A name holding a backslash, a line feed or a carriage
// return is written as sha256sum writes it: the line starts with a backslash and those characters
// read \\, \n and \r.
std::string formatLine(const Sha256Digest& digest, std::string_view relativePath);

struct Entry {
    Sha256Digest digest{};
    std::string path;  // relative to the folder, "./" and doubled slashes taken out
};

enum class LineKind {
    Entry,      // a digest and a path inside the folder
    Blank,      // nothing but white space
    Malformed,  // not a line of the format
    Outside,    // a well-formed line whose path is absolute or climbs out with ".."
};

// One line without its line feed (a carriage return before it is dropped, as files edited on
// other systems have one). Accepts both of sha256sum's separators ("  " and " *").
LineKind parseLine(std::string_view line, Entry& entry);

// The normal form of a relative path: "./" parts and doubled slashes dropped. Empty when the path
// is absolute, climbs with "..", holds a NUL or is longer than kMaxPathBytes.
std::string normalisePath(std::string_view path);

// Reads a manifest file line by line without holding it.
class Reader {
public:
    Reader() = default;
    ~Reader();
    Reader(const Reader&) = delete;
    Reader& operator=(const Reader&) = delete;

    // 0, or the errno value of the open. The counts start afresh.
    int open(const std::string& path);
    // The next entry; false at the end (or a read error: error() then tells). Lines that are no
    // entry are counted, not returned.
    bool next(Entry& entry);

    std::size_t malformed() const { return malformed_; }
    std::size_t outside() const { return outside_; }
    // The file ends inside a line that is no entry: a manifest cut off while its last line was
    // written, which says the saving ended early, not that anything was changed.
    bool cutShort() const { return cutShort_; }
    // More lines than kMaxEntries: the rest was not read.
    bool tooLong() const { return tooLong_; }
    int error() const { return error_; }

private:
    bool fill();

    int fd_ = -1;
    std::vector<char> buffer_;
    std::size_t begin_ = 0, end_ = 0;
    bool eof_ = false;
    std::size_t entries_ = 0, malformed_ = 0, outside_ = 0;
    bool cutShort_ = false, tooLong_ = false;
    int error_ = 0;
};

// Appends the lines of a recording being saved. The file is made at the first line (so a run
// that saves nothing leaves none), each line goes in with one write and reaches the disk before
// add returns, so a run cut off at any point keeps a manifest whose every line is true.
// Calls may come from several threads; they are taken one at a time.
class Appender {
public:
    explicit Appender(std::string folder);
    ~Appender();
    Appender(const Appender&) = delete;
    Appender& operator=(const Appender&) = delete;

    enum class FileSync { Done, Needed };
    // Hashes the file at `relativePath` in the folder and appends its line. With
    // FileSync::Needed the file's own data is made durable first (a file its writer never
    // synced). 0 or the errno value; nothing is appended on failure.
    int add(std::string_view relativePath, FileSync sync);
    // The same for several files with one write and one sync. A file that cannot be hashed is
    // left out; the result is the first errno value, 0 when every line went in.
    int add(std::span<const std::string> relativePaths, FileSync sync);

    const std::string& folder() const { return folder_; }
    int lines() const;

private:
    int openLocked();
    int hashLocked(const std::string& relative, FileSync sync, Sha256Digest& digest);

    std::string folder_;
    mutable std::mutex lock_;
    int fd_ = -1;
    int lines_ = 0;
    Sha256 hasher_;
    std::vector<std::uint8_t> buffer_;
};

}  // namespace korvex::manifest
