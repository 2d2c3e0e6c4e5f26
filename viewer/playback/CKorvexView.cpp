#include "viewer/playback/CKorvexView.h"

#include <QAction>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>

#include "viewer/playback/core/ViewCommands.h"
#include "viewer/resources/ResourceIds.h"
#include "viewer/resources/Resources.h"

namespace korvex {

namespace {

PixelRect pageOf(const QSize& size) {
    return {0, 0, size.width(), size.height()};
}

// The CHANNEL menu's item texts (resource 141) by command id.
QString channelMenuText(int commandId) {
    for (const MenuEntry& popup : menuResource(uiLanguage(), dlg::channelMenu)) {
        for (const MenuEntry& item : popup.items) {
            if (item.commandId == commandId)
                return QString::fromStdString(item.text);
        }
    }
    return QString();
}

}  // namespace

// ---- Printing and saving ----

OverlaySettings overlaySettingsFor(const CKorvexDoc& doc) {
    OverlaySettings s;
    s.dateFormat = doc.dateFormat();
    s.dateDelimiter = doc.dateDelimiter();
    s.timePosition = doc.timePosition();
    s.showCameraTitle = doc.showCameraTitle() != 0;
    s.hasChannelInfo = doc.source() != nullptr && doc.source()->hasChannel(-1);
    s.checkMode = doc.checkMode();
    s.printTitle = doc.printTitle();
    return s;
}

FrameContent currentFrameOf(const CKorvexDoc& doc) {
    FrameContent frame;
    const ImageSource* source = doc.source();
    if (doc.currentPicture())
        frame.picture = &doc.currentPicture();
    if (source != nullptr) {
        frame.index = source->currentIndex();
        frame.time = source->currentTime();
        frame.title = source->cameraTitle(frame.index);
        frame.flags = source->currentFlags();
    }
    return frame;
}

QImage renderForPrint(const CKorvexDoc& doc, const QSize& page) {
    return renderSinglePane(page, currentFrameOf(doc), overlaySettingsFor(doc), true);
}

QImage renderForSave(const CKorvexDoc& doc, int width, int height) {
    return renderPanePicture(QSize(width, height), currentFrameOf(doc), overlaySettingsFor(doc));
}

// ---- The view ----

CKorvexView::CKorvexView(CKorvexDoc& doc, QWidget* parent) : QWidget(parent), doc_(doc) {
    // Every pixel comes from the offscreen picture: nothing to erase, nothing to flicker.
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAttribute(Qt::WA_NoSystemBackground);
    setContextMenuPolicy(Qt::PreventContextMenu);
    // The initial update: the view starts with one pane.
    resetView();
}

CKorvexView::~CKorvexView() = default;

PanelPort* CKorvexView::panelPort() const {
    if (panel_ != nullptr)
        return panel_;
    if (QWidget* parent = parentWidget()) {
        for (QObject* child : parent->children()) {
            if (auto* panel = dynamic_cast<PanelPort*>(child))
                return panel;
        }
    }
    return nullptr;
}

void CKorvexView::redrawView() {
    repaint();
}

void CKorvexView::resetView() {
    const ImageSource* source = doc_.source();
    panes_.reset(source != nullptr ? source->defaultChannel() : kAllChannels);
    update();
}

std::vector<PixelRect> CKorvexView::paneRectangles() const {
    return paneRects(pageOf(size()), panes_.gridSize());
}

ChannelInfo CKorvexView::channelInfo() const {
    ChannelInfo info;
    const ImageSource* source = doc_.source();
    info.hasSource = source != nullptr;
    if (source != nullptr)
        info.hasChannel = [source](int channel) { return source->hasChannel(channel); };
    return info;
}

OverlaySettings CKorvexView::overlaySettings() const {
    return overlaySettingsFor(doc_);
}

void CKorvexView::captureCurrentFrame() {
    ImageSource* source = doc_.source();
    if (source == nullptr || doc_.busyOpening() || !panes_.isMultiPane() || panes_.gridSize() == 0)
        return;
    const int index = source->currentIndex();
    panes_.storeCurrentFrame(source->currentChannel(), doc_.CopyCurrentPicture(), index,
                             source->currentTime(), source->cameraTitle(index),
                             source->currentFlags());
}

QImage CKorvexView::renderView(const QSize& size) {
    const OverlaySettings settings = overlaySettings();
    if (panes_.gridSize() != 0 && !panes_.isMultiPane() && doc_.source() != nullptr &&
        !doc_.busyOpening())
        return renderSinglePane(size, currentFrameOf(doc_), settings, false);

    if (panes_.gridSize() == 0 || !panes_.isMultiPane())
        return newOffscreen(size, faceColour());
    captureCurrentFrame();
    return renderPaneGrid(size, panes_, settings);
}

void CKorvexView::paintEvent(QPaintEvent* /*event*/) {
    const QImage offscreen = renderView(size());
    QPainter painter(this);
    if (offscreen.isNull()) {
        painter.fillRect(rect(), faceColour());
        return;
    }
    painter.drawImage(0, 0, offscreen);
}

// ---- CHANNEL menu ----

std::unique_ptr<QMenu> CKorvexView::createChannelMenu(const QPoint& pos) {
    const ChannelInfo info = channelInfo();
    if (!info.hasSource || !info.has(-1))
        return nullptr;
    if (panes_.isMultiPane()) {
        const int pane = paneAt(paneRectangles(), pos.x(), pos.y());
        if (pane < 0)
            return nullptr;
        panes_.setActivePane(pane);
    } else {
        panes_.setActivePane(0);
    }

    auto menu = std::make_unique<QMenu>(this);
    menu->setObjectName(QStringLiteral("channelMenu"));
    for (const ChannelMenuItem& item : panes_.channelMenu(info)) {
        QAction* action = menu->addAction(channelMenuText(item.commandId));
        action->setObjectName(QStringLiteral("cmd%1").arg(item.commandId));
        action->setData(item.commandId);
        action->setEnabled(item.enabled);
        action->setCheckable(item.checked);
        action->setChecked(item.checked);
        const int id = item.commandId;
        connect(action, &QAction::triggered, this, [this, id] { onCommand(id); });
    }
    return menu;
}

void CKorvexView::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::RightButton || doc_.source() == nullptr) {
        QWidget::mousePressEvent(event);
        return;
    }
    std::unique_ptr<QMenu> menu = createChannelMenu(event->position().toPoint());
    if (menu)
        menu->exec(event->globalPosition().toPoint());
}

void CKorvexView::mouseDoubleClickEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || !panes_.isMultiPane() || panes_.gridSize() == 0) {
        QWidget::mouseDoubleClickEvent(event);
        return;
    }
    const QPoint pos = event->position().toPoint();
    const int pane = paneAt(paneRectangles(), pos.x(), pos.y());
    if (pane < 0)
        return;
    panes_.setActivePane(pane);
    runChannelCommand(cmd::channelImage1);
}

void CKorvexView::runChannelCommand(int id) {
    const ChannelSelection s = panes_.runChannelCommand(id);
    if (!s.handled)
        return;
    if (s.invalidate)
        update();
    doc_.SelectChannels(s.chosen, s.paneCount, s.row);
    if (PanelPort* panel = panelPort()) {
        panel->updateSoundControls(doc_.kindJp2Mp3(), !panes_.isMultiPane());
        panel->showChannelIndicators(panes_.paneCount());
        panel->refreshDisplays();
    }
    // A selection the recording refused redraws nothing by itself; the layout changed anyway.
    update();
}

// ---- Commands ----

bool CKorvexView::onCommand(int id) {
    if (id >= cmd::channelImage1 && id <= cmd::channelLast) {
        runChannelCommand(id);
        return true;
    }
    if (id >= cmd::timeRightDown && id <= cmd::timeLeftDown) {
        doc_.setTimePosition(id - cmd::timeRightDown);
        redrawView();
        return true;
    }
    if (id == cmd::cameraTitle) {
        doc_.setShowCameraTitle(doc_.showCameraTitle() != 0 ? 0 : 1);
        update();
        return true;
    }
    const int grid = gridSizeOfViewImageCommand(id);
    if (grid == 0)
        return false;
    if (grid == 1) {
        if (panes_.isMultiPane()) {
            panes_.setActivePane(kKeepSinglePane);
            runChannelCommand(cmd::channelImage1);
        }
    } else if (panes_.gridSize() != grid) {
        runChannelCommand(channelLayoutCommandFor(id));
    }
    return true;
}

bool CKorvexView::updateCommand(int id, CommandState& state) {
    if (id >= cmd::channelImage1 && id <= cmd::channelLast) {
        state = panes_.channelItemState(id, channelInfo());
        return true;
    }
    ViewMenuInput input;
    const ImageSource* source = doc_.source();
    input.hasSource = source != nullptr;
    input.hasChannelInfo = source != nullptr && source->hasChannel(-1);
    input.gridSize = panes_.gridSize();
    input.timePosition = doc_.timePosition();
    input.showCameraTitle = doc_.showCameraTitle() != 0;
    return viewCommandState(id, input, state);
}

}  // namespace korvex
