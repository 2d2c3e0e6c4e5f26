#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

namespace picvox {

// A local file opened for writing from its start; an old file of the name holds exactly what was
// written once the file is closed. Anything but a plain file of ours with one name is replaced,
// never written through. Writes are gathered into blocks of kBlockBytes (the fetchers hand over
// 256 bytes at a time; a system call for each cost a tenth of a millisecond per frame), so a full
// disk is reported by the write that fills a block or by close.
class OutputFile {
public:
    // Null when the file cannot be created; errno tells why.
    static std::unique_ptr<OutputFile> create(const std::string& path);
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    static constexpr std::size_t kBlockBytes = 16 * 1024;

    // All of `size` bytes or false (error() then holds the errno value).
    bool write(const void* data, std::size_t size);
    // False when the last data could not be stored.
    bool close();
    int error() const { return error_; }
    const std::string& path() const { return path_; }

private:
    OutputFile(int fd, std::string path, long long oldSize)
        : fd_(fd), path_(std::move(path)), oldSize_(oldSize) {}
    bool flush();

    int fd_;
    std::string path_;
    long long oldSize_;  // length of the file written over
    long long written_ = 0;
    int error_ = 0;
    std::vector<char> pending_;
};

// Deletes a file; a missing file is not an error.
void removeFile(const std::string& path);

}  // namespace picvox
