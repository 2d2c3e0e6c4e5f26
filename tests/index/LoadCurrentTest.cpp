#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "IndexTestSupport.h"
#include "platform/FileSystem.h"
#include "recording/AuthenticityCheck.h"
#include "recording/DibBlock.h"
#include "recording/FolderImageSource.h"
#include "tools/recgen/Encoders.h"
#include "tools/recgen/Trailer.h"

namespace korvex {
namespace {

class LoadCurrent : public test::ScratchFolder {
protected:
    static std::vector<std::uint8_t> jpegFrame(std::uint32_t dvrSeconds, std::uint32_t offsetMs,
                                               gen::Damage damage = gen::Damage::None) {
        std::vector<std::uint8_t> file = gen::encodeJpeg(gen::syntheticPicture(32, 24, 3, 7));
        EXPECT_TRUE(gen::appendJpegTrailer(file, {dvrSeconds, offsetMs, true}));
        if (damage != gen::Damage::None) {
            EXPECT_TRUE(gen::applyJpegDamage(file, damage));
        }
        return file;
    }
    static std::vector<std::uint8_t> j2kFrame(std::uint32_t dvrSeconds, std::uint32_t offsetMs,
                                              gen::Damage damage = gen::Damage::None) {
        std::vector<std::uint8_t> file = gen::encodeJ2k(gen::syntheticPicture(32, 24, 3, 9));
        EXPECT_TRUE(gen::appendJ2kTrailer(file, {dvrSeconds, offsetMs, true}));
        if (damage != gen::Damage::None) {
            EXPECT_TRUE(gen::applyJ2kDamage(file, damage));
        }
        return file;
    }
};

TEST_F(LoadCurrent, JpegFrameFillsFlagsTimeAndOffsetOnFirstSight) {
    write("000001.jpg", jpegFrame(1000, 40));
    write("000002.jpg", jpegFrame(1001, 80, gen::Damage::CodedByte));
    FolderImageSource source(RecordingKind{.kindJpeg = true});
    ASSERT_EQ(source.openFolder(root(), 0), 1);
    EXPECT_EQ(source.flagsAt(0), -1);

    std::size_t size = 0;
    DibBlock picture = source.loadCurrent(&size, 0);
    ASSERT_TRUE(picture);
    EXPECT_EQ(size, picture.size());
    DibInfo info;
    ASSERT_TRUE(readDibInfo(picture, info));
    EXPECT_EQ(info.width, 32);
    EXPECT_EQ(info.height, 24);
    EXPECT_EQ(source.currentFlags(), 0);
    EXPECT_EQ(source.currentTime(), dvrSecondsToTime(1000));
    EXPECT_EQ(source.offsetAt(0), 40u);

    source.next();
    ASSERT_TRUE(source.loadCurrent(&size, 1));
    // The time checksum covers the picture too, so bit 1 may come with bit 0.
    EXPECT_TRUE(source.currentFlags() & kPictureAltered);
    EXPECT_EQ(source.offsetAt(1), 80u);
}

TEST_F(LoadCurrent, Jpeg2000UsesItsOwnCheckAndTheTimeTable) {
    frame("IMG00001/x.txt");  // not a frame
    write("IMG00001/000001.jp2", j2kFrame(5000, 1000));
    write("IMG00001/000002.jp2", j2kFrame(5001, 1040, gen::Damage::StoredTime));
    write("time.txt", "7\n9\n");
    FolderImageSource source(RecordingKind{.kindJp2Wav = true});
    ASSERT_EQ(source.openFolder(root(), 1), 1);
    std::size_t size = 0;
    ASSERT_TRUE(source.loadCurrent(&size, 0));
    EXPECT_EQ(size, kJ2kBlockCapacity);
    EXPECT_EQ(source.currentFlags(), 0);
    EXPECT_EQ(source.currentTime(), dvrSecondsToTime(5000));
    source.next();
    ASSERT_TRUE(source.loadCurrent(&size, 0));
    EXPECT_EQ(source.currentFlags(), kTimeAltered);
    // The offsets come from time.txt, not from the trailers.
    EXPECT_EQ(source.offsetAt(1), 9u);
}

TEST_F(LoadCurrent, InfoTableKeepsItsTimesAndOffsets) {
    write("IMG00001/000001.jp2", j2kFrame(5000, 1000));
    write("INFO/R.INF", gen::buildInfoFile({{kMaxDvrSeconds + 5, 333, 0}}, {}));
    FolderImageSource source(RecordingKind{.kindJp2Mp3 = true});
    ASSERT_EQ(source.openFolder(root(), 0), 1);
    source.first();
    // The table's time is invalid: flags 3 already, so the check does not run again.
    EXPECT_EQ(source.currentFlags(), kTrailerCutInTime);
    ASSERT_TRUE(source.loadCurrent(nullptr, 0));
    EXPECT_EQ(source.currentFlags(), kTrailerCutInTime);
    EXPECT_EQ(source.currentTime(), 0);
    EXPECT_EQ(source.offsetAt(0), 333u);
}

TEST_F(LoadCurrent, OrderCheckSkipsAFrameRunningBackwards) {
    write("000001.jpg", jpegFrame(1, 500));
    write("000002.jpg", jpegFrame(2, 400));
    write("000003.jpg", jpegFrame(3, 600));
    FolderImageSource source(RecordingKind{.kindJpeg = true});
    ASSERT_EQ(source.openFolder(root(), 0), 1);
    std::size_t size = 99;
    ASSERT_TRUE(source.loadCurrent(&size, 1));
    source.next();
    EXPECT_FALSE(source.loadCurrent(&size, 1));
    EXPECT_EQ(size, 0u);
    // The frame was examined all the same, and shows when the order does not matter.
    EXPECT_EQ(source.currentFlags(), 0);
    EXPECT_TRUE(source.loadCurrent(&size, 0));
    source.next();
    EXPECT_TRUE(source.loadCurrent(&size, 1));
}

TEST_F(LoadCurrent, UndecodableOrUncheckableFrames) {
    write("000001.jp2", std::string("not a picture"));
    const std::vector<std::uint8_t> noTrailer = [] {
        std::vector<std::uint8_t> f = gen::encodeJ2k(gen::syntheticPicture(16, 16, 1, 3));
        return f;
    }();
    write("000002.jp2", noTrailer);
    write("000003.jp2",
          gen::encodeJ2k(gen::syntheticPicture(16, 16, 3, 4), gen::J2kContainer::Codestream));
    FolderImageSource source(RecordingKind{.kindJp2Mp3 = true});
    ASSERT_EQ(source.openFolder(root(), 0), 1);
    EXPECT_FALSE(source.loadCurrent(nullptr, 0));
    EXPECT_EQ(source.currentFlags(), -1);

    source.next();
    ASSERT_TRUE(source.loadCurrent(nullptr, 0));
    EXPECT_EQ(source.currentFlags(), kNoTrailer);
    EXPECT_EQ(source.currentTime(), 0);

    // A raw code-stream decodes, but the check needs the JP2 boxes: it stays unexamined and is
    // tried again the next time.
    source.next();
    ASSERT_TRUE(source.loadCurrent(nullptr, 0));
    EXPECT_EQ(source.currentFlags(), -1);
}

// Frames read on another thread and accepted in order give what loadCurrent gives, and the reads
// alone leave the index as it was.
TEST_F(LoadCurrent, ReadAheadThenAcceptedIsALoad) {
    write("000001.jpg", jpegFrame(1000, 40));
    write("000002.jpg", jpegFrame(1001, 80, gen::Damage::StoredTime));
    write("000003.jpg", std::string("not a picture"));
    write("000004.jpg", jpegFrame(1003, 160));
    const RecordingKind kind{.kindJpeg = true};
    FolderImageSource loaded(kind);
    FolderImageSource ahead(kind);
    ASSERT_EQ(loaded.openFolder(root(), 0), 1);
    ASSERT_EQ(ahead.openFolder(root(), 0), 1);
    ASSERT_EQ(ahead.count(), 4);

    std::vector<FrameRead> reads(4);
    std::thread reader([&] {
        for (int i = 0; i < 4; ++i)
            reads[i] = ahead.readFrame(i, true, JpegPixels::Bgr24);
    });
    reader.join();
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(ahead.flagsAt(i), -1) << i;
    EXPECT_FALSE(reads[2].picture);
    EXPECT_FALSE(reads[2].checked);  // too short to check: it stays unexamined

    for (int i = 0; i < 4; ++i) {
        loaded.setCurrent(i);
        ahead.setCurrent(i);
        std::size_t loadedSize = 0, aheadSize = 0;
        const DibBlock a = loaded.loadCurrent(&loadedSize, 0);
        const DibBlock b = ahead.acceptFrame(std::move(reads[i]), &aheadSize, 0);
        ASSERT_EQ(a.size(), b.size()) << i;
        EXPECT_TRUE(a.size() == 0 || std::memcmp(a.data(), b.data(), a.size()) == 0) << i;
        EXPECT_EQ(aheadSize, loadedSize) << i;
        EXPECT_EQ(ahead.flagsAt(i), loaded.flagsAt(i)) << i;
        EXPECT_EQ(ahead.timeAt(i), loaded.timeAt(i)) << i;
        EXPECT_EQ(ahead.offsetAt(i), loaded.offsetAt(i)) << i;
    }
    EXPECT_EQ(ahead.flagsAt(1), kTimeAltered);

    // A read without the check fills nothing; one of four bytes a pixel keeps them.
    FolderImageSource unchecked(kind);
    ASSERT_EQ(unchecked.openFolder(root(), 0), 1);
    unchecked.setCurrent(3);
    DibInfo info;
    ASSERT_TRUE(readDibInfo(
        unchecked.acceptFrame(unchecked.readFrame(3, false, JpegPixels::Bgrx32), nullptr, 0),
        info));
    EXPECT_EQ(info.bitCount, 32);
    EXPECT_EQ(unchecked.flagsAt(3), -1);

    // A file gone since the scan: the error, as a load would give it.
    std::filesystem::remove(root_ / "000004.jpg");
    FrameRead gone = unchecked.readFrame(3, true, JpegPixels::Bgr24);
    EXPECT_FALSE(gone.picture);
    EXPECT_FALSE(gone.checked);
    EXPECT_FALSE(unchecked.acceptFrame(std::move(gone), nullptr, 0));
    EXPECT_EQ(unchecked.lastLoadError(), ENOENT);
    EXPECT_FALSE(unchecked.readFrame(4, true, JpegPixels::Bgr24).picture);  // no such frame
}

// A frame file turned into a FIFO after the scan, and FIFOs as INFO file and time.txt, block
// neither the open nor the load.
TEST_F(LoadCurrent, FifosInPlaceOfRecordingFilesDoNotBlock) {
    write("000001.jp2", j2kFrame(1000, 40));
    std::filesystem::create_directories(root_ / "INFO");
    for (const char* fifo : {"000002.jp2", "time.txt", "INFO/REC.INF"})
        ASSERT_EQ(::mkfifo((root_ / fifo).c_str(), 0600), 0);
    FolderImageSource source(RecordingKind{.kindJp2Mp3 = true});
    ASSERT_EQ(source.openFolder(root(), 0), 1);
    EXPECT_FALSE(source.infoTable().loaded() || source.timeTable().present());
    std::filesystem::rename(root_ / "000001.jp2", root_ / "000000.jp2");
    std::filesystem::rename(root_ / "000002.jp2", root_ / "000001.jp2");
    EXPECT_FALSE(source.loadCurrent(nullptr, 0));
    EXPECT_EQ(source.lastLoadError(), platform::kNotRegularFile);
}

}  // namespace
}  // namespace korvex
