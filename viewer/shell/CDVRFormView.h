#pragma once

#include <QHash>
#include <QWidget>
#include <array>
#include <vector>

#include "viewer/playback/CKorvexDoc.h"

class QCheckBox;
class QLabel;
class QSlider;
class QTimer;

namespace korvex {

class ShapedButton;
class ToggleImageButton;
class VolumeControl;

// The control panel (template 132) in the lower row of the main window: the position slider
// with the first and last frame times, the transport buttons, the speed slider, the sound
// controls, the channel and time displays and the frame counter. Buttons and sliders become the
// document's intents; the texts show what the document reports. Every control carries its id as
// object name ("ctl1004").
class PositionSlider;

class CDVRFormView : public QWidget, public PanelPort {
    Q_OBJECT
public:
    // `volume` is the application's mixer volume (may be null: the slider then stays put).
    CDVRFormView(CKorvexDoc& doc, VolumeControl* volume, QWidget* parent = nullptr);
    ~CDVRFormView() override;

    // The view whose panes the channel texts follow.
    void setViewPort(ViewPort* view) { view_ = view; }

    // ---- PanelPort ----
    void refreshDisplays() override;
    void blankDisplays() override;
    void updateSoundControls(int kindFlag, bool single) override;
    void showChannelIndicators(int paneCount) override;
    void setPositionRange(int count) override;
    void setPosition(int index) override;
    int speedPosition() const override;
    bool soundWanted(int kindFlag) const override;
    int soundTwoChannel(int kindFlag) const override;
    void setControlEnabled(int controlId, bool enabled) override;
    void postToPanel(int message) override;

    // Marks under the position slider at these frame indices (known altered frames); empty: none.
    void setAlterationMarks(const std::vector<int>& indices);

    // The control with id `controlId`, or null.
    QWidget* control(int controlId) const { return controls_.value(controlId); }
    int soundWantedFlag() const { return soundWanted_; }
    // The tick label (strings 64460..64469) under the speed slider's x coordinate `x`, or empty
    // when `x` is not on the 4-pixel area of a tick.
    QString speedTickLabelAt(int x) const;
    // Timer 1: the volume slider follows the mixer.
    void followMixerVolume();

signals:
    // After every RefreshDisplays, with the current index it showed (tests and tools watch it).
    void displaysRefreshed(int currentIndex);
    // A transport button was pressed (before its command runs).
    void transportPressed(int controlId);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void createControls();
    void placeControls();
    void onTransport(int controlId);
    void handlePanelMessage(int message);
    void onSoundToggle();
    void onChannelBox();
    void onPositionChanged(int value);
    void onVolumeChanged(int value);
    QString timeText(int index) const;
    template <typename T>
    T* add(T* widget, int controlId);

    CKorvexDoc& doc_;
    VolumeControl* volume_;
    ViewPort* view_ = nullptr;
    QHash<int, QWidget*> controls_;

    QLabel* firstTime_ = nullptr;
    PositionSlider* position_ = nullptr;
    QLabel* lastTime_ = nullptr;
    std::array<ShapedButton*, 5> transport_{};
    QLabel* speedLabel_ = nullptr;
    QSlider* speed_ = nullptr;
    ToggleImageButton* sound_ = nullptr;
    QCheckBox* channel1_ = nullptr;
    QCheckBox* channel2_ = nullptr;
    QSlider* volumeSlider_ = nullptr;
    std::array<ShapedButton*, 3> icons_{};
    QLabel* singleChannel_ = nullptr;
    std::array<QLabel*, 4> paneChannels_{};
    QLabel* currentTime_ = nullptr;
    QLabel* frameCounter_ = nullptr;
    QTimer* volumeTimer_ = nullptr;

    int32_t soundWanted_ = 1;
    // Set while the panel moves a slider itself, so that only the user's moves act.
    bool settingSlider_ = false;
};

}  // namespace korvex
