#include "viewer/shell/ScreenshotMode.h"

#include <QCoreApplication>
#include <QLayout>
#include <QPixmap>
#include <QWidget>
#include <algorithm>
#include <cstdio>
#include <memory>

#include "viewer/playback/CKorvexDoc.h"
#include "viewer/playback/CKorvexView.h"
#include "viewer/playback/core/ScanSession.h"
#include "viewer/playback/core/ViewCommands.h"
#include "viewer/resources/ResourceIds.h"
#include "viewer/shell/CKorvexApp.h"

namespace korvex {

namespace {

// The main window's size when it is created.
constexpr int kWindowWidth = 810;
constexpr int kWindowHeight = 748;

// Stands in for the main frame's shell while a recording opens without a window: no Open or
// Searching dialog, no wait cursor; everything else goes to the real shell when there is one.
class HeadlessShell : public ShellPort {
public:
    explicit HeadlessShell(ShellPort* inner) : inner_(inner) {}

    bool pumpMessages() override { return inner_ == nullptr || inner_->pumpMessages(); }
    void disableClose() override {
        if (inner_ != nullptr)
            inner_->disableClose();
    }
    void enableClose() override {
        if (inner_ != nullptr)
            inner_->enableClose();
    }
    bool runOpenDialog(const std::string& /*initialFolder*/, std::string& /*folder*/) override {
        return false;
    }
    // The worker waits for the dialog's window before it scans; with no window to wait for it
    // is let go at once, and the document then waits for the scan's end.
    void runSearchingDialog(ScanSession& scan) override {
        scan.attachReceiver([] {});
    }
    void setWaitCursor(bool /*on*/) override {}
    void recordingKindChanged(const RecordingKind& kind) override {
        if (inner_ != nullptr)
            inner_->recordingKindChanged(kind);
    }
    void updateCommandUi() override {
        if (inner_ != nullptr)
            inner_->updateCommandUi();
    }
    void openFinished(const std::string& folder, OpenOutcome outcome) override {
        if (inner_ != nullptr)
            inner_->openFinished(folder, outcome);
    }
    // No box without a window: the terminal is told instead.
    void reportUnreadableParts(const std::string& /*folder*/,
                               const std::vector<std::string>& parts) override {
        for (const std::string& part : parts)
            std::fprintf(stderr, "korvex: cannot read %s\n", part.c_str());
    }

private:
    ShellPort* inner_;
};

// The user's display settings for a document that must not write them back: a screenshot
// changes nothing in the store.
class ReadOnlySettings : public SettingsPort {
public:
    explicit ReadOnlySettings(const CKorvexApp& app) : app_(app) {}
    ViewerSettings load() override { return app_.LoadSettings(); }
    void save(const ViewerSettings& /*settings*/) override {}

private:
    const CKorvexApp& app_;
};

int viewImageCommandFor(int panes) {
    switch (panes) {
        case 4:
            return cmd::viewImage4;
        case 9:
            return cmd::viewImage9;
        case 16:
            return cmd::viewImage16;
        default:
            return cmd::viewImage1;
    }
}

// A window that was never shown has not laid out its children yet.
void layOut(QWidget* top) {
    top->ensurePolished();
    QCoreApplication::sendPostedEvents();
    QList<QWidget*> widgets = top->findChildren<QWidget*>();
    widgets.prepend(top);
    for (QWidget* w : widgets) {
        w->ensurePolished();
        if (QLayout* layout = w->layout())
            layout->activate();
    }
    QCoreApplication::sendPostedEvents();
}

QString tr(const char* text) {
    return QString::fromUtf8(text);
}

}  // namespace

bool openRecordingHeadless(CKorvexDoc& doc, const std::string& folder, ShellPort* shell) {
    HeadlessShell headless(shell);
    doc.setShellPort(&headless);
    const bool opened = doc.OpenRecordingFolder(folder);
    doc.setShellPort(shell);
    return opened && doc.source() != nullptr && doc.source()->count() > 0;
}

ScreenshotResult renderScreenshot(CKorvexApp& app) {
    ScreenshotResult result;
    const LaunchOptions& options = app.launchOptions();
    if (options.screenshotPath.empty()) {
        result.error = tr("no --screenshot file named");
        return result;
    }
    if (options.folder.empty()) {
        result.error = tr("--screenshot needs a recording folder");
        return result;
    }

    QWidget* frame = app.mainFrame();
    CKorvexView* view = frame != nullptr ? frame->findChild<CKorvexView*>() : nullptr;
    // Without a main frame that holds the view, the view alone stands for the window.
    ReadOnlySettings settings(app);
    std::unique_ptr<CKorvexDoc> ownDoc;
    std::unique_ptr<CKorvexView> ownView;
    if (view == nullptr) {
        DocumentServices services;
        services.settings = &settings;
        ownDoc = std::make_unique<CKorvexDoc>(std::move(services));
        ownDoc->setCheckMode(app.checkMode());
        ownView = std::make_unique<CKorvexView>(*ownDoc);
        ownDoc->setViewPort(ownView.get());
        ownView->resize(kWindowWidth, kWindowHeight);
        view = ownView.get();
        frame = nullptr;
    }
    // The view goes before its document; the document must not call it meanwhile.
    struct Teardown {
        std::unique_ptr<CKorvexDoc>& doc;
        std::unique_ptr<CKorvexView>& view;
        ~Teardown() {
            if (doc)
                doc->setViewPort(nullptr);
            view.reset();
            doc.reset();
        }
    } teardown{ownDoc, ownView};

    CKorvexDoc& doc = view->document();
    // The start-up may have opened the folder already.
    if (doc.source() == nullptr || doc.source()->count() == 0) {
        if (!openRecordingHeadless(doc, options.folder, dynamic_cast<ShellPort*>(frame))) {
            result.error =
                tr("no recording with frames in %1").arg(QString::fromStdString(options.folder));
            return result;
        }
    }

    if (options.screenshotPanes != 1) {
        // The layouts the window would refuse (a recording without channel information allows
        // one pane only) are refused here too, rather than drawn as empty panes.
        const int command = viewImageCommandFor(options.screenshotPanes);
        CommandState state;
        if (view->updateCommand(command, state) && state.enabled) {
            view->onCommand(command);
        } else {
            result.notes << tr("the recording has no channels, so --panes %1 was ignored")
                                .arg(options.screenshotPanes);
        }
    }
    const int count = doc.source() != nullptr ? doc.source()->count() : 0;
    if (options.screenshotFrame < 1 || options.screenshotFrame > count) {
        result.error = tr("--frame %1: the recording shows %2 frames in this layout")
                           .arg(options.screenshotFrame)
                           .arg(count);
        return result;
    }
    const int target = options.screenshotFrame - 1;
    if (view->isMultiPane()) {
        // Panes show the last frame of their channel; the frames just before the chosen one
        // fill them as playback would have.
        const int from = std::max(0, target - 2 * view->paneCount());
        for (int i = from; i < target; ++i) {
            doc.SetPosition(i);
            view->captureCurrentFrame();
        }
    }
    doc.OnPositionScrolled(options.screenshotFrame);

    QWidget* shot = frame != nullptr ? frame : view;
    layOut(shot);
    result.image = shot->grab().toImage();
    if (result.image.isNull()) {
        result.error = tr("the window could not be rendered");
        return result;
    }
    result.ok = true;
    return result;
}

int runScreenshot(CKorvexApp& app) {
    const ScreenshotResult shot = renderScreenshot(app);
    const QString path = QString::fromStdString(app.launchOptions().screenshotPath);
    for (const QString& note : shot.notes)
        std::fprintf(stderr, "korvex: screenshot: %s\n", qPrintable(note));
    if (!shot.ok) {
        std::fprintf(stderr, "korvex: screenshot: %s\n", qPrintable(shot.error));
        return 1;
    }
    if (!shot.image.save(path, "PNG")) {
        std::fprintf(stderr, "korvex: screenshot: cannot write %s\n", qPrintable(path));
        return 1;
    }
    return 0;
}

}  // namespace korvex
