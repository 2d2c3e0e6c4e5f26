#include "viewer/playback/core/BmpWriter.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QImage>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "tests/support/GuiTestEnvironment.h"
#include "viewer/shell/SaveBitmap.h"

namespace korvex {
namespace {

namespace fs = std::filesystem;

std::uint32_t le32(const std::uint8_t* p) {
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
std::uint16_t le16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

std::vector<std::uint8_t> readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

struct LayoutCase {
    std::int32_t width;
    std::int32_t height;
    std::uint32_t stride;
    std::uint32_t fileSize;
};

class SavedLayoutTest : public ::testing::TestWithParam<LayoutCase> {};

TEST_P(SavedLayoutTest, SizesAndHeadersFollowTheWidth) {
    const LayoutCase c = GetParam();
    const auto layout = savedBitmapLayout(c.width);
    ASSERT_TRUE(layout);
    EXPECT_EQ(layout->height, c.height);
    EXPECT_EQ(layout->stride, c.stride);
    EXPECT_EQ(layout->pixelBytes, c.stride * static_cast<std::uint32_t>(c.height));
    EXPECT_EQ(layout->fileSize, c.fileSize);

    const auto h = bmpHeaders(*layout);
    EXPECT_EQ(h[0], 'B');
    EXPECT_EQ(h[1], 'M');
    EXPECT_EQ(le32(&h[2]), c.fileSize);
    EXPECT_EQ(le32(&h[6]), 0u);
    EXPECT_EQ(le32(&h[10]), 54u);
    EXPECT_EQ(le32(&h[14]), 40u);
    EXPECT_EQ(le32(&h[18]), static_cast<std::uint32_t>(c.width));
    EXPECT_EQ(le32(&h[22]), static_cast<std::uint32_t>(c.height));
    EXPECT_EQ(le16(&h[26]), 1);
    EXPECT_EQ(le16(&h[28]), 24);
    EXPECT_EQ(le32(&h[30]), 0u);
    EXPECT_EQ(le32(&h[34]), layout->pixelBytes);
    for (int i = 38; i < 54; ++i)
        EXPECT_EQ(h[i], 0) << "byte " << i;
}

INSTANTIATE_TEST_SUITE_P(Widths, SavedLayoutTest,
                         ::testing::Values(LayoutCase{704, 528, 2112, 1115190},
                                           LayoutCase{352, 264, 1056, 278838},
                                           LayoutCase{720, 540, 2160, 1166454},
                                           LayoutCase{5, 3, 16, 102},  // padded rows
                                           LayoutCase{2, 1, 8, 62}));

TEST(SavedLayout, RefusesWidthsWithoutRowsOrBeyondTheBound) {
    for (const std::int32_t w : {-704, 0, 1, kMaxSavedWidth + 1, INT32_MAX})
        EXPECT_FALSE(savedBitmapLayout(w)) << w;
    EXPECT_TRUE(savedBitmapLayout(kMaxSavedWidth));
}

// A 5 x 3 picture whose every pixel has its own colour.
QImage numberedImage() {
    QImage image(5, 3, QImage::Format_RGB888);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 5; ++x)
            image.setPixel(x, y, qRgb(10 * x + 1, 100 + y, 200 + x + y));
    return image;
}

TEST(BottomUpRows, StoresTheBottomRowFirstInBlueGreenRedWithZeroPadding) {
    const auto layout = *savedBitmapLayout(5);
    const auto rows = bottomUpRows(numberedImage(), layout);
    ASSERT_EQ(rows.size(), layout.pixelBytes);
    for (int y = 0; y < 3; ++y) {
        const std::uint8_t* row = rows.data() + static_cast<std::size_t>(2 - y) * layout.stride;
        for (int x = 0; x < 5; ++x) {
            EXPECT_EQ(row[3 * x + 0], 200 + x + y) << x << "," << y;
            EXPECT_EQ(row[3 * x + 1], 100 + y);
            EXPECT_EQ(row[3 * x + 2], 10 * x + 1);
        }
        EXPECT_EQ(row[15], 0) << "padding of row " << y;
    }
}

TEST(BottomUpRows, RefusesAPictureOfAnotherSize) {
    EXPECT_TRUE(bottomUpRows(numberedImage(), *savedBitmapLayout(6)).empty());
    EXPECT_TRUE(bottomUpRows(QImage(), *savedBitmapLayout(5)).empty());
}

TEST(WriteBmpFile, WritesHeadersAndRowsAndReplacesAnOlderFile) {
    const std::string folder = test::freshFolder("bmp");
    const std::string path = folder + "/frame.bmp";
    { std::ofstream(path) << "an older and much longer file than the new one will be ...."; }
    ::chmod(path.c_str(), 0640);

    const auto layout = *savedBitmapLayout(5);
    const auto rows = bottomUpRows(numberedImage(), layout);
    ASSERT_TRUE(writeBmpFile(path, layout, rows).ok());

    const auto bytes = readFile(path);
    ASSERT_EQ(bytes.size(), 102u);
    const auto headers = bmpHeaders(layout);
    EXPECT_TRUE(std::equal(headers.begin(), headers.end(), bytes.begin()));
    EXPECT_TRUE(std::equal(rows.begin(), rows.end(), bytes.begin() + 54));
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u) << "a replaced file keeps its permissions";
    // Nothing but the file itself is left in the folder.
    EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 1);
}

TEST(WriteBmpFile, FailuresSayWhereAndLeaveNothingBehind) {
    const std::string folder = test::freshFolder("bmpfail");
    const auto layout = *savedBitmapLayout(5);
    const auto rows = bottomUpRows(numberedImage(), layout);

    // A folder that does not exist: the file cannot be created.
    auto r = writeBmpFile(folder + "/missing/frame.bmp", layout, rows);
    EXPECT_EQ(r.step, BmpWriteStep::Create);
    EXPECT_EQ(r.error, ENOENT);

    // The name of a folder: the new file cannot take its place, and the folder stays.
    fs::create_directory(folder + "/taken.bmp");
    r = writeBmpFile(folder + "/taken.bmp", layout, rows);
    EXPECT_EQ(r.step, BmpWriteStep::Replace);
    EXPECT_TRUE(fs::is_directory(folder + "/taken.bmp"));

    // Rows that do not match the layout are never written.
    r = writeBmpFile(folder + "/short.bmp", layout,
                     std::span<const std::uint8_t>(rows.data(), rows.size() - 1));
    EXPECT_EQ(r.step, BmpWriteStep::BadInput);
    SavedBitmapLayout forged = layout;
    forged.height = 1000;
    EXPECT_EQ(writeBmpFile(folder + "/forged.bmp", forged, rows).step, BmpWriteStep::BadInput);

    EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 1)
        << "only the folder made above remains";
}

TEST(SaveFailureText, NamesTheFileAndTheReason) {
    SaveOutcome outcome;
    outcome.status = SaveOutcome::Status::WriteFailed;
    outcome.write = {BmpWriteStep::Create, ENOENT};
    const QString text = saveFailureText(outcome, "/nowhere/frame.bmp");
    EXPECT_TRUE(text.contains("/nowhere/frame.bmp"));
    EXPECT_TRUE(text.contains(QString::fromLocal8Bit(std::strerror(ENOENT))));
    outcome.status = SaveOutcome::Status::NoPicture;
    EXPECT_TRUE(saveFailureText(outcome, "x.bmp").isEmpty());
}

}  // namespace
}  // namespace korvex
