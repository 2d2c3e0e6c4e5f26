#include "control/download/J2kFrameCheck.h"

#include "control/buffers/PicvoxLog.h"
#include "recording/ByteCursor.h"
#include "recording/ClientPlaceholder.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <ctime>
#include <memory>
#include <new>
#include <vector>

namespace picvox {

namespace {

// 2000-01-01 00:00:00 as seconds since 1970, taken as universal time.
constexpr std::int64_t kEpoch2000Utc = 946684800;

// Frames are some tens of kilobytes (a decoded picture must fit 0xFC000 bytes); anything far
// larger is not a frame and is not read into memory.
constexpr long long kMaxFrameBytes = 64ll * 1024 * 1024;

std::int64_t utcTime(std::uint32_t dvrSeconds) {
    return kEpoch2000Utc + dvrSeconds;
}

// Each step of the check, in the control's log.
class CheckLog final : public korvex::J2kCheckListener {
public:
    void startFound(std::size_t start) override {
        WriteLog(LogTag::J2KCHK, "cur %02X %02X", static_cast<unsigned>(start & 0xFF),
                 static_cast<unsigned>((start >> 8) & 0xFF));
    }
    void lengthSummed(std::uint32_t length) override {
        WriteLog(LogTag::J2KCHK, "length %08X", length);
    }
    void trailerTooShort(std::size_t remaining) override {
        trailerMissing = true;
        WriteLog(LogTag::J2KCHK, "remainder false:%d", static_cast<int>(remaining));
    }
    void validTime(std::uint32_t t) override {
        WriteLog(LogTag::J2KCHK, "%d %d:%d", static_cast<int>(t / 86400),
                 static_cast<int>((t % 86400) / 3600), static_cast<int>((t % 3600) / 60));
    }
    void startMismatch() override {
        WriteLog(LogTag::J2KCHK, "画像チェックサムStartアドレス不一致\n");
    }
    void lengthMismatch() override { WriteLog(LogTag::J2KCHK, "画像チェックサムLength不一致\n"); }
    void pictureChecksumMismatch(std::uint16_t computed,
                                 std::array<std::uint8_t, 2> stored) override {
        WriteLog(LogTag::J2KCHK, "画像チェックサム不一致。calc=%02X %02X; read=%02X %02X\n",
                 computed & 0xFF, computed >> 8, stored[0], stored[1]);
    }
    void timeChecksumMismatch(std::uint16_t computed, std::uint16_t stored) override {
        WriteLog(LogTag::J2KCHK, "日時チェックサム不一致。calc=%04X; read=%04X\n", computed,
                 stored);
    }

    bool trailerMissing = false;
};

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

File openFile(const std::string& path, const char* mode) {
    return File(std::fopen(path.c_str(), mode));
}

bool readFrame(const std::string& path, std::vector<std::uint8_t>& bytes) {
    File f = openFile(path, "rb");
    if (!f || std::fseek(f.get(), 0, SEEK_END) != 0)
        return false;
    const long size = std::ftell(f.get());
    if (size < 0 || size > kMaxFrameBytes || std::fseek(f.get(), 0, SEEK_SET) != 0)
        return false;
    bytes.resize(static_cast<std::size_t>(size));
    return std::fread(bytes.data(), 1, bytes.size(), f.get()) == bytes.size();
}

}  // namespace

bool CheckJ2kFile(const std::string& path, korvex::CheckResult& result) {
    result = korvex::CheckResult{};
    std::vector<std::uint8_t> bytes;
    try {
        if (!readFrame(path, bytes))
            return false;
    } catch (const std::bad_alloc&) {
        return false;
    }
    return CheckJ2kFrame(bytes.data(), bytes.size(), result) == 1;
}

namespace {

bool writeAt(const std::string& path, long offset, const std::uint8_t* data, std::size_t size) {
    File f = openFile(path, "r+b");
    if (!f || std::fseek(f.get(), offset, SEEK_SET) != 0)
        return false;
    if (std::fwrite(data, 1, size, f.get()) != size)
        return false;
    return std::fclose(f.release()) == 0;
}

void putLe32(std::uint8_t* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

std::uint32_t le32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

}  // namespace

int CheckJ2kFrame(const std::uint8_t* file, std::size_t length, korvex::CheckResult& result) {
    result.flags = 0;
    if (file == nullptr)
        return 0;
    CheckLog log;
    korvex::CheckResult found;
    if (!korvex::checkJpeg2000({file, length}, found, utcTime, &log))
        return 0;
    result.flags = found.flags;
    if (found.time != 0)
        result.time = found.time;
    if (!log.trailerMissing && found.flags != korvex::kTrailerCutInTime) {
        result.offsetMs = found.offsetMs;
    }
    return 1;
}

std::string FormatAbsoluteTime(std::int64_t time, int order, std::string_view delimiter) {
    if (time == 0)
        return {};
    const char delim = delimiter.empty() ? '-' : delimiter.front();
    const std::time_t t = static_cast<std::time_t>(time);
    std::tm tm{};
    if (gmtime_r(&t, &tm) == nullptr)
        return {};
    char buf[64];
    int n = -1;
    switch (order) {
        case kOrderMonthDayYear:
            n = std::snprintf(buf, sizeof buf, "%02d%c%02d%c%04d %02d:%02d:%02d", tm.tm_mon + 1,
                              delim, tm.tm_mday, delim, tm.tm_year + 1900, tm.tm_hour, tm.tm_min,
                              tm.tm_sec);
            break;
        case kOrderDayMonthYear:
            n = std::snprintf(buf, sizeof buf, "%02d%c%02d%c%04d %02d:%02d:%02d", tm.tm_mday, delim,
                              tm.tm_mon + 1, delim, tm.tm_year + 1900, tm.tm_hour, tm.tm_min,
                              tm.tm_sec);
            break;
        case kOrderYearMonthDay:
            n = std::snprintf(buf, sizeof buf, "%04d%c%02d%c%02d %02d:%02d:%02d", tm.tm_year + 1900,
                              delim, tm.tm_mon + 1, delim, tm.tm_mday, tm.tm_hour, tm.tm_min,
                              tm.tm_sec);
            break;
        default:
            break;
    }
    if (n > 0 && static_cast<std::size_t>(n) < sizeof buf)
        return std::string(buf, static_cast<std::size_t>(n));
    return {};
}

int ReadAbsoluteTime(std::string& text, int order, std::string_view delimiter,
                     const std::string& path) {
    text.clear();
    try {
        File f = openFile(path, "rb");
        if (!f) {
            WriteLog(LogTag::J2KCHK, "ReadAbsoluteTime ファイルオープン失敗 '%s'", path.c_str());
            return 0;
        }
        if (std::fseek(f.get(), 0, SEEK_END) != 0) {
            WriteLog(LogTag::J2KCHK, "ReadAbsoluteTime ファイルポインタ移動（末尾）失敗 '%s'",
                     path.c_str());
            return 0;
        }
        const long size = std::ftell(f.get());
        std::vector<std::uint8_t> bytes;
        if (size < 0 || size > kMaxFrameBytes) {
            WriteLog(LogTag::J2KCHK, "ReadAbsoluteTime メモリー確保失敗 サイズ=%ld", size);
            return 0;
        }
        try {
            bytes.resize(static_cast<std::size_t>(size));
        } catch (const std::bad_alloc&) {
            WriteLog(LogTag::J2KCHK, "ReadAbsoluteTime メモリー確保失敗 サイズ=%ld", size);
            return 0;
        }
        if (std::fseek(f.get(), 0, SEEK_SET) != 0) {
            WriteLog(LogTag::J2KCHK, "ReadAbsoluteTime ファイルポインタ移動（先頭）失敗 '%s'",
                     path.c_str());
            return 0;
        }
        if (std::fread(bytes.data(), 1, bytes.size(), f.get()) != bytes.size()) {
            WriteLog(LogTag::J2KCHK, "ReadAbsoluteTime ファイル読込み失敗 size=%ld name=%s", size,
                     path.c_str());
            return 0;
        }
        // A frame without a valid time leaves the time at 0, which gives no text.
        korvex::CheckResult result;
        if (CheckJ2kFrame(bytes.data(), bytes.size(), result) == 0) {
            WriteLog(LogTag::J2KCHK, "ReadAbsoluteTime 不正ファイル！！");
            return 0;
        }
        if (result.time == 0)
            return 0;
        text = FormatAbsoluteTime(result.time, order, delimiter);
    } catch (...) {
        text.clear();
        WriteLog(LogTag::J2KCHK, "ReadAbsoluteTime エラー");
    }
    return 0;
}

int ReadRelTime(const std::string& path, std::uint32_t& relTimeMs) {
    File f = openFile(path, "rb");
    std::uint8_t b[4];
    if (!f || std::fseek(f.get(), -4, SEEK_END) != 0 || std::fread(b, 1, 4, f.get()) != 4) {
        return 0;
    }
    relTimeMs = le32(b);
    return 1;
}

int WriteRelTime(const std::string& path, std::uint32_t relTimeMs) {
    File f = openFile(path, "r+b");
    std::uint8_t b[4];
    putLe32(b, relTimeMs);
    if (!f || std::fseek(f.get(), -4, SEEK_END) != 0 || std::fwrite(b, 1, 4, f.get()) != 4) {
        return 0;
    }
    return std::fclose(f.release()) == 0 ? 1 : 0;
}

int ReadSetTime(const std::string& path, std::uint32_t& dvrSeconds) {
    std::vector<std::uint8_t> bytes;
    if (!readFrame(path, bytes))
        return 0;
    const auto layout = korvex::locateJ2k({bytes.data(), bytes.size()});
    if (!layout || bytes.size() - layout->end < korvex::kJ2kTrailerSize)
        return 0;
    dvrSeconds = le32(bytes.data() + layout->end + korvex::kJ2kTimeAt);
    return 1;
}

int WriteSetTime(const std::string& path, std::uint32_t dvrSeconds) {
    std::vector<std::uint8_t> bytes;
    if (!readFrame(path, bytes))
        return 0;
    const auto layout = korvex::locateJ2k({bytes.data(), bytes.size()});
    if (!layout)
        return 0;
    const std::size_t trailer = bytes.size() - layout->end;
    const std::uint8_t* fields = bytes.data() + layout->end;
    std::vector<std::uint8_t> out(korvex::kJ2kTrailerSize);
    std::size_t checksumAt = 0;
    if (trailer >= korvex::kJ2kTrailerSize) {
        out.resize(6);  // only the two time fields change
        checksumAt = korvex::kJ2kPictureChecksumAt;
    } else if (trailer == korvex::kJ2kShortTrailerSize) {
        // Time fields in front of the short trailer make it the full one.
        std::copy(fields, fields + trailer, out.begin() + 6);
        checksumAt = korvex::kJ2kPictureChecksumAt - 6;
    } else {
        return 0;  // no place for a time that would not overwrite another field
    }
    const std::uint16_t storedPictureSum =
        static_cast<std::uint16_t>(fields[checksumAt] | (fields[checksumAt + 1] << 8));
    const std::uint16_t timeSum = korvex::j2kTimeChecksum(storedPictureSum, dvrSeconds);
    out[0] = static_cast<std::uint8_t>(timeSum & 0xFF);
    out[1] = static_cast<std::uint8_t>(timeSum >> 8);
    putLe32(out.data() + korvex::kJ2kTimeAt, dvrSeconds);
    return writeAt(path, static_cast<long>(layout->end), out.data(), out.size()) ? 1 : 0;
}

std::span<const std::uint8_t> BlackPicture() {
    // The viewer's tools recognise it in a saved run, so its bytes live beside the check.
    return korvex::clientPlaceholderPicture();
}

int WriteBlackPicture(const std::string& path) {
    File f = openFile(path, "wb");
    if (!f)
        return 0;
    const std::span<const std::uint8_t> black = BlackPicture();
    if (std::fwrite(black.data(), 1, black.size(), f.get()) != black.size())
        return 0;
    return std::fclose(f.release()) == 0 ? 1 : 0;
}

}  // namespace picvox
