#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <memory>
#include <string>

#include "tests/support/GuiTestEnvironment.h"
#include "tests/support/WhenModal.h"
#include "tools/recgen/RecordingWriter.h"
#include "viewer/shell/CDVRFormView.h"
#include "viewer/shell/CMainFrame.h"

namespace korvex::test {

// Processes events until `done` holds or `timeoutMs` passed; true when it held.
bool waitFor(const std::function<bool()>& done, int timeoutMs = 30000);

// A frame with its own scratch folder for recordings; the window is shown (offscreen).
class FrameTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Writes a recording under the scratch folder. Defaults: 64 x 48 JPEG frames, 100 ms apart,
    // WAV sound, subfolders of 5, one channel.
    std::string write(const std::string& name, int frames, gen::RecordingSpec spec = {},
                      bool keepSpec = false);
    // Opens `folder` the way File > Open does after its dialog (Searching dialog included).
    bool open(const std::string& folder);

    CKorvexDoc& doc() { return frame->document(); }
    CDVRFormView& panel() { return *frame->panel(); }
    QWidget* control(int id) { return panel().control(id); }
    QString text(int id) { return qobject_cast<QLabel*>(control(id))->text(); }
    int currentIndex() { return doc().source() ? doc().source()->currentIndex() : -1; }
    // Clicks a panel button; returns when its handler (a whole playback loop) has returned.
    void click(int id);

    std::unique_ptr<CMainFrame> frame;
    std::string root;
};

}  // namespace korvex::test
