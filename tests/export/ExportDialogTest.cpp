// File > Export Video in the main window: from the position slider's frame, in the layout on
// show, with a progress bar, and Cancel that leaves no file.

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>

#include "tests/export/ExportTestSupport.h"
#include "tests/support/WhenModal.h"
#include "tests/tools/ReportJson.h"
#include "tests/tools/ToolsTestSupport.h"
#include "viewer/playback/CKorvexView.h"
#include "viewer/resources/ResourceIds.h"
#include "viewer/shell/CMainFrame.h"
#include "viewer/shell/ExportDialog.h"
#include "viewer/shell/ScreenshotMode.h"

namespace korvex::test {
namespace {

class ExportDialogTest : public ExportFixture {
protected:
    void SetUp() override {
        ExportFixture::SetUp();
        frame_ = std::make_unique<CMainFrame>();
        frame_->show();
    }
    void TearDown() override {
        frame_.reset();
        ExportFixture::TearDown();
    }
    bool open(const std::string& folder) {
        return openRecordingHeadless(frame_->document(), folder, frame_.get());
    }
    std::unique_ptr<CMainFrame> frame_;
};

TEST_F(ExportDialogTest, ExportsFromTheSlidersFrameToTheLast) {
    QAction* item = frame_->action(cmd::fileExport);
    ASSERT_NE(item, nullptr);
    frame_->updateCommandUi();
    EXPECT_FALSE(item->isEnabled());  // nothing open

    const std::string rec = record("rec", smallSpec(24));
    ASSERT_TRUE(open(rec));
    frame_->updateCommandUi();
    EXPECT_TRUE(item->isEnabled());
    frame_->document().OnPositionScrolled(6);

    const std::string path = out("dialog.mp4");
    bool sawDefaults = false;
    korvex::test::whenModal<ExportDialog>([&](ExportDialog* d) {
        sawDefaults = d->fromBox()->value() == 6 && d->toBox()->value() == 24 &&
                      d->overlayBox()->isChecked() && !d->marksBox()->isChecked();
        d->fileEdit()->setText(QString::fromStdString(path));
        QTest::mouseClick(d->exportButton(), Qt::LeftButton);
    });
    frame_->routeCommand(cmd::fileExport);
    EXPECT_TRUE(sawDefaults);
    ASSERT_TRUE(fs::exists(path));
    const toolstest::Json j = toolstest::Json::parse(toolstest::readText(path + ".json"));
    EXPECT_EQ(j.at("first").at("number").get<long long>(), 6);
    EXPECT_EQ(j.at("last").at("number").get<long long>(), 24);
    EXPECT_TRUE(frame_->note().contains(QStringLiteral("Exported")));
}

TEST_F(ExportDialogTest, CancelStopsTheExportAndLeavesNoFile) {
    const std::string rec = record("rec", smallSpec(400));
    ASSERT_TRUE(open(rec));
    fs::create_directories(work_ / "out");
    const std::string path = (work_ / "out" / "cancelled.mp4").string();
    bool stopped = false;
    bool stayedOpen = false;
    korvex::test::whenModal<ExportDialog>([&](ExportDialog* d) {
        d->fileEdit()->setText(QString::fromStdString(path));
        QTest::mouseClick(d->exportButton(), Qt::LeftButton);
        EXPECT_TRUE(d->running());
        EXPECT_FALSE(d->exportButton()->isEnabled());
        QTest::mouseClick(d->cancelButton(), Qt::LeftButton);
        stopped = QTest::qWaitFor([d] { return !d->running(); }, 60000);
        stayedOpen = d->isVisible();
        EXPECT_EQ(d->outcome().result, ExportOutcome::Result::Cancelled);
        EXPECT_EQ(d->progressBar()->value(), 0);
        d->reject();  // now it closes
    });
    frame_->routeCommand(cmd::fileExport);
    EXPECT_TRUE(stopped);
    EXPECT_TRUE(stayedOpen);
    EXPECT_TRUE(filesIn(work_ / "out").empty());
    EXPECT_TRUE(frame_->note().isEmpty());
}

TEST_F(ExportDialogTest, TheRequestFollowsTheViewsLayout) {
    gen::RecordingSpec spec = smallSpec(32);
    spec.channels = {0, 1, 2, 3};
    ASSERT_TRUE(open(record("rec", spec)));
    auto* view = frame_->findChild<CKorvexView*>();
    ASSERT_NE(view, nullptr);
    ExportRequest single = exportRequestFor(frame_->document(), *view);
    EXPECT_EQ(single.panes, 1);
    EXPECT_EQ(single.channel, 0);  // the default channel the view opened with
    view->onCommand(cmd::viewImage4);
    ExportRequest four = exportRequestFor(frame_->document(), *view);
    EXPECT_EQ(four.panes, 4);
    EXPECT_EQ(std::vector<int>(four.paneChannels.begin(), four.paneChannels.begin() + 4),
              (std::vector<int>{0, 1, 2, 3}));
    EXPECT_EQ(four.to.number, 32);
}

}  // namespace
}  // namespace korvex::test
