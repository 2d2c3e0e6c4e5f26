#pragma once

#include <QAbstractButton>
#include <QImage>
#include <QRegion>
#include <array>

namespace korvex {

// The region of the pixels of `picture` that are not magenta (255, 0, 255), built from the
// runs of opaque pixels of each row. A picture without magenta gives its whole rectangle, an
// all-magenta picture an empty region.
QRegion regionFromBitmap(const QImage& picture);

// A push button drawn entirely from four pictures and shaped like them: the widget's mask is
// the opaque part of the first picture, so round buttons show the panel behind their corners
// and take no clicks there.
class ShapedButton : public QAbstractButton {
    Q_OBJECT
public:
    enum Picture { Normal = 0, Pressed = 1, Focused = 2, Disabled = 3 };

    explicit ShapedButton(QWidget* parent = nullptr);

    // Bitmap resource ids in the order normal, pressed, focused, disabled. An id of 0 reuses
    // the first picture (the panel's icons have one bitmap). False when the first picture is
    // missing: the button then keeps its rectangle and draws nothing.
    bool setBitmaps(int normal, int pressed = 0, int focused = 0, int disabled = 0);
    // The same from pictures already loaded (null entries reuse the first).
    bool setPictures(const QImage& first, const QImage& second, const QImage& third,
                     const QImage& fourth);

    // Which of the four pictures the current state shows.
    virtual int currentPicture() const;
    // The shape cut from the first picture; empty when it is all magenta or missing.
    QRegion shape() const { return shape_; }
    bool hasShape() const { return hasShape_; }

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    bool hitButton(const QPoint& pos) const override;

private:
    std::array<QImage, 4> pictures_;
    std::array<QRegion, 4> regions_;
    QRegion shape_;
    bool hasShape_ = false;
};

// A two-state variant: on, off, on-disabled, off-disabled. It does not flip by itself when
// clicked; its owner decides the state and calls setToggleState.
class ToggleImageButton : public ShapedButton {
    Q_OBJECT
public:
    explicit ToggleImageButton(QWidget* parent = nullptr);

    void setToggleState(bool on);
    bool toggleState() const { return on_; }
    // With the hold flag set, a disabled button shows off-disabled even when it is on.
    void setHold(bool hold);
    bool hold() const { return hold_; }

    int currentPicture() const override;

private:
    bool on_ = true;
    bool hold_ = false;
};

}  // namespace korvex
