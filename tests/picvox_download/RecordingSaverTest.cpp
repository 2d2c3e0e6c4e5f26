#include <sys/mount.h>

#include "CacheFixture.h"
#include "control/download/DiskOps.h"
#include "control/download/RecordingSaver.h"
#include "recording/RecordingProbe.h"

namespace picvox::test {
namespace {

std::vector<std::string> namesIn(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(folder))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// Writes half of what it is given, then finds the disk full; mkdir fails likewise once armed.
class FillingDisk final : public DiskOps {
public:
    ssize_t write(int fd, const void* data, std::size_t size) override {
        if (full) {
            errno = fullError;
            return -1;
        }
        full = true;
        return DiskOps::write(fd, data, size / 2 + 1);
    }
    int mkdir(const std::string& path) override {
        if (mkdirError != 0) {
            errno = mkdirError;
            return -1;
        }
        return DiskOps::mkdir(path);
    }
    int syncDirectory(const std::string& folder) override {
        synced.push_back(folder);
        return 0;
    }
    bool full = false;
    int fullError = ENOSPC;
    int mkdirError = 0;
    std::vector<std::string> synced;
};

// Another control saving into the same destination makes the folder of the number just found
// first: this run takes the next number instead of sharing the folder.
class RacingDisk final : public DiskOps {
public:
    int mkdir(const std::string& path) override {
        if (!raced && path.size() > 8 && path.compare(path.size() - 8, 8, "TRM00001") == 0) {
            raced = true;
            DiskOps::mkdir(path);  // the other control's
            errno = EEXIST;
            return -1;
        }
        return DiskOps::mkdir(path);
    }
    bool raced = false;
};

using RunFolderTest = CacheFixture;

TEST_F(RunFolderTest, AFolderMadeMeanwhileIsNeverShared) {
    std::string folder = (root_ / "shared").string();
    fs::create_directories(folder);
    RacingDisk disk;
    int run = 0;
    ASSERT_EQ(CreateSaveRunFolder(folder, run, "TRM", disk), SaveResult::None);
    EXPECT_TRUE(disk.raced);
    EXPECT_EQ(run, 2);
    EXPECT_EQ(folder, (root_ / "shared" / "TRM00002").string());
}

TEST_F(RunFolderTest, NumbersFollowTheHighestRun) {
    const struct {
        std::vector<std::string> existing;
        std::string model;
        SaveResult result;
        std::string folder;
    } cases[] = {
        {{"TRM00001", "TRM00007", "TRMX0009", "TRM0008"}, "TRM", SaveResult::None, "TRM00008"},
        {{}, "TRM", SaveResult::None, "TRM00001"},
        {{"TRM99999"}, "TRM", SaveResult::Error, ""},
        // A model of another length still counts its own runs instead of reusing the first.
        {{"AB00004"}, "AB", SaveResult::None, "AB00005"},
    };
    int n = 0;
    for (const auto& c : cases) {
        const fs::path dest = root_ / ("dest" + std::to_string(n++));
        fs::create_directories(dest);
        for (const auto& name : c.existing)
            fs::create_directories(dest / name);
        std::string folder = dest.string();
        int run = 0;
        EXPECT_EQ(CreateSaveRunFolder(folder, run, c.model), c.result) << dest;
        if (c.result == SaveResult::None) {
            EXPECT_EQ(folder, (dest / c.folder).string());
            EXPECT_TRUE(fs::is_directory(folder));
            EXPECT_EQ(run, std::stoi(c.folder.substr(c.model.size())));
        }
    }
}

TEST_F(RunFolderTest, MissingLevelsAreCreatedAndFullDisksReported) {
    std::string folder = (root_ / "a" / "b").string();
    int run = 0;
    ASSERT_EQ(CreateSaveRunFolder(folder, run, "TRM"), SaveResult::None);
    EXPECT_EQ(folder, (root_ / "a" / "b" / "TRM00001").string());

    const struct {
        int error;
        SaveResult result;
    } cases[] = {{ENOSPC, SaveResult::DiskFull},
                 {EDQUOT, SaveResult::DiskFull},
                 {EACCES, SaveResult::Error}};
    for (const auto& c : cases) {
        FillingDisk disk;
        disk.mkdirError = c.error;
        std::string dest = (root_ / "a").string();
        EXPECT_EQ(CreateSaveRunFolder(dest, run, "TRM", disk), c.result);
        params_.save.folder = (root_ / "a" / "b" / "TRM00001").string();
        params_.save.disk = &disk;
        std::string imgFolder;
        EXPECT_EQ(CreateImageFolder(imgFolder, params_, 3), c.result);
        params_.save.disk = nullptr;
    }
}

class SaveFrameTest : public CacheFixture {
protected:
    void SetUp() override {
        CacheFixture::SetUp();
        params_.save.timestampOrder = 2;
        params_.save.delimiter = "/";
        std::string dest = (root_ / "dest").string();
        ASSERT_EQ(CreateSaveRunFolder(dest, params_.save.runNumber, "TRM"), SaveResult::None);
        params_.save.folder = dest;
        source_ = (root_ / "frame.jp2").string();
        writeBytes(source_, frame(3600, 0));
    }
    std::string source_;
};

// Frame numbers count on across folders of 200; a frame without a time uses no number. The run
// opens as a JPEG 2000 recording with WAV sound.
TEST_F(SaveFrameTest, FramesCountOnAcrossFolders) {
    std::string folder;
    ASSERT_EQ(CreateImageFolder(folder, params_, 1), SaveResult::None);
    int saved = 0, slot = 0;
    const std::string noTime = (root_ / "notime.jp2").string();
    writeBytes(noTime, frame(3600, 0, false));
    EXPECT_EQ(SaveFrame(params_, 1, folder, true, saved, slot, noTime), 1);
    EXPECT_EQ(saved, 0);
    for (int i = 0; i < 200; ++i)
        ASSERT_EQ(SaveFrame(params_, 1, folder, true, saved, slot, source_), 1);
    EXPECT_EQ(params_.progress.detailText, "2000/01/01 01:00:00");
    ASSERT_EQ(CreateImageFolder(folder, params_, 2), SaveResult::None);
    ASSERT_EQ(SaveFrame(params_, 1, folder, true, saved, slot, source_), 1);
    EXPECT_EQ(saved, 201);
    const fs::path run = params_.save.folder;
    EXPECT_TRUE(fs::exists(run / "IMG00001" / "000200.jp2"));
    EXPECT_FALSE(fs::exists(run / "IMG00001" / "000201.jp2"));
    EXPECT_EQ(namesIn(run / "IMG00002"), (std::vector<std::string>{"000201.jp2"}));
    EXPECT_EQ(readBytes((run / "IMG00002" / "000201.jp2").string()), readBytes(source_));

    ASSERT_TRUE(WriteWavFile((run / "sound.wav").string(), pcmFormat(), wavBytes(8000).data() + 44,
                             8000, nullptr));
    korvex::RecordingProbe probe;
    ASSERT_EQ(probe.probe(run.string()), 1);
    EXPECT_TRUE(probe.kind().kindJp2Wav);

    std::string inf;
    ASSERT_EQ(MakeInfName(inf, params_), 1);
    EXPECT_EQ(inf, (run / "INFO" / "TRM00001.INF").string());
}

// Whether a frame is saved is the check's verdict on its time, not the text made of it: with a
// time order the saver cannot print the frame is still saved (the text stays empty), and a
// frame whose trailer has no time fields is skipped.
TEST_F(SaveFrameTest, AFrameIsSavedWhenItsCheckGivesItATime) {
    std::string folder;
    ASSERT_EQ(CreateImageFolder(folder, params_, 1), SaveResult::None);
    params_.save.timestampOrder = 7;
    int saved = 0, slot = 0;
    EXPECT_EQ(SaveFrame(params_, 1, folder, true, saved, slot, source_), 1);
    EXPECT_EQ(saved, 1);
    EXPECT_TRUE(params_.progress.detailText.empty());
    const std::string noTime = (root_ / "notime.jp2").string();
    writeBytes(noTime, frame(3600, 0, false));
    EXPECT_EQ(SaveFrame(params_, 1, folder, true, saved, slot, noTime), 1);
    EXPECT_EQ(saved, 1);
    EXPECT_EQ(params_.progress.savedFrames, 1);
}

// The frame folders' entries reach the disk without a folder sync per frame: the first rename
// and then at most one a second, the folder left behind when the next is made (with its parent),
// and what is pending at the end.
TEST(FolderSyncTest, SyncsOncePerSecondPerFolderAndAtEachChange) {
    FillingDisk disk;
    FolderSync sync;
    using Clock = FolderSync::Clock;
    const Clock::time_point t0 = Clock::now();
    for (int i = 0; i < 10; ++i)
        sync.renamed("run/IMG00001", disk, t0 + std::chrono::milliseconds(100 * i));
    EXPECT_EQ(disk.synced, (std::vector<std::string>{"run/IMG00001"}));
    sync.renamed("run/IMG00001", disk, t0 + std::chrono::milliseconds(1000));
    EXPECT_EQ(disk.synced.size(), 2u);
    sync.renamed("run/IMG00001", disk, t0 + std::chrono::milliseconds(1100));
    sync.folderMade("run", disk);  // IMG00002 made: IMG00001 is done
    EXPECT_EQ(disk.synced,
              (std::vector<std::string>{"run/IMG00001", "run/IMG00001", "run/IMG00001", "run"}));
    sync.flush(disk);
    EXPECT_EQ(disk.synced.size(), 4u);  // nothing pending
    sync.renamed("run/IMG00002", disk, t0 + std::chrono::milliseconds(1200));
    sync.flush(disk);
    EXPECT_EQ(disk.synced.back(), "run/IMG00002");
    EXPECT_EQ(sync.syncs(), static_cast<int>(disk.synced.size()));
}

// A disk that fills up part-way through a frame: result 2 (or 3 for another error), the run ends
// and no frame file, whole or partial, is left behind.
TEST_F(SaveFrameTest, FullDiskLeavesNothingHalfWritten) {
    const struct {
        int error;
        SaveResult result;
    } cases[] = {
        {ENOSPC, SaveResult::DiskFull}, {EDQUOT, SaveResult::DiskFull}, {EIO, SaveResult::Error}};
    for (const auto& c : cases) {
        std::string folder;
        ASSERT_EQ(CreateImageFolder(folder, params_, 1), SaveResult::None);
        FillingDisk disk;
        disk.fullError = c.error;
        params_.save.disk = &disk;
        params_.progress.result = SaveResult::None;
        int saved = 0, slot = 0;
        EXPECT_EQ(SaveFrame(params_, 1, folder, true, saved, slot, source_), 0);
        EXPECT_EQ(params_.progress.result, c.result);
        EXPECT_EQ(saved, 0);
        EXPECT_TRUE(namesIn(folder).empty());
        params_.save.disk = nullptr;
    }
}

TEST_F(SaveFrameTest, FullTmpfsLeavesNothingHalfWritten) {
    const fs::path mountPoint = root_ / "small";
    fs::create_directories(mountPoint);
    if (::geteuid() != 0 || ::mount("tmpfs", mountPoint.c_str(), "tmpfs", 0, "size=64k") != 0)
        GTEST_SKIP() << "no tiny tmpfs here";
    params_.save.folder = mountPoint.string();
    std::string folder;
    ASSERT_EQ(CreateImageFolder(folder, params_, 1), SaveResult::None);
    {
        std::ofstream filler(mountPoint / "filler", std::ios::binary);
        const std::vector<char> block(4096, 1);
        for (int i = 0; i < 64 && filler; ++i)
            filler.write(block.data(), static_cast<std::streamsize>(block.size()));
    }
    int saved = 0, slot = 0;
    EXPECT_EQ(SaveFrame(params_, 1, folder, true, saved, slot, source_), 0);
    EXPECT_EQ(params_.progress.result, SaveResult::DiskFull);
    EXPECT_TRUE(namesIn(folder).empty());
    ::umount(mountPoint.c_str());
}

TEST_F(SaveFrameTest, EmptyRunFoldersAreRemoved) {
    std::string folder;
    ASSERT_EQ(CreateImageFolder(folder, params_, 1), SaveResult::None);
    CheckEmpFolder(params_.save.folder);
    EXPECT_FALSE(fs::exists(params_.save.folder));
}

}  // namespace
}  // namespace picvox::test
