#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <QSettings>
#include <QTimer>
#include <string>
#include <vector>

#include "viewer/playback/CKorvexDoc.h"
#include "viewer/shell/TitleInputDialog.h"
#include "viewer/shell/UserStore.h"

namespace korvex {
namespace {

using History = std::vector<std::string>;

History tenTitles() {
    History h;
    for (int i = 1; i <= 10; ++i)
        h.push_back("title " + std::to_string(i));
    return h;
}

struct EnterCase {
    const char* name;
    History before;
    std::string entered;
    History after;
};

class EnterTitleTest : public ::testing::TestWithParam<EnterCase> {};

TEST_P(EnterTitleTest, MovesOrInsertsAtTheFront) {
    const EnterCase& c = GetParam();
    EXPECT_EQ(enterTitle(c.before, c.entered), c.after);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, EnterTitleTest,
    ::testing::Values(
        EnterCase{"first", {}, "Gate", {"Gate"}},
        EnterCase{"third_moves_to_front", {"a", "b", "Gate", "d"}, "Gate", {"Gate", "a", "b", "d"}},
        EnterCase{"front_stays", {"Gate", "a"}, "Gate", {"Gate", "a"}},
        // Compared byte for byte: a different case is another title.
        EnterCase{"case_differs", {"gate"}, "Gate", {"Gate", "gate"}},
        // Only the first equal entry moves (a hand-edited profile may hold two).
        EnterCase{"first_duplicate_only", {"x", "y", "x"}, "x", {"x", "y", "x"}},
        EnterCase{"eleventh_drops_oldest",
                  tenTitles(),
                  "new",
                  {"new", "title 1", "title 2", "title 3", "title 4", "title 5", "title 6",
                   "title 7", "title 8", "title 9"}},
        EnterCase{"known_title_keeps_ten",
                  tenTitles(),
                  "title 10",
                  {"title 10", "title 1", "title 2", "title 3", "title 4", "title 5", "title 6",
                   "title 7", "title 8", "title 9"}},
        EnterCase{"empty_title_goes_in_front", {"a", "b"}, "", {"", "a", "b"}}),
    [](const auto& info) { return std::string(info.param.name); });

class TitleProfileTest : public ::testing::Test {
protected:
    void SetUp() override {
        profile_ = openProfile();
        profile_->remove(QString::fromLatin1(kTitleHistorySection));
        profile_->sync();
    }
    std::unique_ptr<QSettings> profile_;
};

TEST_F(TitleProfileTest, HistoryRoundTripsThroughTheProfileFile) {
    const History entered = enterTitle(tenTitles(), "");
    ASSERT_TRUE(writeTitleHistory(*profile_, entered));

    // A second store object reads the file afresh: key "1" is empty and not listed, key "10"
    // holds the ninth title.
    auto reread = openProfile();
    EXPECT_EQ(reread->value("Print Title/1").toString(), "");
    EXPECT_EQ(reread->value("Print Title/10").toString(), "title 9");
    History expected = tenTitles();
    expected.pop_back();
    EXPECT_EQ(readTitleHistory(*reread), expected);

    // A shorter history blanks the keys past its end.
    ASSERT_TRUE(writeTitleHistory(*profile_, {"only"}));
    reread = openProfile();
    EXPECT_EQ(readTitleHistory(*reread), History{"only"});
    EXPECT_TRUE(reread->contains("Print Title/10"));
}

TEST_F(TitleProfileTest, ReadingSkipsEmptyValuesAndListsAndKeepsKeyOrder) {
    profile_->setValue("Print Title/3", "third");
    profile_->setValue("Print Title/1", "first");
    profile_->setValue("Print Title/2", "");
    profile_->setValue("Print Title/5", QStringList{"a", "b"});
    profile_->setValue("Print Title/11", "beyond ten");
    profile_->setValue("Print Title/10", "日本語のタイトル");
    profile_->setValue("Print Title/4", QString(100000, QLatin1Char('x')));
    profile_->sync();
    const std::string cut(kMaxTitleLength, 'x');  // one line's worth of a huge hand-made value
    EXPECT_EQ(readTitleHistory(*openProfile()),
              (History{"first", "third", cut, "日本語のタイトル"}));
}

TEST_F(TitleProfileTest, DialogListsTheHistoryAndStoresTheEnteredTitleOnOk) {
    ASSERT_TRUE(writeTitleHistory(*profile_, {"a", "b", "Gate", "d"}));
    TitleInputDialog dialog("current title", *profile_);
    QComboBox* combo = dialog.findChild<QComboBox*>("ctl1038");
    ASSERT_NE(combo, nullptr);
    EXPECT_EQ(combo->count(), 4);
    EXPECT_EQ(combo->itemText(2), "Gate");
    EXPECT_EQ(combo->currentText(), "current title");

    combo->setCurrentIndex(2);
    dialog.accept();
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(dialog.title(), "Gate");
    EXPECT_EQ(readTitleHistory(*openProfile()), (History{"Gate", "a", "b", "d"}));
}

TEST_F(TitleProfileTest, CancelChangesNeitherTheTitleNorTheHistory) {
    ASSERT_TRUE(writeTitleHistory(*profile_, {"kept"}));
    CKorvexDoc doc;
    doc.setPrintTitle("before");
    QTimer::singleShot(0, [] {
        auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        dialog->findChild<QComboBox*>("ctl1038")->setEditText("typed, then cancelled");
        dialog->reject();
    });
    EXPECT_FALSE(runTitleInput(nullptr, doc));
    EXPECT_EQ(doc.printTitle(), "before");
    EXPECT_EQ(readTitleHistory(*openProfile()), History{"kept"});
}

TEST_F(TitleProfileTest, RunTitleInputSetsThePrintTitleFromTheEditField) {
    CKorvexDoc doc;
    doc.setPrintTitle("old");
    QTimer::singleShot(0, [] {
        auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        auto* combo = dialog->findChild<QComboBox*>("ctl1038");
        EXPECT_EQ(combo->currentText(), "old");
        combo->setEditText("North gate, camera 2");
        dialog->accept();
    });
    EXPECT_TRUE(runTitleInput(nullptr, doc));
    EXPECT_EQ(doc.printTitle(), "North gate, camera 2");
    EXPECT_EQ(readTitleHistory(*openProfile()), History{"North gate, camera 2"});
}

}  // namespace
}  // namespace korvex
