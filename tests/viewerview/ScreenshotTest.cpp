#include <gtest/gtest.h>

#include <QImage>
#include <QProcess>
#include <QProcessEnvironment>
#include <cstdlib>
#include <filesystem>

#include "ViewTestEnvironment.h"

namespace korvex {
namespace {

namespace fs = std::filesystem;

struct ProgramRun {
    int exitCode = -1;
    QString errors;
};

// The built program and the brand tool, named by the build.
class ScreenshotTest : public ::testing::Test {
protected:
    void SetUp() override {
        const char* bin = std::getenv("KORVEX_BIN");
        const char* brand = std::getenv("KORVEX_BRAND");
        ASSERT_TRUE(bin != nullptr && brand != nullptr) << "KORVEX_BIN and KORVEX_BRAND unset";
        program_ = QString::fromLocal8Bit(bin);
        work_ = test::makeTempFolder("korvex-shot");
        recording_ = (fs::path(work_) / "rec").string();
        gen::RecordingSpec spec = test::fourChannelSpec(16);
        spec.damage = {{4, gen::Damage::CodedByte}};
        ASSERT_TRUE(gen::writeRecording(recording_, spec).ok);
        // The viewer reads its brand file from the current folder.
        QProcess tool;
        tool.start(QString::fromLocal8Bit(brand),
                   {"--brand", "0", "--dir", QString::fromStdString(work_)});
        ASSERT_TRUE(tool.waitForFinished(30000));
        ASSERT_EQ(tool.exitCode(), 0);
    }
    void TearDown() override {
        std::error_code ec;
        if (!work_.empty())
            fs::remove_all(work_, ec);
    }

    // Without a display (DISPLAY, WAYLAND_DISPLAY and QT_QPA_PLATFORM all unset), as a script on
    // a server runs it, unless `offscreen` names the platform.
    ProgramRun run(const QStringList& arguments, const QString& lang = QStringLiteral("C.UTF-8"),
                   bool offscreen = true) {
        QProcess process;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"LANGUAGE", "LC_ALL", "LC_MESSAGES"})
            env.remove(QString::fromLatin1(name));
        env.insert(QStringLiteral("LANG"), lang);
        if (offscreen) {
            env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        } else {
            for (const char* name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"})
                env.remove(QString::fromLatin1(name));
        }
        process.setProcessEnvironment(env);
        process.setWorkingDirectory(QString::fromStdString(work_));
        process.start(program_, arguments);
        ProgramRun r;
        if (!process.waitForFinished(120000)) {
            process.kill();
            process.waitForFinished();
            r.errors = QStringLiteral("timed out");
            return r;
        }
        r.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -2;
        r.errors = QString::fromLocal8Bit(process.readAllStandardError());
        return r;
    }

    QString out(const char* name) const {
        return QString::fromStdString((fs::path(work_) / name).string());
    }
    QString rec() const { return QString::fromStdString(recording_); }

    QString program_;
    std::string work_;
    std::string recording_;
};

TEST_F(ScreenshotTest, WritesTheWindowInEnglishAndJapanese) {
    const ProgramRun en =
        run({"--screenshot", out("en.png"), "--frame", "3", "--panes", "4", "--check", rec()});
    ASSERT_EQ(en.exitCode, 0) << en.errors.toStdString();
    const QImage english(out("en.png"));
    ASSERT_FALSE(english.isNull());
    EXPECT_EQ(english.size(), QSize(810, 748));

    const ProgramRun ja =
        run({"--screenshot", out("ja.png"), "--frame", "3", "--panes", "4", "--check", rec()},
            QStringLiteral("ja_JP.UTF-8"));
    ASSERT_EQ(ja.exitCode, 0) << ja.errors.toStdString();
    const QImage japanese(out("ja.png"));
    ASSERT_EQ(japanese.size(), QSize(810, 748));
    // The texts differ (menus, panel), so the pictures do.
    EXPECT_NE(english.convertToFormat(QImage::Format_RGB32),
              japanese.convertToFormat(QImage::Format_RGB32));

    const ProgramRun single = run({"--screenshot", out("one.png"), rec()});
    ASSERT_EQ(single.exitCode, 0) << single.errors.toStdString();
    EXPECT_EQ(QImage(out("one.png")).size(), QSize(810, 748));

    // No display at all: the program picks the offscreen platform itself, and draws the same.
    const ProgramRun headless =
        run({"--screenshot", out("headless.png"), rec()}, QStringLiteral("C.UTF-8"), false);
    ASSERT_EQ(headless.exitCode, 0) << headless.errors.toStdString();
    EXPECT_EQ(QImage(out("headless.png")).convertToFormat(QImage::Format_RGB32),
              QImage(out("one.png")).convertToFormat(QImage::Format_RGB32));
}

TEST_F(ScreenshotTest, PanesAreIgnoredForARecordingWithoutChannels) {
    const std::string plain = (fs::path(work_) / "plain").string();
    gen::RecordingSpec spec = test::fourChannelSpec(8);
    spec.writeInfo = false;
    ASSERT_TRUE(gen::writeRecording(plain, spec).ok);
    const QString folder = QString::fromStdString(plain);
    ASSERT_EQ(run({"--screenshot", out("one.png"), "--frame", "5", folder}).exitCode, 0);
    const ProgramRun nine =
        run({"--screenshot", out("nine.png"), "--panes", "9", "--frame", "5", folder});
    ASSERT_EQ(nine.exitCode, 0) << nine.errors.toStdString();
    EXPECT_TRUE(nine.errors.contains("has no channels, so --panes 9 was ignored"))
        << nine.errors.toStdString();
    // One pane, as the window would show it.
    EXPECT_EQ(QImage(out("nine.png")).convertToFormat(QImage::Format_RGB32),
              QImage(out("one.png")).convertToFormat(QImage::Format_RGB32));
}

TEST_F(ScreenshotTest, FailsClearlyWithoutWritingAFile) {
    const std::string empty = (fs::path(work_) / "empty").string();
    fs::create_directories(empty);
    const ProgramRun none = run({"--screenshot", out("none.png"), QString::fromStdString(empty)});
    EXPECT_NE(none.exitCode, 0);
    EXPECT_TRUE(none.errors.contains(QStringLiteral("no recording"))) << none.errors.toStdString();
    // The reason comes first, as a window's status bar would give it.
    EXPECT_TRUE(none.errors.contains(QStringLiteral("is not a recording")))
        << none.errors.toStdString();
    EXPECT_FALSE(fs::exists(out("none.png").toStdString()));

    const ProgramRun past = run({"--screenshot", out("past.png"), "--frame", "999", rec()});
    EXPECT_NE(past.exitCode, 0);
    EXPECT_TRUE(past.errors.contains(QStringLiteral("--frame"))) << past.errors.toStdString();
    EXPECT_FALSE(fs::exists(out("past.png").toStdString()));

    const ProgramRun noFolder = run({"--screenshot", out("nf.png")});
    EXPECT_NE(noFolder.exitCode, 0);
    EXPECT_FALSE(noFolder.errors.isEmpty());

    const ProgramRun badPanes = run({"--screenshot", out("bp.png"), "--panes", "5", rec()});
    EXPECT_NE(badPanes.exitCode, 0);
}

}  // namespace
}  // namespace korvex
