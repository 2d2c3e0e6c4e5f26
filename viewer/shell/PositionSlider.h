#pragma once

#include <QSlider>
#include <vector>

namespace korvex {

// The panel's position slider, with a red mark under each value whose frame is known to be
// altered. Marks that fall on one pixel are drawn once, so a million of them cost no more than a
// few hundred.
class PositionSlider : public QSlider {
    Q_OBJECT
public:
    explicit PositionSlider(QWidget* parent = nullptr);
    // Slider values (frame index + 1) to mark; any order.
    void setMarks(std::vector<int> values);
    const std::vector<int>& marks() const { return marks_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::vector<int> marks_;
};

}  // namespace korvex
