#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QImage>
#include <QMessageBox>
#include <QPrintDialog>
#include <QPrinter>
#include <QProcess>
#include <QPushButton>
#include <QStandardPaths>
#include <QTimer>
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>

#include "recording/DibBlock.h"
#include "tests/support/GuiTestEnvironment.h"
#include "tools/recgen/FrameRenderer.h"
#include "tools/recgen/RecordingWriter.h"
#include "viewer/playback/CKorvexDoc.h"
#include "viewer/playback/CKorvexView.h"
#include "viewer/playback/FramePainter.h"
#include "viewer/shell/PrintJob.h"
#include "viewer/shell/SaveBitmap.h"

namespace korvex {
namespace {

namespace fs = std::filesystem;

std::vector<std::uint8_t> readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::uint32_t le32(const std::uint8_t* p) {
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

// The scan runs at once: no Searching dialog to wait for.
class HeadlessShell : public ShellPort {
public:
    void runSearchingDialog(ScanSession& scan) override {
        scan.attachReceiver([] {});
    }
};

// A document with a generated recording open at its first frame.
struct OpenDocument {
    HeadlessShell shell;
    std::unique_ptr<CKorvexDoc> doc = std::make_unique<CKorvexDoc>();

    OpenDocument(PictureFormat format, int width, int height) {
        gen::RecordingSpec spec;
        spec.pictures = format;
        spec.sound = SoundFormat::None;
        spec.layout = gen::FrameLayout::Flat;
        spec.frames = 3;
        spec.width = width;
        spec.height = height;
        spec.startDvrSeconds = 289'000'000;  // 2009
        const std::string folder = test::freshFolder("rec");
        const auto written = gen::writeRecording(folder, spec);
        EXPECT_TRUE(written.ok) << written.error;
        doc->setShellPort(&shell);
        EXPECT_TRUE(doc->OpenRecordingFolder(folder));
    }
    ~OpenDocument() {
        doc->setShellPort(nullptr);
        doc.reset();
    }
};

// Mean absolute difference of the colour bytes of two pictures of one size inside `area`.
double meanDifference(const QImage& a, const QImage& b, const QRect& area) {
    const QImage x = a.convertToFormat(QImage::Format_RGB888);
    const QImage y = b.convertToFormat(QImage::Format_RGB888);
    double sum = 0;
    long long n = 0;
    for (int row = area.top(); row <= area.bottom(); ++row) {
        const uchar* p = x.constScanLine(row);
        const uchar* q = y.constScanLine(row);
        for (int i = area.left() * 3; i < (area.right() + 1) * 3; ++i, ++n)
            sum += std::abs(int(p[i]) - int(q[i]));
    }
    return n == 0 ? 255.0 : sum / static_cast<double>(n);
}

struct SaveCase {
    const char* name;
    PictureFormat format;
    int width;
    int height;
    int savedHeight;
    std::uint32_t fileSize;
};

class SaveFrameTest : public ::testing::TestWithParam<SaveCase> {};

TEST_P(SaveFrameTest, FileHasTheExactLayoutAndTheViewsPicture) {
    const SaveCase c = GetParam();
    OpenDocument open(c.format, c.width, c.height);
    ASSERT_TRUE(open.doc->currentPicture());
    const std::string path = test::freshFolder("save") + "/frame.bmp";

    const SaveOutcome outcome = saveCurrentPicture(*open.doc, renderForSave, path);
    ASSERT_TRUE(outcome.saved());

    const auto bytes = readFile(path);
    ASSERT_EQ(bytes.size(), c.fileSize);
    EXPECT_EQ(bytes[0], 'B');
    EXPECT_EQ(bytes[1], 'M');
    EXPECT_EQ(le32(&bytes[2]), c.fileSize);
    EXPECT_EQ(le32(&bytes[10]), 54u);
    EXPECT_EQ(le32(&bytes[18]), static_cast<std::uint32_t>(c.width));
    EXPECT_EQ(le32(&bytes[22]), static_cast<std::uint32_t>(c.savedHeight));
    EXPECT_EQ(le32(&bytes[34]), c.fileSize - 54);

    // The rows are the view's picture of the frame, bottom row first.
    const QImage rendered = renderForSave(*open.doc, c.width, c.savedHeight);
    const auto rows = bottomUpRows(rendered, *savedBitmapLayout(c.width));
    ASSERT_EQ(rows.size(), bytes.size() - 54);
    EXPECT_TRUE(std::equal(rows.begin(), rows.end(), bytes.begin() + 54));

    // ... which is the decoded frame (its shown rows) stretched over the whole 4:3 bitmap, the
    // right way up. The top half holds no text in the default corner.
    const QImage saved(QString::fromStdString(path));
    ASSERT_EQ(saved.size(), QSize(c.width, c.savedHeight));
    const QImage expected =
        dibToImage(open.doc->currentPicture())
            .scaled(c.width, c.savedHeight, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    const QRect upperHalf(0, 0, c.width, c.savedHeight / 2);
    EXPECT_LT(meanDifference(saved, expected, upperHalf), 6.0);
    EXPECT_GT(meanDifference(saved, expected.mirrored(false, true), upperHalf), 12.0)
        << "the picture would also match upside down: the test picture proves nothing";
}

INSTANTIATE_TEST_SUITE_P(
    Pictures, SaveFrameTest,
    ::testing::Values(SaveCase{"jpeg704x480", PictureFormat::Jpeg, 704, 480, 528, 1'115'190},
                      SaveCase{"j2k720x248", PictureFormat::Jpeg2000, 720, 248, 540, 1'166'454}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(SaveFrame, WithoutAPictureNothingIsWritten) {
    CKorvexDoc doc;
    const std::string path = test::freshFolder("nosave") + "/frame.bmp";
    EXPECT_EQ(saveCurrentPicture(doc, renderForSave, path).status, SaveOutcome::Status::NoPicture);
    EXPECT_FALSE(fs::exists(path));
}

TEST(SaveFrame, AFailedWriteIsReportedAndKeepsTheOlderFile) {
    OpenDocument open(PictureFormat::Jpeg, 352, 240);
    const std::string folder = test::freshFolder("failsave");
    // A renderer that cannot draw: nothing is written, and the user is told.
    const SaveOutcome failed = saveCurrentPicture(
        *open.doc, [](const CKorvexDoc&, int, int) { return QImage(); }, folder + "/a.bmp");
    EXPECT_EQ(failed.status, SaveOutcome::Status::RenderFailed);
    EXPECT_FALSE(saveFailureText(failed, folder + "/a.bmp").isEmpty());
    EXPECT_FALSE(fs::exists(folder + "/a.bmp"));

    const SaveOutcome missing =
        saveCurrentPicture(*open.doc, renderForSave, folder + "/gone/a.bmp");
    EXPECT_EQ(missing.status, SaveOutcome::Status::WriteFailed);
    EXPECT_TRUE(saveFailureText(missing, folder + "/gone/a.bmp").contains("gone/a.bmp"));
}

// ---- The save dialog ----

// Runs `act` on the modal widget of type T once it is up.
template <class T, class Fn>
void whenModal(Fn act) {
    QTimer::singleShot(0, [act] {
        auto* widget = qobject_cast<T*>(QApplication::activeModalWidget());
        ASSERT_NE(widget, nullptr);
        act(widget);
    });
}

TEST(SaveDialog, StartsInTheLastSaveFolderAddsTheSuffixAndRemembersTheFolder) {
    OpenDocument open(PictureFormat::Jpeg, 352, 240);
    const std::string first = test::freshFolder("dialogA");
    const std::string second = test::freshFolder("dialogB");
    // The home folder until a save chose one, and again when that one is gone.
    EXPECT_EQ(saveDialogFolder(*open.doc), QDir::homePath());
    open.doc->setLastSaveFolder(first + "/gone");
    EXPECT_EQ(saveDialogFolder(*open.doc), QDir::homePath());
    open.doc->setLastSaveFolder(first);
    whenModal<QFileDialog>([&](QFileDialog* dialog) {
        EXPECT_EQ(dialog->directory().absolutePath().toStdString(), first);
        EXPECT_EQ(dialog->defaultSuffix(), "bmp");
        EXPECT_TRUE(dialog->nameFilters().join(";").contains("*.bmp"));
        dialog->selectFile(QString::fromStdString(second + "/gate"));
        static_cast<QDialog*>(dialog)->accept();
    });
    ASSERT_TRUE(saveCurrent(nullptr, *open.doc, renderForSave));
    EXPECT_EQ(fs::file_size(second + "/gate.bmp"), 278'838u);
    EXPECT_EQ(open.doc->lastSaveFolder(), second);
}

// The dialog proposes the recording's name and the frame's time; taken as it is, the file has it.
TEST(SaveDialog, ProposesANameFromTheRecordingAndTheFramesTime) {
    OpenDocument open(PictureFormat::Jpeg, 352, 240);
    const std::string folder = test::freshFolder("named");
    open.doc->setLastSaveFolder(folder);
    ASSERT_EQ(open.doc->SetPosition(1), 1);
    std::string time = gen::formatDvrTime(289'000'000);  // frame 1: 100 ms after frame 0
    std::replace(time.begin(), time.end(), ' ', '_');
    std::replace(time.begin(), time.end(), ':', '-');
    const std::string recording = fs::path(open.doc->lastOpenFolder()).filename().string();
    const std::string name = recording + "_" + time + ".bmp";
    EXPECT_EQ(saveDialogName(*open.doc).toStdString(), name);
    whenModal<QFileDialog>([&](QFileDialog* dialog) {
        ASSERT_FALSE(dialog->selectedFiles().isEmpty());
        EXPECT_EQ(dialog->selectedFiles().constFirst().toStdString(), folder + "/" + name);
        static_cast<QDialog*>(dialog)->accept();
    });
    std::string saved;
    ASSERT_TRUE(saveCurrent(nullptr, *open.doc, renderForSave, &saved));
    EXPECT_EQ(saved, folder + "/" + name);
    EXPECT_TRUE(fs::is_regular_file(saved));
}

TEST(SaveDialog, AnExistingFileIsReplacedOnlyAfterTheUserAgrees) {
    OpenDocument open(PictureFormat::Jpeg, 352, 240);
    const std::string folder = test::freshFolder("overwrite");
    const std::string path = folder + "/frame.bmp";
    { std::ofstream(path) << "keep me"; }
    open.doc->setLastSaveFolder(folder);

    // The dialog asks before it accepts the name; "No" keeps the dialog up, which is then
    // cancelled.
    bool asked = false;
    whenModal<QFileDialog>([&](QFileDialog* dialog) {
        dialog->selectFile(QString::fromStdString(path));
        QTimer::singleShot(0, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            ASSERT_NE(box, nullptr);
            asked = true;
            box->button(QMessageBox::No)->click();
        });
        static_cast<QDialog*>(dialog)->accept();
        EXPECT_TRUE(dialog->isVisible());
        dialog->reject();
    });
    EXPECT_FALSE(saveCurrent(nullptr, *open.doc, renderForSave));
    EXPECT_TRUE(asked);
    EXPECT_EQ(fs::file_size(path), 7u);
}

// ---- Printing ----

TEST(Print, RenderSizeKeepsThePrintableAreaAtNoMoreThan300Dpi) {
    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setPageSize(QPageSize(QPageSize::A4));
    printer.setResolution(1200);
    const QSize at1200(printer.width(), printer.height());
    const QSize size = printRenderSize(printer);
    EXPECT_NEAR(size.width(), at1200.width() / 4, 1);
    EXPECT_NEAR(size.height(), at1200.height() / 4, 1);
    printer.setResolution(150);
    EXPECT_EQ(printRenderSize(printer), QSize(printer.width(), printer.height()));
}

TEST(Print, TheDialogOffersOnePageAndNamesTheJob) {
    OpenDocument open(PictureFormat::Jpeg, 352, 240);
    const std::string folder = test::freshFolder("printdialog");
    for (const bool accept : {false, true}) {
        const std::string pdf = folder + (accept ? "/printed.pdf" : "/cancelled.pdf");
        QPrinter printer(QPrinter::HighResolution);
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(QString::fromStdString(pdf));
        whenModal<QPrintDialog>([&](QPrintDialog* dialog) {
            EXPECT_EQ(dialog->minPage(), 1);
            EXPECT_EQ(dialog->maxPage(), 1);
            if (accept)
                dialog->accept();
            else
                dialog->reject();
        });
        QString destination;
        EXPECT_EQ(printCurrent(nullptr, *open.doc, renderForPrint, &printer, &destination), accept);
        EXPECT_EQ(printer.docName(), "Korvex Print");
        // Where the job went, for the status bar's confirmation.
        EXPECT_EQ(destination.toStdString(), accept ? pdf : "");
        EXPECT_EQ(fs::exists(pdf), accept) << pdf;
    }
}

// Renders page 1 of a PDF to a picture when pdftoppm is installed; null otherwise.
QImage renderPdf(const std::string& pdf, int dpi) {
    const QString tool = QStandardPaths::findExecutable(QStringLiteral("pdftoppm"));
    if (tool.isEmpty())
        return {};
    const QString prefix = QString::fromStdString(pdf + "-page");
    QProcess process;
    process.start(tool, {QStringLiteral("-png"), QStringLiteral("-r"), QString::number(dpi),
                         QStringLiteral("-singlefile"), QString::fromStdString(pdf), prefix});
    if (!process.waitForFinished(60000) || process.exitCode() != 0)
        return {};
    return QImage(prefix + QStringLiteral(".png"));
}

TEST(Print, OnePageWithThePictureAndTheTitleBelowIt) {
    OpenDocument open(PictureFormat::Jpeg, 704, 480);
    open.doc->setPrintTitle("North gate, camera 2");
    const std::string pdf = test::freshFolder("print") + "/page.pdf";

    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(QString::fromStdString(pdf));
    printer.setPageSize(QPageSize(QPageSize::A4));
    printer.setPageOrientation(QPageLayout::Portrait);
    printer.setDocName("Korvex Print");
    ASSERT_EQ(printPage(printer, *open.doc, renderForPrint), PrintStatus::Printed);

    const auto bytes = readFile(pdf);
    ASSERT_GT(bytes.size(), 20'000u) << "a page with a picture on it";
    EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 5), "%PDF-");
    const std::string content(bytes.begin(), bytes.end());
    EXPECT_EQ(content.find("/Count 2"), std::string::npos) << "one page only";

    // KORVEX_KEEP_PRINT=<file> keeps the printed page for a look.
    if (const char* keep = std::getenv("KORVEX_KEEP_PRINT"))
        fs::copy_file(pdf, keep, fs::copy_options::overwrite_existing);

    const QImage page = renderPdf(pdf, 30);
    // pdftoppm comes with poppler-utils (tools/debian-packages.txt).
    ASSERT_FALSE(page.isNull()) << "pdftoppm could not render the printed page";
    // The 4:3 picture spans the printable width, centred in the printable height; above it the
    // page is white, and the title is dark in the band of 256 pixels (at 300 dpi) below it.
    const int dpi = 30;
    const QRectF area = printer.pageRect(QPrinter::Inch);
    const QImage gray = page.convertToFormat(QImage::Format_Grayscale8);
    const auto darkIn = [&](int top, int bottom) {
        int dark = 0;
        for (int y = std::max(0, top); y < std::min(gray.height(), bottom); ++y)
            for (int x = 0; x < gray.width(); ++x)
                dark += gray.constScanLine(y)[x] < 128 ? 1 : 0;
        return dark;
    };
    const double pictureHeight = area.width() * 0.75 * dpi;
    const int pictureTop =
        static_cast<int>(area.top() * dpi + (area.height() * dpi - pictureHeight) / 2);
    const int pictureBottom = static_cast<int>(pictureTop + pictureHeight);
    const int band = 256 * dpi / kPrintRenderDpi;
    EXPECT_EQ(darkIn(0, pictureTop - 4), 0) << "white above the picture";
    EXPECT_GT(darkIn(pictureTop + 4, pictureBottom - 4), 1000) << "the picture";
    EXPECT_GT(darkIn(pictureBottom + 2, pictureBottom + band), 10) << "the title under it";
    EXPECT_EQ(darkIn(pictureBottom + band + 4, gray.height()), 0) << "nothing further down";
}

}  // namespace
}  // namespace korvex
