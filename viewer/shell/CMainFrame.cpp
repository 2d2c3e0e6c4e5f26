#include "viewer/shell/CMainFrame.h"

#include <QAbstractButton>
#include <QAbstractSlider>
#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QFrame>
#include <QGuiApplication>
#include <QImage>
#include <QKeyEvent>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QShortcut>
#include <QStatusBar>
#include <QTimer>
#include <QToolBar>
#include <QUrl>
#include <QVBoxLayout>
#include <algorithm>
#include <span>

#include "viewer/playback/CKorvexView.h"
#include "viewer/resources/ResourceIds.h"
#include "viewer/resources/Resources.h"
#include "viewer/shell/CDVRFormView.h"
#include "viewer/shell/CKorvexApp.h"
#include "viewer/shell/DateFormatDialog.h"
#include "viewer/shell/ExportDialog.h"
#include "viewer/shell/OpenDialog.h"
#include "viewer/shell/PrintJob.h"
#include "viewer/shell/SaveBitmap.h"
#include "viewer/shell/SearchingDialog.h"
#include "viewer/shell/TitleInputDialog.h"
#include "viewer/shell/core/StatusNotes.h"

namespace korvex {

namespace {

constexpr int kPanelRowHeight = 80;

// The document's settings live in the application object's per-user store.
class AppSettingsPort : public SettingsPort {
public:
    explicit AppSettingsPort(CKorvexApp& app) : app_(app) {}
    ViewerSettings load() override { return app_.LoadSettings(); }
    void save(const ViewerSettings& settings) override { app_.SaveSettings(settings); }

private:
    CKorvexApp& app_;
};

// The toolbar button of `commandId` from strip 127, its magenta made transparent.
QIcon toolbarButtonIcon(int commandId) {
    const std::span<const int> commands = toolbarCommands();
    const auto it = std::find(commands.begin(), commands.end(), commandId);
    if (it == commands.end())
        return {};
    const QImage strip = loadPicture(ResourceKind::Toolbar, bmp::toolbar);
    if (strip.isNull())
        return {};
    QImage button = strip.copy(static_cast<int>(it - commands.begin()) * 16, 0, 16, 15)
                        .convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < button.height(); ++y) {
        auto* row = reinterpret_cast<QRgb*>(button.scanLine(y));
        for (int x = 0; x < button.width(); ++x) {
            if ((row[x] & 0xFFFFFFu) == 0xFF00FFu)
                row[x] = qRgba(0, 0, 0, 0);
        }
    }
    return QIcon(QPixmap::fromImage(button));
}

}  // namespace

CMainFrame::CMainFrame(Setup setup, QWidget* parent) : QMainWindow(parent) {
    setObjectName(QStringLiteral("mainFrame"));
    setAttribute(Qt::WA_DeleteOnClose, false);
    CKorvexApp* app = CKorvexApp::instance();
    if (setup.services.settings == nullptr && app != nullptr && app->brandIndex() >= 0) {
        appSettings_ = std::make_unique<AppSettingsPort>(*app);
        setup.services.settings = appSettings_.get();
    }
    if (setup.services.soundMessages == nullptr)
        setup.services.soundMessages = this;
    doc_ = std::make_unique<CKorvexDoc>(std::move(setup.services));
    doc_->setCheckMode(app != nullptr && app->checkMode());

    const int templateId = app != nullptr ? app->templateId() : 127;
    setWindowTitle(app != nullptr ? app->windowTitle()
                                  : QString::fromStdString(
                                        templateField(loadString(uiLanguage(), templateId), 0)));
    setWindowIcon(programIcon(templateId));
    resize(810, 748);
    setMinimumSize(345, 440);

    createMenusAndToolbar(templateId);
    createClientArea(setup.volume);

    doc_->setShellPort(this);
    doc_->setPanelPort(panel_);
    doc_->setViewPort(viewPort_);

    setAcceptDrops(true);
    for (const int key : {int(Qt::Key_Space), int(Qt::Key_Left), int(Qt::Key_Right)}) {
        auto* shortcut = new QShortcut(QKeySequence(key), this);
        connect(shortcut, &QShortcut::activated, this, [this, key] { pressTransportKey(key); });
    }
    // A quit of the application ends a running loop instead of waiting behind it.
    qApp->installEventFilter(this);
    updateCommandUi();
}

CMainFrame::~CMainFrame() {
    qApp->removeEventFilter(this);
    doc_->RequestShutdown();
    // The view and the panel refer to the document: they go first, then the document (which
    // saves the settings).
    doc_->setViewPort(nullptr);
    doc_->setPanelPort(nullptr);
    doc_->setShellPort(nullptr);
    viewWidget_ = nullptr;
    viewPort_ = nullptr;
    viewCommands_ = nullptr;
    panel_ = nullptr;
    delete takeCentralWidget();
    doc_.reset();
}

// ---- Building the window ----

QAction* CMainFrame::actionFor(int id, const QString& text) {
    if (QAction* existing = actions_.value(id))
        return existing;
    // A toolbar button without a menu item is named by its tooltip.
    QAction* action = createCommandAction(id, text.isEmpty() ? resToolTip(id) : text, this);
    if (!resToolTip(id).isEmpty())
        action->setToolTip(resToolTip(id));
    connect(action, &QAction::triggered, this, [this, id] { routeCommand(id); });
    actions_.insert(id, action);
    return action;
}

void CMainFrame::createMenusAndToolbar(int templateId) {
    populateMenuBar(menuBar(), menuResource(uiLanguage(), templateId),
                    [this](int id, const QString& text) { return actionFor(id, text); });
    for (QMenu* menu : menuBar()->findChildren<QMenu*>())
        connect(menu, &QMenu::aboutToShow, this, &CMainFrame::updateCommandUi);

    toolBar_ = new QToolBar(this);
    toolBar_->setObjectName(QStringLiteral("toolbar%1").arg(bmp::toolbar));
    toolBar_->setIconSize(QSize(16, 15));
    toolBar_->setMovable(true);
    toolBar_->setAllowedAreas(Qt::AllToolBarAreas);
    for (int id : toolbarCommands()) {
        QAction* action = actionFor(id, QString());
        action->setIcon(toolbarButtonIcon(id));
        toolBar_->addAction(action);
        // Separators after Print and after 16 Image.
        if (id == cmd::filePrint || id == cmd::viewImage16)
            toolBar_->addSeparator();
    }
    addToolBar(Qt::TopToolBarArea, toolBar_);

    // The idle text comes back whenever a command's help text goes.
    statusBar()->showMessage(resString(strid::idleText));
    connect(statusBar(), &QStatusBar::messageChanged, this, [this](const QString& message) {
        if (message.isEmpty())
            statusBar()->showMessage(!note_.isEmpty()        ? note_
                                     : !soundNote_.isEmpty() ? soundNote_
                                                             : resString(strid::idleText));
    });
}

void CMainFrame::createClientArea(VolumeControl* volume) {
    auto* client = new QWidget(this);
    client->setObjectName(QStringLiteral("client"));
    auto* rows = new QVBoxLayout(client);
    rows->setContentsMargins(0, 0, 0, 0);
    rows->setSpacing(0);

    auto* view = new CKorvexView(*doc_, client);
    view->setObjectName(QStringLiteral("imageView"));
    view->setMinimumSize(100, 10);
    // A click on the picture takes the focus from a slider, so the arrows step frames again.
    view->setFocusPolicy(Qt::ClickFocus);
    viewWidget_ = view;
    viewPort_ = view;
    viewCommands_ = view;

    // The splitter bar: fixed, drawn in the 3-D face colour.
    auto* bar = new QFrame(client);
    bar->setFrameShape(QFrame::HLine);
    bar->setFrameShadow(QFrame::Raised);
    bar->setFixedHeight(4);

    panel_ = new CDVRFormView(*doc_, volume, client);
    panel_->setFixedHeight(kPanelRowHeight);
    panel_->setViewPort(viewPort_);
    view->setPanelPort(panel_);
    connect(panel_, &CDVRFormView::transportPressed, this, &CMainFrame::clearNote);

    rows->addWidget(viewWidget_, 1);
    rows->addWidget(bar, 0);
    rows->addWidget(panel_, 0);
    setCentralWidget(client);
}

QWidget* CMainFrame::GetPane(int row) const {
    return row == 0 ? viewWidget_ : row == 1 ? static_cast<QWidget*>(panel_) : nullptr;
}

void CMainFrame::RedrawView(bool erase) {
    if (viewWidget_ == nullptr)
        return;
    if (erase)
        viewWidget_->update();
    viewWidget_->repaint();
}

// ---- Commands ----

std::vector<CommandTarget*> CMainFrame::routing() const {
    std::vector<CommandTarget*> targets;
    if (viewCommands_ != nullptr)
        targets.push_back(viewCommands_);
    targets.push_back(doc_.get());
    targets.push_back(const_cast<CMainFrame*>(this));
    return targets;
}

bool CMainFrame::routeCommand(int id) {
    clearNote();
    bool handled = false;
    for (CommandTarget* target : routing()) {
        if (target->onCommand(id)) {
            handled = true;
            break;
        }
    }
    if (!handled) {
        // The application's commands: the About box of the brand.
        if ((id == cmd::appAbout || id == cmd::aboutBrand) && CKorvexApp::instance() != nullptr) {
            CKorvexApp::instance()->OnAppAbout();
            handled = true;
        }
    }
    updateCommandUi();
    return handled;
}

void CMainFrame::updateCommandUi() {
    for (auto it = actions_.cbegin(); it != actions_.cend(); ++it) {
        CommandState state;
        for (CommandTarget* target : routing()) {
            if (target->updateCommand(it.key(), state))
                break;
        }
        QAction* action = it.value();
        action->setEnabled(state.enabled);
        if (state.checked && !action->isCheckable())
            action->setCheckable(true);
        if (action->isCheckable())
            action->setChecked(state.checked);
    }
}

bool CMainFrame::onCommand(int id) {
    switch (id) {
        // Save and Print draw what the view draws; the document enables them.
        case cmd::fileSave: {
            std::string saved;
            if (doc_->canSave() && saveCurrent(this, *doc_, renderForSave, &saved))
                showNote(QString::fromStdString(savedText(uiLanguage(), saved)));
            return true;
        }
        case cmd::filePrint: {
            QString destination;
            if (doc_->canPrint() &&
                printCurrent(this, *doc_, renderForPrint, nullptr, &destination)) {
                showNote(QString::fromStdString(printedText(
                    uiLanguage(), printJobName().toStdString(), destination.toStdString())));
            }
            return true;
        }
        case cmd::titleInput:
            runTitleInput(this, *doc_);
            return true;
        case cmd::fileExport:
            if (auto* view = dynamic_cast<CKorvexView*>(viewWidget_)) {
                const QString note = runExport(this, *doc_, *view);
                if (!note.isEmpty())
                    showNote(note);
            }
            return true;
        case cmd::appExit:
            close();
            return true;
        case cmd::viewToolbar:
            toolBar_->setVisible(!toolBar_->isVisible());
            return true;
        case cmd::viewStatusBar:
            statusBar()->setVisible(!statusBar()->isVisible());
            return true;
        case cmd::dateFormat:
            OnDateDisplayFormat();
            return true;
        default:
            return false;
    }
}

bool CMainFrame::updateCommand(int id, CommandState& state) {
    switch (id) {
        case cmd::appExit:
            state.enabled = closeDisabled_ == 0;
            return true;
        case cmd::fileExport:
            state.enabled = doc_->source() != nullptr && doc_->source()->count() > 0 &&
                            doc_->busyOpening() == 0;
            return true;
        case cmd::viewToolbar:
            state.checked = !toolBar_->isHidden();
            return true;
        case cmd::viewStatusBar:
            state.checked = !statusBar()->isHidden();
            return true;
        default:
            return false;
    }
}

void CMainFrame::OnDateDisplayFormat() {
    CDateFormatDlg dialog(doc_->dateFormat(), doc_->dateDelimiter(), this);
    if (dialog.exec() != QDialog::Accepted)
        return;
    if (dialog.format() == doc_->dateFormat() && dialog.delimiter() == doc_->dateDelimiter())
        return;
    doc_->setDateFormat(dialog.format());
    doc_->setDateDelimiter(dialog.delimiter());
    if (doc_->hasSource()) {
        RedrawView();
        panel_->refreshDisplays();
    }
}

// ---- Closing ----

void CMainFrame::DisableClose() {
    if (closeDisabled_ != 0)
        return;
    closeDisabled_ = 1;
    if (QAction* exitAction = action(cmd::appExit))
        exitAction->setEnabled(false);
}

void CMainFrame::EnableClose() {
    closeDisabled_ = 0;
    if (QAction* exitAction = action(cmd::appExit))
        exitAction->setEnabled(true);
}

void CMainFrame::closeEvent(QCloseEvent* event) {
    if (closeDisabled_ != 0 && !ending_) {
        event->ignore();  // playback runs: the request is dropped
        return;
    }
    doc_->StopAction();
    QCoreApplication::processEvents();
    event->accept();
}

bool CMainFrame::pressTransportKey(int key) {
    if (panel_ == nullptr || ending_)
        return false;
    clearNote();
    const auto press = [this](int id) {
        auto* button = qobject_cast<QAbstractButton*>(panel_->control(id));
        if (button == nullptr || !button->isEnabled() || !button->isVisible())
            return false;
        button->click();  // a play runs its whole loop here, as a mouse click does
        return true;
    };
    switch (key) {
        case Qt::Key_Space:
            return press(ctl::stop) || press(ctl::play);
        case Qt::Key_Left:
            return press(ctl::previous);
        case Qt::Key_Right:
            return press(ctl::next);
        default:
            return false;
    }
}

QString CMainFrame::droppedFolder(const QMimeData* mime) {
    if (mime == nullptr || !mime->hasUrls())
        return {};
    const QList<QUrl> urls = mime->urls();
    if (urls.size() != 1 || !urls.front().isLocalFile())
        return {};
    const QString path = urls.front().toLocalFile();
    return QFileInfo(path).isDir() ? path : QString();
}

void CMainFrame::dragEnterEvent(QDragEnterEvent* event) {
    if (!ending_ && doc_->busyOpening() == 0 && !droppedFolder(event->mimeData()).isEmpty())
        event->acceptProposedAction();
}

void CMainFrame::dropEvent(QDropEvent* event) {
    const QString folder = droppedFolder(event->mimeData());
    if (folder.isEmpty() || ending_ || doc_->busyOpening() != 0)
        return;
    event->acceptProposedAction();
    // The open runs the Searching dialog; the drag's source hears of the drop first.
    QTimer::singleShot(0, this, [this, folder] {
        if (!ending_ && doc_->busyOpening() == 0) {
            clearNote();
            doc_->OpenRecordingFolder(folder.toStdString());
        }
    });
}

bool CMainFrame::eventFilter(QObject* watched, QEvent* event) {
    if (watched == qApp && event->type() == QEvent::Quit) {
        ending_ = true;
        doc_->RequestShutdown();
    }
    if (event->type() == QEvent::ShortcutOverride && sliderKeepsKey(watched, event)) {
        // Accepting the override hands the key to the slider instead of the window's shortcut.
        event->accept();
        return true;
    }
    return QMainWindow::eventFilter(watched, event);
}

bool CMainFrame::sliderKeepsKey(QObject* watched, QEvent* event) const {
    auto* slider = qobject_cast<QAbstractSlider*>(watched);
    if (slider == nullptr || !isAncestorOf(slider))
        return false;
    // The arrows move a focused slider (speed, volume, position); Space means nothing to a
    // slider, so it still plays and stops from there.
    const auto* key = static_cast<const QKeyEvent*>(event);
    return (key->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier &&
           (key->key() == Qt::Key_Left || key->key() == Qt::Key_Right);
}

// ---- ShellPort ----

bool CMainFrame::pumpMessages() {
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    return !ending_;
}

bool CMainFrame::runOpenDialog(const std::string& initialFolder, std::string& folder) {
    COpenDlg dialog(QString::fromStdString(initialFolder), this);
    if (dialog.exec() != QDialog::Accepted)
        return false;
    folder = dialog.path().toStdString();
    return true;
}

void CMainFrame::runSearchingDialog(ScanSession& scan) {
    CSearchDlg dialog(scan, this);
    dialog.exec();
}

void CMainFrame::setWaitCursor(bool on) {
    if (on == waitCursor_)
        return;
    waitCursor_ = on;
    if (on)
        QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    else
        QGuiApplication::restoreOverrideCursor();
}

void CMainFrame::recordingKindChanged(const RecordingKind& kind) {
    if (CKorvexApp* app = CKorvexApp::instance()) {
        RecordingKindFlags flags;
        flags.kindJp2Mp3 = kind.kindJp2Mp3 ? 1 : 0;
        flags.kindJpeg = kind.kindJpeg ? 1 : 0;
        flags.kindJp2Wav = kind.kindJp2Wav ? 1 : 0;
        app->setKindFlags(flags);
    }
}

void CMainFrame::openFinished(const std::string& folder, OpenOutcome outcome) {
    // Whatever the outcome, the document now holds the sound track that counts.
    soundNote_ =
        doc_->soundSilent() ? QString::fromStdString(soundNotHeardText(uiLanguage())) : QString();
    const std::string text = openOutcomeText(uiLanguage(), outcome, folder);
    if (!text.empty()) {
        showNote(QString::fromStdString(text));
        return;
    }
    note_.clear();
    statusBar()->clearMessage();  // the standing note or the idle text comes back
}

void CMainFrame::showNote(const QString& text) {
    note_ = text;
    statusBar()->showMessage(text);
}

void CMainFrame::clearNote() {
    if (note_.isEmpty())
        return;
    note_.clear();
    statusBar()->clearMessage();  // the idle text comes back
}

void CMainFrame::reportUnreadableParts(const std::string& folder,
                                       const std::vector<std::string>& parts) {
    // A box the size of the screen helps nobody: the first few name the problem.
    constexpr std::size_t kShown = 10;
    std::string list;
    for (std::size_t i = 0; i < parts.size() && i < kShown; ++i)
        list += parts[i] + "\n";
    if (parts.size() > kShown)
        list += "... (" + std::to_string(parts.size() - kShown) + ")\n";
    QMessageBox::warning(this, windowTitle(),
                         QString::fromStdString(formatText(
                             loadString(uiLanguage(), textid::unreadableParts), {folder, list})));
}

void CMainFrame::showSoundError(const std::string& text) {
    QMessageBox::critical(this, windowTitle(), QString::fromStdString(text));
}

}  // namespace korvex
