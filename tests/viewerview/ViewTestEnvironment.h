#pragma once

#include <QImage>
#include <QSize>
#include <memory>
#include <string>

#include "tests/support/GuiTestEnvironment.h"
#include "tools/recgen/RecordingWriter.h"
#include "viewer/playback/CKorvexDoc.h"
#include "viewer/playback/CKorvexView.h"
#include "viewer/shell/CKorvexApp.h"

namespace korvex::test {

// The application object of the run: fixes the time zone and carries the check mode.
CKorvexApp& application();
// A new empty folder under the system's temporary folder; the caller removes it.
std::string makeTempFolder(const std::string& tag);

// Four titled channels of 704 x 480 JPEG pictures without sound, frames interleaved 0, 1, 2, 3.
gen::RecordingSpec fourChannelSpec(int frames);

// A generated recording opened in a document with a view of `viewSize` (never shown).
struct OpenRecording {
    std::string folder;
    gen::RecordingResult written;
    std::unique_ptr<CKorvexDoc> doc;
    std::unique_ptr<CKorvexView> view;
    bool opened = false;

    ~OpenRecording();
    // The view's paint as it would reach the window.
    QImage render() { return view->renderView(view->size()); }
};

// Writes `spec` into a new folder, lets `spoil` change files before the open (may be empty),
// then opens it headless. `opened` tells whether the open found frames.
std::unique_ptr<OpenRecording> openGenerated(
    const gen::RecordingSpec& spec, QSize viewSize = QSize(800, 600),
    const std::function<void(const gen::RecordingResult&)>& spoil = {});

}  // namespace korvex::test
