// The Open, Searching and Date Display Format dialogs on their own and from the main frame.

#include <QAction>
#include <QComboBox>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <ctime>

#include "PanelTestSupport.h"
#include "viewer/playback/core/PanelText.h"
#include "viewer/playback/core/ScanSession.h"
#include "viewer/resources/ResourceIds.h"
#include "viewer/shell/DateFormatDialog.h"
#include "viewer/shell/OpenDialog.h"
#include "viewer/shell/SearchingDialog.h"

namespace korvex::test {
namespace {

QStringList items(QComboBox* box) {
    QStringList v;
    for (int i = 0; i < box->count(); ++i)
        v << box->itemText(i);
    return v;
}

QString today(int format, int delimiter) {
    const std::time_t now = std::time(nullptr);
    std::tm t{};
    localtime_r(&now, &t);
    return QString::fromStdString(
        dateSampleText(format, delimiter, t.tm_year + 1900, t.tm_mon + 1, t.tm_mday));
}

TEST(DateFormatDialogTest, ListsTheOrdersWithTheDelimiterAndKeepsTheChoiceWhenItChanges) {
    CDateFormatDlg dialog(1, 1);
    auto* orders = dialog.findChild<QComboBox*>(QStringLiteral("ctl1043"));
    auto* delimiters = dialog.findChild<QComboBox*>(QStringLiteral("ctl1044"));
    auto* sample = dialog.findChild<QLabel*>(QStringLiteral("ctl1045"));
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Date Display Format"));
    EXPECT_EQ(items(orders), (QStringList{"MM-dd-yyyy", "dd-MM-yyyy", "yyyy-MM-dd"}));
    EXPECT_EQ(items(delimiters), (QStringList{"/", "-", "."}));
    EXPECT_EQ(orders->currentIndex(), 1);
    EXPECT_EQ(delimiters->currentIndex(), 1);
    EXPECT_EQ(sample->text(), today(1, 1));

    delimiters->setCurrentIndex(2);  // only the delimiter: the order stays
    EXPECT_EQ(items(orders), (QStringList{"MM.dd.yyyy", "dd.MM.yyyy", "yyyy.MM.dd"}));
    EXPECT_EQ(orders->currentIndex(), 1);
    EXPECT_EQ(sample->text(), today(1, 2));
    orders->setCurrentIndex(2);
    EXPECT_EQ(sample->text(), today(2, 2));

    // Cancel returns the values given.
    dialog.reject();
    EXPECT_EQ(dialog.format(), 1);
    EXPECT_EQ(dialog.delimiter(), 1);
}

TEST_F(FrameTest, DateDisplayFormatChangesThePanelsTimes) {
    ASSERT_TRUE(open(write("rec", 2)));
    ASSERT_TRUE(text(ctl::currentTime).contains('/'));
    whenModal<CDateFormatDlg>([](CDateFormatDlg* dialog) {
        dialog->findChild<QComboBox*>(QStringLiteral("ctl1043"))->setCurrentIndex(2);
        dialog->findChild<QComboBox*>(QStringLiteral("ctl1044"))->setCurrentIndex(2);
        dialog->findChild<QPushButton*>(QStringLiteral("ctl1"))->click();
    });
    frame->action(cmd::dateFormat)->trigger();
    EXPECT_EQ(doc().dateFormat(), 2);
    EXPECT_EQ(doc().dateDelimiter(), 2);
    // A recording of 1 January 2000 (the recorders' epoch): year first, dots.
    EXPECT_EQ(text(ctl::currentTime), QStringLiteral("2000.01.01 00:00:00"));
    EXPECT_EQ(text(ctl::firstTime), QStringLiteral("2000.01.01 00:00:00"));

    whenModal<CDateFormatDlg>([](CDateFormatDlg* dialog) {
        dialog->findChild<QComboBox*>(QStringLiteral("ctl1043"))->setCurrentIndex(0);
        dialog->reject();
    });
    frame->action(cmd::dateFormat)->trigger();
    EXPECT_EQ(doc().dateFormat(), 2);
}

TEST(OpenDialogTest, BrowseReplacesTheFolderOnlyWhenOneIsPicked) {
    QString picked;
    QString startedAt;
    COpenDlg::setFolderPicker([&](QWidget*, const QString& start) {
        startedAt = start;
        return picked;
    });
    COpenDlg dialog(QStringLiteral("/media/dvr"));
    auto* edit = dialog.findChild<QLineEdit*>(QStringLiteral("ctl1008"));
    auto* browse = dialog.findChild<QPushButton*>(QStringLiteral("ctl1000"));
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Open"));
    EXPECT_EQ(edit->text(), QStringLiteral("/media/dvr"));
    browse->click();  // the picker is cancelled
    EXPECT_EQ(startedAt, QStringLiteral("/media/dvr"));
    EXPECT_EQ(edit->text(), QStringLiteral("/media/dvr"));
    picked = QStringLiteral("/media/dvr/2024-01-01");
    browse->click();
    EXPECT_EQ(edit->text(), picked);
    edit->setText(QStringLiteral("/typed/by hand"));
    dialog.findChild<QPushButton*>(QStringLiteral("ctl1"))->click();
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(dialog.path(), QStringLiteral("/typed/by hand"));
    COpenDlg::setFolderPicker({});
}

TEST(SearchingDialogTest, BarCyclesUntilCancelRaisesTheFlag) {
    std::atomic<bool> cancel{false};
    ScanSession scan(cancel);
    std::atomic<long long> found{0};
    scan.start(
        [&] {
            for (int i = 0; i < 60000 && !cancel.load(); ++i) {
                found = i;
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
            return 0;
        },
        [&] { return found.load(); });
    CSearchDlg dialog(scan);
    auto* bar = dialog.findChild<QProgressBar*>(QStringLiteral("ctl1052"));
    EXPECT_EQ(bar->minimum(), 1);
    EXPECT_EQ(bar->maximum(), 10);
    std::vector<int> seen;
    whenModal<CSearchDlg>([&](CSearchDlg* shown) {
        // The bar goes round: to 10, then from 1 again.
        EXPECT_TRUE(waitFor([&] { return bar->value() == 10; }));
        EXPECT_TRUE(waitFor([&] { return bar->value() == 1; }));
        EXPECT_TRUE(waitFor([&] {
            return shown->findChild<QLabel*>(QStringLiteral("ctl1060"))
                ->text()
                .endsWith(QStringLiteral("image files found"));
        }));
        shown->findChild<QPushButton*>(QStringLiteral("ctl2"))->click();
    });
    EXPECT_EQ(dialog.exec(), QDialog::Rejected);
    EXPECT_TRUE(scan.cancelled());
    EXPECT_EQ(scan.join(), 0);
}

TEST(SearchingDialogTest, ClosesItselfWhenTheScanEnds) {
    std::atomic<bool> cancel{false};
    ScanSession scan(cancel);
    scan.start([] { return 1; });
    CSearchDlg dialog(scan);
    EXPECT_EQ(dialog.exec(), QDialog::Accepted);
    EXPECT_FALSE(scan.cancelled());
    EXPECT_EQ(scan.join(), 1);
}

}  // namespace
}  // namespace korvex::test
