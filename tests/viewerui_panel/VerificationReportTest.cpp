// File > Verification Report and View > Show Alteration Marks in the real window: the check runs
// beside the viewer with its progress shown, can be cancelled, saves its report (HTML or PDF),
// and the position slider then marks the altered frames while the marks are on.
#include <QFileDialog>
#include <QProgressDialog>
#include <QPushButton>
#include <QStatusBar>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "PanelTestSupport.h"
#include "viewer/resources/ResourceIds.h"
#include "viewer/shell/PositionSlider.h"

namespace korvex::test {
namespace {

class VerificationReportTest : public FrameTest {
protected:
    std::string damaged(int frames, std::map<int, gen::Damage> damage) {
        gen::RecordingSpec spec;
        spec.pictures = PictureFormat::Jpeg;
        spec.width = 64;
        spec.height = 48;
        spec.framesPerFolder = 5;
        spec.damage = std::move(damage);
        return write("rec", frames, spec, true);
    }
    PositionSlider* slider() { return qobject_cast<PositionSlider*>(control(ctl::position)); }
    // Chooses `path` in the report's save dialog once it is up, then runs the command.
    void report(const std::string& path) {
        whenModal<QFileDialog>([path](QFileDialog* dialog) {
            dialog->selectFile(QString::fromStdString(path));
            static_cast<QDialog*>(dialog)->accept();
        });
        ASSERT_TRUE(frame->action(cmd::verificationReport)->isEnabled());
        frame->action(cmd::verificationReport)->trigger();
    }
    bool finished() { return frame->verification() && frame->verification()->finished(); }
};

std::string readAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

TEST_F(VerificationReportTest, ReportIsSavedAndTheSliderMarksTheAlteredFrames) {
    ASSERT_TRUE(open(damaged(12, {{3, gen::Damage::CodedByte}, {8, gen::Damage::StoredTime}})));
    EXPECT_FALSE(frame->action(cmd::showAlterationMarks)->isChecked());
    const std::string html = root + "/report.html";
    report(html);
    ASSERT_NE(frame->verification(), nullptr);
    EXPECT_NE(frame->verification()->progressDialog(), nullptr);
    // The check runs beside the viewer: the window stays usable, not behind a modal dialog.
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    ASSERT_TRUE(waitFor([&] { return finished() && frame->note().contains("report.html"); }));
    const std::string page = readAll(html);
    EXPECT_NE(page.find("Altered: 2 frames altered"), std::string::npos);
    EXPECT_NE(page.find("id=\"report-data\""), std::string::npos);

    // The marks are off: no banners, no slider marks, though the frames are known now.
    frame->refreshAlterationMarks();
    EXPECT_TRUE(slider()->marks().empty());
    frame->routeCommand(cmd::showAlterationMarks);
    EXPECT_TRUE(frame->action(cmd::showAlterationMarks)->isChecked());
    EXPECT_EQ(slider()->marks(), (std::vector<int>{4, 9}));  // slider values are index + 1
    EXPECT_EQ(doc().settings().showAlterationMarks, 1);      // kept for the next run
    frame->routeCommand(cmd::showAlterationMarks);
    EXPECT_TRUE(slider()->marks().empty());
    EXPECT_EQ(doc().settings().showAlterationMarks, 0);
}

// A frame the viewer has shown and checked itself is marked too, before any report.
TEST_F(VerificationReportTest, FramesCheckedWhileShownAreMarked) {
    ASSERT_TRUE(open(damaged(6, {{0, gen::Damage::CodedByte}})));
    frame->routeCommand(cmd::showAlterationMarks);
    frame->refreshAlterationMarks();
    EXPECT_EQ(slider()->marks(), (std::vector<int>{1}));
    frame->routeCommand(cmd::showAlterationMarks);
}

TEST_F(VerificationReportTest, PdfFromTheViewer) {
    ASSERT_TRUE(open(damaged(4, {})));
    const std::string pdf = root + "/report.pdf";
    report(pdf);
    ASSERT_TRUE(waitFor([&] { return finished() && frame->note().contains("report.pdf"); }));
    EXPECT_EQ(readAll(pdf).rfind("%PDF", 0), 0u);
}

TEST_F(VerificationReportTest, CancelSavesNothing) {
    gen::RecordingSpec spec;
    spec.pictures = PictureFormat::Jpeg2000;
    spec.width = 352;
    spec.height = 240;
    spec.framesPerFolder = 200;
    ASSERT_TRUE(open(write("long", 400, spec, true)));
    const std::string html = root + "/never.html";
    report(html);
    ASSERT_NE(frame->verification(), nullptr);
    // The user's Cancel: the dialog's button.
    auto* cancel = frame->verification()->progressDialog()->findChild<QPushButton*>();
    ASSERT_NE(cancel, nullptr);
    cancel->click();
    ASSERT_TRUE(waitFor([&] { return finished() && !frame->note().isEmpty(); }));
    EXPECT_FALSE(std::filesystem::exists(html));
    EXPECT_TRUE(frame->note().contains("cancelled")) << frame->note().toStdString();
    EXPECT_TRUE(frame->action(cmd::verificationReport)->isEnabled());
}

}  // namespace
}  // namespace korvex::test
