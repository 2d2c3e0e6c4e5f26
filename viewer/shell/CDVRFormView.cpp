#include "viewer/shell/CDVRFormView.h"

#include <qdrawutil.h>
#include <QCheckBox>
#include <QEvent>
#include <QHelpEvent>
#include <QLabel>
#include <QMetaObject>
#include <QPainter>
#include <QSlider>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QTimer>
#include <QToolTip>

#include "viewer/audio/VolumeControl.h"
#include "viewer/playback/core/PanelText.h"
#include "viewer/playback/core/SpeedTable.h"
#include "viewer/resources/ResourceIds.h"
#include "viewer/resources/Resources.h"
#include "viewer/shell/ShapedButton.h"

namespace korvex {

namespace {

constexpr int kPanelHeight = 80;
constexpr int kVolumeMax = 10;
constexpr int kVolumeTimerMs = 500;
constexpr int kNoValidTimeFlag = 4;
constexpr int kPaneTextIds[4] = {1073, 1074, 1075, 1076};

// Geometry of the control row (pixels; the template's dialog units at the usual font).
constexpr int kRowTop = 32;
constexpr QRect kSpeedGroup(198, 28, 166, 48);

}  // namespace

template <typename T>
T* CDVRFormView::add(T* widget, int controlId) {
    widget->setObjectName(QStringLiteral("ctl%1").arg(controlId));
    controls_.insert(controlId, widget);
    return widget;
}

CDVRFormView::CDVRFormView(CKorvexDoc& doc, VolumeControl* volume, QWidget* parent)
    : QWidget(parent), doc_(doc), volume_(volume) {
    setObjectName(QStringLiteral("dlg%1").arg(dlg::panel));
    setFixedHeight(kPanelHeight);
    setMinimumWidth(0);
    createControls();
    placeControls();
}

CDVRFormView::~CDVRFormView() = default;

void CDVRFormView::createControls() {
    auto centred = [this](int id) {
        auto* label = add(new QLabel(this), id);
        label->setAlignment(Qt::AlignCenter);
        return label;
    };
    firstTime_ = centred(ctl::firstTime);
    lastTime_ = centred(ctl::lastTime);
    position_ = add(new QSlider(Qt::Horizontal, this), ctl::position);
    position_->setRange(1, 1);
    position_->installEventFilter(this);
    connect(position_, &QSlider::valueChanged, this, &CDVRFormView::onPositionChanged);

    // Transport buttons: id and the first bitmap of its four, in panel order.
    const int transport[5][2] = {{ctl::previous, bmp::previous},
                                 {ctl::stop, bmp::stop},
                                 {ctl::next, bmp::next},
                                 {ctl::reverse, bmp::reverse},
                                 {ctl::play, bmp::play}};
    for (std::size_t i = 0; i < 5; ++i) {
        const int id = transport[i][0];
        const int bitmap = transport[i][1];
        auto* button = add(new ShapedButton(this), id);
        button->setBitmaps(bitmap, bitmap + 1, bitmap + 2, bitmap + 3);
        button->setToolTip(resString(id));
        connect(button, &QAbstractButton::clicked, this, [this, id] { onTransport(id); });
        transport_[i] = button;
    }

    speedLabel_ = new QLabel(resDialogText(dlg::panel, -1), this);
    speed_ = add(new QSlider(Qt::Horizontal, this), ctl::speed);
    speed_->setRange(kSpeedMin, kSpeedMax);
    speed_->setTickPosition(QSlider::TicksBelow);
    speed_->setTickInterval(1);
    speed_->setPageStep(1);
    speed_->setValue(kSpeedInitial);
    speed_->installEventFilter(this);

    sound_ = add(new ToggleImageButton(this), ctl::sound);
    sound_->setBitmaps(bmp::sound, bmp::sound + 1, bmp::sound + 2, bmp::sound + 3);
    sound_->setToolTip(resString(ctl::sound));
    connect(sound_, &QAbstractButton::clicked, this, &CDVRFormView::onSoundToggle);
    channel1_ = add(new QCheckBox(resDialogText(dlg::panel, ctl::channel1), this), ctl::channel1);
    channel2_ = add(new QCheckBox(resDialogText(dlg::panel, ctl::channel2), this), ctl::channel2);
    connect(channel1_, &QCheckBox::clicked, this, &CDVRFormView::onChannelBox);
    connect(channel2_, &QCheckBox::clicked, this, &CDVRFormView::onChannelBox);
    volumeSlider_ = add(new QSlider(Qt::Horizontal, this), ctl::volume);
    volumeSlider_->setRange(0, kVolumeMax);
    volumeSlider_->setTickPosition(QSlider::TicksBelow);
    volumeSlider_->setTickInterval(1);
    volumeSlider_->setPageStep(1);
    volumeSlider_->setToolTip(resString(ctl::volume));
    connect(volumeSlider_, &QSlider::valueChanged, this, &CDVRFormView::onVolumeChanged);

    const int iconIds[3] = {ctl::channelIcon, ctl::clockIcon, ctl::counterIcon};
    const int iconBitmaps[3] = {bmp::channelIcon, bmp::clockIcon, bmp::counterIcon};
    for (std::size_t i = 0; i < 3; ++i) {
        auto* icon = add(new ShapedButton(this), iconIds[i]);
        icon->setBitmaps(iconBitmaps[i]);
        icon->setToolTip(resString(iconIds[i]));
        icon->setFocusPolicy(Qt::NoFocus);
        icons_[i] = icon;
    }
    singleChannel_ = add(new QLabel(this), ctl::singleChannel);
    for (std::size_t i = 0; i < 4; ++i) {
        paneChannels_[i] = add(new QLabel(this), kPaneTextIds[i]);
        paneChannels_[i]->setAlignment(Qt::AlignCenter);
    }
    currentTime_ = centred(ctl::currentTime);
    frameCounter_ = add(new QLabel(this), ctl::frameCounter);

    // Start-up state: volume from the mixer, timer 1, 1ch ticked and both boxes hidden, sound
    // wanted, the single channel indicator.
    followMixerVolume();
    volumeTimer_ = new QTimer(this);
    volumeTimer_->setObjectName(QStringLiteral("timer1"));
    volumeTimer_->setInterval(kVolumeTimerMs);
    connect(volumeTimer_, &QTimer::timeout, this, &CDVRFormView::followMixerVolume);
    volumeTimer_->start();
    channel1_->setChecked(true);
    channel2_->setChecked(false);
    channel1_->hide();
    channel2_->hide();
    soundWanted_ = 1;
    sound_->setToggleState(true);
    showChannelIndicators(1);
}

void CDVRFormView::placeControls() {
    const int w = width();
    constexpr int kTimeWidth = 132;
    firstTime_->setGeometry(6, 4, kTimeWidth, 20);
    // The last time keeps 8 pixels to the right edge; the slider stops 10 pixels before it.
    lastTime_->setGeometry(w - 8 - kTimeWidth, 4, kTimeWidth, 20);
    const int sliderLeft = firstTime_->geometry().right() + 4;
    position_->setGeometry(sliderLeft, 2, std::max(20, lastTime_->x() - 10 - sliderLeft), 24);

    int x = 6;
    for (ShapedButton* button : transport_) {
        button->move(x, kRowTop + 4);
        x += button->width() + 2;
    }
    speedLabel_->setGeometry(kSpeedGroup.x() + 6, kSpeedGroup.y() + 2, 150, 14);
    speed_->setGeometry(kSpeedGroup.x() + 4, kSpeedGroup.y() + 16, kSpeedGroup.width() - 8, 28);

    x = kSpeedGroup.right() + 6;
    sound_->move(x, kRowTop + 4);
    x += sound_->width() + 4;
    channel1_->setGeometry(x, kRowTop, 48, 20);
    channel2_->setGeometry(x, kRowTop + 22, 48, 20);
    x += 50;
    volumeSlider_->setGeometry(x, kRowTop + 6, 90, 30);
    x += 96;

    icons_[0]->move(x, kRowTop + 2);
    const int channelLeft = x + icons_[0]->width() + 4;
    singleChannel_->setGeometry(channelLeft, kRowTop + 2, 30, 20);
    for (std::size_t i = 0; i < 4; ++i) {
        const int col = static_cast<int>(i % 2);
        const int row = static_cast<int>(i / 2);
        paneChannels_[i]->setGeometry(channelLeft + col * 26, kRowTop + row * 20, 24, 18);
    }
    x = channelLeft + 56;
    icons_[1]->move(x, kRowTop + 2);
    currentTime_->setGeometry(x + icons_[1]->width() + 4, kRowTop + 2, 140, 20);
    icons_[2]->move(x, kRowTop + 24);
    frameCounter_->setGeometry(x + icons_[2]->width() + 8, kRowTop + 24, 130, 20);
}

void CDVRFormView::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    placeControls();
}

void CDVRFormView::moveEvent(QMoveEvent* event) {
    QWidget::moveEvent(event);
    placeControls();
}

void CDVRFormView::paintEvent(QPaintEvent* event) {
    QWidget::paintEvent(event);
    QPainter painter(this);
    // Raised edges: one between the position row and the control row, one around the speed
    // group.
    qDrawShadeLine(&painter, 0, kRowTop - 4, width(), kRowTop - 4, palette(), false, 1, 0);
    qDrawShadeRect(&painter, kSpeedGroup, palette(), false, 1, 0);
}

bool CDVRFormView::eventFilter(QObject* watched, QEvent* event) {
    if (watched == position_) {
        // Pressing on the position slider stops a running loop; releasing it resumes play
        // from wherever the slider was left. The second press of a double click arrives as a
        // double-click event, and a drag may follow it.
        if (event->type() == QEvent::MouseButtonPress ||
            event->type() == QEvent::MouseButtonDblClick)
            doc_.OnPositionPressed();
        else if (event->type() == QEvent::MouseButtonRelease)
            doc_.OnPositionReleased();
    } else if (watched == speed_ && event->type() == QEvent::ToolTip) {
        auto* help = static_cast<QHelpEvent*>(event);
        const QString label = speedTickLabelAt(help->pos().x());
        if (label.isEmpty())
            QToolTip::hideText();
        else
            QToolTip::showText(help->globalPos(), label, speed_);
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

QString CDVRFormView::speedTickLabelAt(int x) const {
    QStyleOptionSlider option;
    option.initFrom(speed_);
    option.subControls = QStyle::SC_None;
    option.activeSubControls = QStyle::SC_None;
    option.orientation = speed_->orientation();
    option.maximum = speed_->maximum();
    option.minimum = speed_->minimum();
    option.tickPosition = speed_->tickPosition();
    option.tickInterval = speed_->tickInterval();
    option.upsideDown = false;
    option.direction = speed_->layoutDirection();
    option.sliderPosition = speed_->sliderPosition();
    option.sliderValue = speed_->value();
    option.singleStep = speed_->singleStep();
    option.pageStep = speed_->pageStep();
    const QRect groove = speed_->style()->subControlRect(QStyle::CC_Slider, &option,
                                                         QStyle::SC_SliderGroove, speed_);
    const QRect handle = speed_->style()->subControlRect(QStyle::CC_Slider, &option,
                                                         QStyle::SC_SliderHandle, speed_);
    const int span = groove.width() - handle.width();
    for (int v = speed_->minimum(); v <= speed_->maximum(); ++v) {
        const int tick =
            groove.x() + handle.width() / 2 +
            QStyle::sliderPositionFromValue(speed_->minimum(), speed_->maximum(), v, span);
        if (x >= tick - 2 && x < tick + 2)
            return resString(strid::firstSpeedTick + (v - speed_->minimum()));
    }
    return {};
}

// ---- PanelPort ----

QString CDVRFormView::timeText(int index) const {
    const ImageSource* source = doc_.source();
    if (source == nullptr)
        return {};
    const bool hasChannels = source->defaultChannel() != -9;
    if (!hasChannels && (source->flagsAt(index) & kNoValidTimeFlag) != 0)
        return resString(textid::noValidTime);
    return QString::fromStdString(doc_.FormatFrameTime(source->timeAt(index)));
}

void CDVRFormView::refreshDisplays() {
    ImageSource* source = doc_.source();
    if (source == nullptr) {
        for (QLabel* label : {firstTime_, lastTime_, currentTime_, frameCounter_, singleChannel_})
            label->clear();
        for (QLabel* label : paneChannels_)
            label->clear();
        emit displaysRefreshed(-1);
        return;
    }
    const int count = source->count();
    const int current = source->currentIndex();
    firstTime_->setText(timeText(0));
    setPosition(current);
    lastTime_->setText(timeText(count - 1));

    const int panes = view_ != nullptr ? view_->paneCount() : 1;
    auto channelOf = [this](int pane) {
        return QString::fromStdString(
            channelText(view_ != nullptr ? view_->channelOfPane(pane) : -1));
    };
    if (panes == 4) {
        for (int p = 0; p < 4; ++p)
            paneChannels_[static_cast<std::size_t>(p)]->setText(channelOf(p));
    } else if (panes == 1) {
        singleChannel_->setText(channelOf(0));
    } else {
        singleChannel_->setText(QStringLiteral("--"));
    }
    currentTime_->setText(timeText(current));
    frameCounter_->setText(QString::fromStdString(frameCounterText(current, count)));
    emit displaysRefreshed(current);
}

void CDVRFormView::blankDisplays() {
    frameCounter_->clear();
    currentTime_->clear();
}

void CDVRFormView::updateSoundControls(int kindFlag, bool single) {
    const bool present = doc_.soundPresent() != 0;
    // Without a sound track the toggle shows its "off" face while disabled.
    sound_->setHold(!present);
    const bool usable = present && single;
    for (QWidget* w : {static_cast<QWidget*>(sound_), static_cast<QWidget*>(channel1_),
                       static_cast<QWidget*>(channel2_), static_cast<QWidget*>(volumeSlider_)}) {
        w->setEnabled(usable);
    }
    if (single) {
        channel1_->setVisible(kindFlag == 1);
        channel2_->setVisible(kindFlag == 1);
    }
    sound_->update();
}

void CDVRFormView::showChannelIndicators(int paneCount) {
    const bool four = paneCount == 4;
    singleChannel_->setVisible(!four);
    for (QLabel* label : paneChannels_)
        label->setVisible(four);
}

void CDVRFormView::setPositionRange(int count) {
    settingSlider_ = true;
    position_->setRange(1, std::max(1, count));
    position_->setPageStep(positionPageSize(count));
    settingSlider_ = false;
}

void CDVRFormView::setPosition(int index) {
    settingSlider_ = true;
    position_->setValue(index + 1);
    settingSlider_ = false;
}

int CDVRFormView::speedPosition() const {
    return speed_->value();
}

bool CDVRFormView::soundWanted(int kindFlag) const {
    if (kindFlag == 0)
        return sound_->toggleState();
    return channel1_->isChecked() || channel2_->isChecked();
}

int CDVRFormView::soundTwoChannel(int kindFlag) const {
    if (kindFlag == 0)
        return sound_->toggleState() ? 1 : 0;
    const bool one = channel1_->isChecked();
    const bool two = channel2_->isChecked();
    return one && two ? 3 : one ? 1 : two ? 2 : 0;
}

void CDVRFormView::setControlEnabled(int controlId, bool enabled) {
    if (QWidget* w = control(controlId))
        w->setEnabled(enabled);
}

void CDVRFormView::postToPanel(int message) {
    QMetaObject::invokeMethod(
        this, [this, message] { handlePanelMessage(message); }, Qt::QueuedConnection);
}

void CDVRFormView::onTransport(int controlId) {
    emit transportPressed(controlId);
    switch (controlId) {
        case ctl::previous:
            doc_.OnPreviousPressed();
            break;
        case ctl::stop:
            doc_.StopAction();
            break;
        case ctl::next:
            doc_.OnNextPressed();
            break;
        case ctl::reverse:
            doc_.OnReversePressed();
            break;
        case ctl::play:
            doc_.OnPlayPressed();
            break;
        default:
            break;
    }
}

void CDVRFormView::handlePanelMessage(int message) {
    switch (message) {
        case UM_RESTART_PLAY:
        case ctl::play:
            doc_.OnPlayPressed();
            break;
        case UM_RESTART_REVERSE:
        case ctl::reverse:
            doc_.OnReversePressed();
            break;
        case UM_SUSPEND:
            doc_.SuspendForChannelChange();
            break;
        case UM_RESUME:
            doc_.ResumeAfterChannelChange();
            break;
        default:
            break;
    }
}

// ---- Sound controls and sliders ----

void CDVRFormView::onSoundToggle() {
    soundWanted_ = soundWanted_ != 0 ? 0 : 1;
    if (channel1_->isVisibleTo(this)) {
        if (soundWanted_ != 0) {
            if (!channel2_->isChecked())
                channel1_->setChecked(true);
        } else {
            channel1_->setChecked(false);
            channel2_->setChecked(false);
        }
    }
    sound_->setToggleState(soundWanted_ != 0);
}

void CDVRFormView::onChannelBox() {
    soundWanted_ = channel1_->isChecked() || channel2_->isChecked() ? 1 : 0;
    sound_->setToggleState(soundWanted_ != 0);
}

void CDVRFormView::onPositionChanged(int value) {
    if (settingSlider_)
        return;
    doc_.OnPositionScrolled(value);
}

void CDVRFormView::onVolumeChanged(int value) {
    if (settingSlider_ || volume_ == nullptr)
        return;
    volume_->setVolume(trackbarPercent(value, volumeSlider_->maximum()));
}

void CDVRFormView::followMixerVolume() {
    std::uint32_t percent = 0;
    if (volume_ == nullptr || volume_->getVolume(percent) == 0)
        return;
    settingSlider_ = true;
    volumeSlider_->setValue(trackbarPosition(percent, volumeSlider_->maximum()));
    settingSlider_ = false;
}

}  // namespace korvex
