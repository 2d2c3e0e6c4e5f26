// The INFO index and time.txt parsers on arbitrary bytes. The first byte picks the parser; the
// rest is the file.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "recording/InfoTable.h"
#include "recording/TimeTable.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    const std::span<const std::uint8_t> file(data + 1, size - 1);
    if (data[0] & 1) {
        korvex::TimeTable table;
        table.parse(std::string_view(reinterpret_cast<const char*>(file.data()), file.size()));
        if (table.size() > korvex::TimeTable::kMaxEntries)
            __builtin_trap();
        for (long long i = -1; i <= static_cast<long long>(table.size()); ++i)
            (void)table.at(i);
        return 0;
    }
    korvex::InfoTable table;
    const bool loaded = table.parse(file);
    if (loaded != table.loaded())
        __builtin_trap();
    if (static_cast<std::size_t>(table.recordCount()) * korvex::InfoTable::kRecordBytes +
            (loaded ? korvex::InfoTable::kHeaderBytes : 0) >
        file.size()) {
        __builtin_trap();  // more records than the bytes hold
    }
    if (table.channelCount() > korvex::InfoTable::kChannels)
        __builtin_trap();
    for (int i = 0; i < table.recordCount(); ++i) {
        const int c = table.record(i).channel;
        (void)table.titleOf(c);
        (void)table.framesOf(c);
        (void)table.firstFrameNumberOf(c);
        (void)table.lastFrameNumberOf(c);
    }
    return 0;
}
