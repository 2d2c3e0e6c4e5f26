#include "viewer/shell/PositionSlider.h"

#include <QPainter>
#include <QStyle>
#include <QStyleOptionSlider>
#include <algorithm>

namespace korvex {

PositionSlider::PositionSlider(QWidget* parent) : QSlider(Qt::Horizontal, parent) {}

void PositionSlider::setMarks(std::vector<int> values) {
    std::sort(values.begin(), values.end());
    values.erase(std::unique(values.begin(), values.end()), values.end());
    if (values == marks_)
        return;
    marks_ = std::move(values);
    update();
}

void PositionSlider::paintEvent(QPaintEvent* event) {
    QSlider::paintEvent(event);
    if (marks_.empty())
        return;
    QStyleOptionSlider option;
    initStyleOption(&option);
    const QRect groove =
        style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderGroove, this);
    const QRect handle =
        style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderHandle, this);
    // The handle's centre runs over the groove less half a handle at each end.
    const int span = std::max(1, groove.width() - handle.width());
    const int left = groove.left() + handle.width() / 2;
    std::vector<bool> drawn(static_cast<std::size_t>(span) + 1, false);
    QPainter painter(this);
    painter.setPen(QColor(220, 0, 0));
    const int bottom = height() - 1;
    for (const int value : marks_) {
        if (value < minimum() || value > maximum())
            continue;
        const int x = QStyle::sliderPositionFromValue(minimum(), maximum(), value, span);
        if (drawn[static_cast<std::size_t>(x)])
            continue;
        drawn[static_cast<std::size_t>(x)] = true;
        painter.drawLine(left + x, bottom - 5, left + x, bottom);
    }
}

}  // namespace korvex
