// The multi-pane grid the view and the exporter share: its etched pane edges are the platform's
// sunken shade rectangles, pixel for pixel, so moving them out of the widgets changed nothing on
// screen. (Below five pixels a side, which no pane comes near, the platform draws its inner lines
// backwards and covers more.)

#include <gtest/gtest.h>
#include <qdrawutil.h>

#include <QApplication>
#include <QImage>
#include <QPainter>
#include <QPalette>

#include "viewer/playback/FramePainter.h"

namespace {

TEST(PaneGrid, EtchedEdgesAreThePlatformsShadeRectangles) {
    const QPalette palette = QApplication::palette();
    for (const QRect r :
         {QRect(0, 0, 40, 30), QRect(3, 5, 17, 9), QRect(1, 1, 5, 5), QRect(2, 0, 5, 6)}) {
        QImage ours = korvex::newOffscreen(QSize(48, 40), korvex::faceColour());
        QImage theirs = ours.copy();
        korvex::drawEtchedEdge(ours, r, palette.color(QPalette::Active, QPalette::Dark),
                               palette.color(QPalette::Active, QPalette::Light));
        {
            QPainter painter(&theirs);
            qDrawShadeRect(&painter, r, palette, true, 1, 0);
        }
        EXPECT_EQ(ours, theirs) << r.x() << "," << r.y() << " " << r.width() << "x" << r.height();
    }
}

}  // namespace
