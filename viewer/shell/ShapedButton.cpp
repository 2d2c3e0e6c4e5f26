#include "viewer/shell/ShapedButton.h"

#include <QPaintEvent>
#include <QPainter>
#include <vector>

#include "viewer/resources/Resources.h"

namespace korvex {

namespace {

constexpr QRgb kTransparent = qRgb(255, 0, 255);

}  // namespace

QRegion regionFromBitmap(const QImage& picture) {
    if (picture.isNull())
        return {};
    const QImage rgb = picture.convertToFormat(QImage::Format_RGB32);
    // Rows are banded left to right, which is the order QRegion keeps internally; uniting
    // row by row keeps every step cheap.
    QRegion region;
    std::vector<QRect> runs;
    for (int y = 0; y < rgb.height(); ++y) {
        const auto* row = reinterpret_cast<const QRgb*>(rgb.constScanLine(y));
        runs.clear();
        int x = 0;
        while (x < rgb.width()) {
            while (x < rgb.width() && (row[x] & 0xFFFFFF) == (kTransparent & 0xFFFFFF))
                ++x;
            const int start = x;
            while (x < rgb.width() && (row[x] & 0xFFFFFF) != (kTransparent & 0xFFFFFF))
                ++x;
            if (x > start)
                runs.emplace_back(start, y, x - start, 1);
        }
        if (runs.empty())
            continue;
        QRegion band;
        band.setRects(runs.data(), static_cast<int>(runs.size()));
        region += band;
    }
    return region;
}

ShapedButton::ShapedButton(QWidget* parent) : QAbstractButton(parent) {
    setFocusPolicy(Qt::StrongFocus);
}

bool ShapedButton::setBitmaps(int normal, int pressed, int focused, int disabled) {
    auto load = [](int id) { return id != 0 ? loadBitmap(id) : QImage(); };
    return setPictures(load(normal), load(pressed), load(focused), load(disabled));
}

bool ShapedButton::setPictures(const QImage& first, const QImage& second, const QImage& third,
                               const QImage& fourth) {
    pictures_ = {first, second.isNull() ? first : second, third.isNull() ? first : third,
                 fourth.isNull() ? first : fourth};
    for (size_t i = 0; i < pictures_.size(); ++i)
        regions_[i] = regionFromBitmap(pictures_[i]);
    hasShape_ = !first.isNull();
    shape_ = regions_[0];
    if (hasShape_) {
        setFixedSize(first.size());
        // Qt reads an empty mask as "no mask"; a shape with no pixels must rather be invisible
        // and let clicks through to the panel.
        setAttribute(Qt::WA_TransparentForMouseEvents, shape_.isEmpty());
        if (shape_.isEmpty()) {
            clearMask();
        } else {
            setMask(shape_);
        }
    } else {
        setAttribute(Qt::WA_TransparentForMouseEvents, false);
        clearMask();
    }
    updateGeometry();
    update();
    return hasShape_;
}

int ShapedButton::currentPicture() const {
    if (isDown())
        return Pressed;
    if (hasFocus())
        return Focused;
    if (!isEnabled())
        return Disabled;
    return Normal;
}

QSize ShapedButton::sizeHint() const {
    return pictures_[0].isNull() ? QSize(16, 16) : pictures_[0].size();
}

void ShapedButton::paintEvent(QPaintEvent* /*event*/) {
    const int index = currentPicture();
    if (index < 0 || index >= static_cast<int>(pictures_.size()))
        return;
    const QImage& picture = pictures_[index];
    if (picture.isNull())
        return;
    QPainter painter(this);
    painter.setClipRegion(regions_[index]);
    painter.drawImage(0, 0, picture);
}

bool ShapedButton::hitButton(const QPoint& pos) const {
    if (!hasShape_)
        return QAbstractButton::hitButton(pos);
    return shape_.contains(pos);
}

ToggleImageButton::ToggleImageButton(QWidget* parent) : ShapedButton(parent) {}

void ToggleImageButton::setToggleState(bool on) {
    on_ = on;
    update();
}

void ToggleImageButton::setHold(bool hold) {
    hold_ = hold;
    update();
}

int ToggleImageButton::currentPicture() const {
    // Pictures: 0 on, 1 off, 2 on-disabled, 3 off-disabled.
    if (!isEnabled())
        return !hold_ && on_ ? 2 : 3;
    return on_ ? 0 : 1;
}

}  // namespace korvex
