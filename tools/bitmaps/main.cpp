// korvex-bitmaps OUTDIR: draws the viewer's button, icon and toolbar pictures and writes them as
// PNG files (OUTDIR/bitmaps/<id>.png, OUTDIR/toolbar/<id>.png, OUTDIR/icons/<id>.png). The
// committed pictures under viewer/resources/ are this program's output; rerun it after changing
// the drawing code.
//
// Every picture is drawn with antialiasing on a transparent canvas and then flattened: a pixel at
// least half covered becomes opaque (its soft edge blended over the panel colour), every other
// pixel becomes magenta (255, 0, 255), the transparent key of the shaped buttons.
#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <cstdio>
#include <cstdlib>
#include <functional>

#include "viewer/resources/ResourceIds.h"

namespace {

using korvex::BitmapSpec;
using korvex::ResourceKind;

const QColor kKey(255, 0, 255);
const QColor kBackdrop(236, 236, 236);  // the panel behind the buttons

enum class ButtonState { Normal, Pressed, Focused, Disabled };

QImage flatten(const QImage& argb) {
    QImage out(argb.size(), QImage::Format_RGB32);
    for (int y = 0; y < argb.height(); ++y) {
        for (int x = 0; x < argb.width(); ++x) {
            const QColor c = argb.pixelColor(x, y);
            if (c.alpha() < 128) {
                out.setPixelColor(x, y, kKey);
                continue;
            }
            const double a = c.alphaF();
            auto mix = [a](int fg, int bg) { return qRound(fg * a + bg * (1.0 - a)); };
            QColor o(mix(c.red(), kBackdrop.red()), mix(c.green(), kBackdrop.green()),
                     mix(c.blue(), kBackdrop.blue()));
            if (o == kKey)
                o.setGreen(1);  // never let a drawn pixel read as transparent
            out.setPixelColor(x, y, o);
        }
    }
    return out;
}

QImage canvas(int w, int h) {
    QImage img(w, h, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    return img;
}

// ---- Transport glyphs, drawn in a 36 x 36 box centred at (18, 18) ----

QPainterPath triangle(double cx, double cy, double size, bool pointsRight) {
    const double half = size / 2.0;
    const double w = size * 0.866;  // equilateral
    QPainterPath p;
    if (pointsRight) {
        p.moveTo(cx - w / 2.0, cy - half);
        p.lineTo(cx + w / 2.0, cy);
        p.lineTo(cx - w / 2.0, cy + half);
    } else {
        p.moveTo(cx + w / 2.0, cy - half);
        p.lineTo(cx - w / 2.0, cy);
        p.lineTo(cx + w / 2.0, cy + half);
    }
    p.closeSubpath();
    return p;
}

QPainterPath bar(double x, double cy, double w, double h) {
    QPainterPath p;
    p.addRoundedRect(QRectF(x, cy - h / 2.0, w, h), 0.8, 0.8);
    return p;
}

enum class Glyph { Reverse, Previous, Stop, Next, Play, First, Last };

QPainterPath glyphPath(Glyph glyph) {
    const double c = 18.0;
    const double s = 13.0;  // glyph height
    QPainterPath p;
    switch (glyph) {
        case Glyph::Play:
            p = triangle(c + 1.5, c, s + 1, true);
            break;
        case Glyph::Reverse:
            p = triangle(c - 1.5, c, s + 1, false);
            break;
        case Glyph::Stop:
            p.addRoundedRect(QRectF(c - 5.5, c - 5.5, 11, 11), 1.2, 1.2);
            break;
        case Glyph::Next:
            p = triangle(c - 1.5, c, s - 1, true);
            p.addPath(bar(c + 3.2, c, 3.0, s - 1));
            break;
        case Glyph::Previous:
            p = triangle(c + 1.5, c, s - 1, false);
            p.addPath(bar(c - 6.2, c, 3.0, s - 1));
            break;
        case Glyph::First:
            p = triangle(c + 4.5, c, s - 3, false);
            p.addPath(triangle(c - 1.0, c, s - 3, false));
            p.addPath(bar(c - 7.8, c, 2.6, s - 3));
            break;
        case Glyph::Last:
            p = triangle(c - 4.5, c, s - 3, true);
            p.addPath(triangle(c + 1.0, c, s - 3, true));
            p.addPath(bar(c + 5.2, c, 2.6, s - 3));
            break;
    }
    p.setFillRule(Qt::WindingFill);
    return p;
}

// A round button face: a bevelled disc whose colours follow the state.
void drawDisc(QPainter& g, ButtonState state) {
    const QRectF outer(0.5, 0.5, 35, 35);
    QColor rimTop(250, 250, 250), rimBottom(120, 126, 134);
    QColor faceTop(92, 104, 118), faceBottom(38, 44, 52);
    switch (state) {
        case ButtonState::Pressed:
            std::swap(rimTop, rimBottom);
            faceTop = QColor(30, 36, 44);
            faceBottom = QColor(70, 82, 96);
            break;
        case ButtonState::Disabled:
            rimTop = QColor(245, 245, 245);
            rimBottom = QColor(170, 172, 175);
            faceTop = QColor(178, 181, 185);
            faceBottom = QColor(150, 153, 158);
            break;
        default:
            break;
    }
    QLinearGradient rim(0, 0, 0, 36);
    rim.setColorAt(0, rimTop);
    rim.setColorAt(1, rimBottom);
    g.setPen(Qt::NoPen);
    g.setBrush(rim);
    g.drawEllipse(outer);

    QLinearGradient face(0, 3, 0, 33);
    face.setColorAt(0, faceTop);
    face.setColorAt(1, faceBottom);
    g.setBrush(face);
    g.drawEllipse(outer.adjusted(2.5, 2.5, -2.5, -2.5));

    if (state != ButtonState::Disabled && state != ButtonState::Pressed) {
        // A soft highlight on the upper half gives the face its curvature.
        QLinearGradient shine(0, 4, 0, 18);
        shine.setColorAt(0, QColor(255, 255, 255, 70));
        shine.setColorAt(1, QColor(255, 255, 255, 0));
        g.setBrush(shine);
        g.drawEllipse(QRectF(7, 4, 22, 14));
    }
    if (state == ButtonState::Focused) {
        g.setBrush(Qt::NoBrush);
        g.setPen(QPen(QColor(255, 176, 32), 2.0));
        g.drawEllipse(outer.adjusted(2.5, 2.5, -2.5, -2.5));
    }
}

QColor glyphColour(ButtonState state) {
    switch (state) {
        case ButtonState::Pressed:
            return QColor(140, 220, 255);
        case ButtonState::Disabled:
            return QColor(214, 216, 219);
        default:
            return QColor(250, 250, 250);
    }
}

QImage transportButton(Glyph glyph, ButtonState state) {
    QImage img = canvas(36, 36);
    QPainter g(&img);
    g.setRenderHint(QPainter::Antialiasing);
    drawDisc(g, state);
    const double shift = state == ButtonState::Pressed ? 1.0 : 0.0;
    g.translate(shift, shift);
    g.setPen(Qt::NoPen);
    if (state != ButtonState::Disabled) {
        g.setBrush(QColor(0, 0, 0, 90));  // drop shadow keeps the glyph legible on the shine
        g.drawPath(glyphPath(glyph).translated(0.7, 0.9));
    }
    g.setBrush(glyphColour(state));
    g.drawPath(glyphPath(glyph));
    g.end();
    return flatten(img);
}

// Speaker with sound waves (on) or with a cross (off).
QImage soundButton(bool on, bool disabled) {
    QImage img = canvas(36, 36);
    QPainter g(&img);
    g.setRenderHint(QPainter::Antialiasing);
    drawDisc(g, disabled ? ButtonState::Disabled : ButtonState::Normal);
    const QColor ink = glyphColour(disabled ? ButtonState::Disabled : ButtonState::Normal);
    QPainterPath speaker;
    speaker.moveTo(8.5, 14.5);
    speaker.lineTo(12.5, 14.5);
    speaker.lineTo(18, 9.5);
    speaker.lineTo(18, 26.5);
    speaker.lineTo(12.5, 21.5);
    speaker.lineTo(8.5, 21.5);
    speaker.closeSubpath();
    g.setPen(Qt::NoPen);
    g.setBrush(ink);
    g.drawPath(speaker);
    g.setBrush(Qt::NoBrush);
    if (on) {
        const QColor wave = disabled ? ink : QColor(120, 230, 140);
        g.setPen(QPen(wave, 2.0, Qt::SolidLine, Qt::RoundCap));
        g.drawArc(QRectF(14, 13, 10, 10), -50 * 16, 100 * 16);
        g.drawArc(QRectF(12, 9.5, 17, 17), -50 * 16, 100 * 16);
    } else {
        const QColor cross = disabled ? ink : QColor(255, 110, 100);
        g.setPen(QPen(cross, 2.2, Qt::SolidLine, Qt::RoundCap));
        g.drawLine(QPointF(21.5, 14.5), QPointF(27.5, 21.5));
        g.drawLine(QPointF(27.5, 14.5), QPointF(21.5, 21.5));
    }
    g.end();
    return flatten(img);
}

// ---- 20 x 20 panel icons ----

QImage cameraIcon() {
    QImage img = canvas(20, 20);
    QPainter g(&img);
    g.setRenderHint(QPainter::Antialiasing);
    g.setPen(QPen(QColor(40, 46, 54), 1.0));
    QLinearGradient body(0, 4, 0, 16);
    body.setColorAt(0, QColor(110, 122, 136));
    body.setColorAt(1, QColor(56, 64, 74));
    g.setBrush(body);
    g.drawRoundedRect(QRectF(1.5, 5.5, 12, 9), 2, 2);
    QPainterPath lensHood;  // the recorder's camera seen from the side
    lensHood.moveTo(13.5, 8.5);
    lensHood.lineTo(18.5, 5.5);
    lensHood.lineTo(18.5, 14.5);
    lensHood.lineTo(13.5, 11.5);
    lensHood.closeSubpath();
    g.drawPath(lensHood);
    g.setPen(Qt::NoPen);
    g.setBrush(QColor(230, 60, 50));
    g.drawEllipse(QRectF(3.5, 7.2, 2.6, 2.6));  // recording light
    g.end();
    return flatten(img);
}

QImage clockIcon() {
    QImage img = canvas(20, 20);
    QPainter g(&img);
    g.setRenderHint(QPainter::Antialiasing);
    QRadialGradient face(10, 8, 10);
    face.setColorAt(0, QColor(255, 255, 255));
    face.setColorAt(1, QColor(214, 220, 228));
    g.setPen(QPen(QColor(40, 46, 54), 1.6));
    g.setBrush(face);
    g.drawEllipse(QRectF(1.5, 1.5, 17, 17));
    g.setPen(QPen(QColor(120, 126, 134), 1.0));
    for (int i = 0; i < 12; i += 3) {
        g.save();
        g.translate(10, 10);
        g.rotate(i * 30);
        g.drawLine(QPointF(0, -6.8), QPointF(0, -5.2));
        g.restore();
    }
    g.setPen(QPen(QColor(30, 36, 44), 1.6, Qt::SolidLine, Qt::RoundCap));
    g.drawLine(QPointF(10, 10), QPointF(10, 5));
    g.drawLine(QPointF(10, 10), QPointF(13.5, 11.5));
    g.end();
    return flatten(img);
}

QImage counterIcon() {
    // A stack of three frames: the picture number within the recording.
    QImage img = canvas(20, 20);
    QPainter g(&img);
    g.setRenderHint(QPainter::Antialiasing);
    g.setPen(QPen(QColor(40, 46, 54), 1.0));
    const QColor fills[] = {QColor(150, 160, 172), QColor(120, 132, 146), QColor(80, 150, 210)};
    for (int i = 0; i < 3; ++i) {
        const double o = i * 3.0;
        g.setBrush(fills[i]);
        g.drawRect(QRectF(1.5 + o, 2.5 + o, 11, 9));
    }
    g.setPen(Qt::NoPen);
    g.setBrush(QColor(255, 255, 255));
    QPainterPath mountain;  // a tiny landscape in the front frame
    mountain.moveTo(8.5, 16.5);
    mountain.lineTo(11.5, 12.5);
    mountain.lineTo(13.5, 14.5);
    mountain.lineTo(15, 13);
    mountain.lineTo(17.5, 16.5);
    mountain.closeSubpath();
    g.drawPath(mountain);
    g.end();
    return flatten(img);
}

// ---- Toolbar strip: 16 x 15 cells ----

void drawFolder(QPainter& g) {
    g.setPen(QPen(QColor(120, 88, 20), 1.0));
    g.setBrush(QColor(236, 190, 80));
    QPainterPath back;
    back.moveTo(1.5, 3.5);
    back.lineTo(6.5, 3.5);
    back.lineTo(8, 5);
    back.lineTo(13.5, 5);
    back.lineTo(13.5, 12.5);
    back.lineTo(1.5, 12.5);
    back.closeSubpath();
    g.drawPath(back);
    g.setBrush(QColor(252, 216, 120));
    QPainterPath front;
    front.moveTo(1.5, 12.5);
    front.lineTo(4, 7.5);
    front.lineTo(15.5, 7.5);
    front.lineTo(13.5, 12.5);
    front.closeSubpath();
    g.drawPath(front);
}

void drawDisk(QPainter& g) {
    g.setPen(QPen(QColor(24, 40, 80), 1.0));
    g.setBrush(QColor(60, 96, 170));
    QPainterPath body;
    body.moveTo(1.5, 1.5);
    body.lineTo(12, 1.5);
    body.lineTo(14.5, 4);
    body.lineTo(14.5, 13.5);
    body.lineTo(1.5, 13.5);
    body.closeSubpath();
    g.drawPath(body);
    g.setPen(Qt::NoPen);
    g.setBrush(QColor(230, 234, 240));
    g.drawRect(QRectF(4, 2, 7, 4));
    g.setBrush(QColor(60, 96, 170));
    g.drawRect(QRectF(8.5, 2.5, 1.5, 3));
    g.setBrush(QColor(250, 250, 250));
    g.drawRect(QRectF(3.5, 8.5, 9, 5));
}

void drawPrinter(QPainter& g) {
    g.setPen(QPen(QColor(60, 60, 60), 1.0));
    g.setBrush(QColor(255, 255, 255));
    g.drawRect(QRectF(4.5, 1.5, 7, 5));  // paper in
    g.setBrush(QColor(150, 154, 160));
    g.drawRoundedRect(QRectF(1.5, 5.5, 13, 6), 1, 1);
    g.setBrush(QColor(255, 255, 255));
    g.drawRect(QRectF(4.5, 9.5, 7, 4.5));  // paper out
    g.setPen(Qt::NoPen);
    g.setBrush(QColor(80, 200, 90));
    g.drawRect(QRectF(12, 7, 1.5, 1.5));
}

void drawGrid(QPainter& g, int n) {
    const QRectF area(1.5, 1.5, 13, 12);
    g.setPen(Qt::NoPen);
    g.setBrush(QColor(40, 46, 54));
    g.drawRect(area.adjusted(-0.5, -0.5, 0.5, 0.5));
    const double gap = n >= 4 ? 0.6 : 1.0;
    const double cw = (area.width() - gap * (n - 1)) / n;
    const double ch = (area.height() - gap * (n - 1)) / n;
    for (int r = 0; r < n; ++r) {
        for (int c = 0; c < n; ++c) {
            QLinearGradient sky(0, area.top() + r * (ch + gap), 0, area.top() + (r + 1) * ch);
            sky.setColorAt(0, QColor(120, 190, 240));
            sky.setColorAt(1, QColor(60, 130, 200));
            g.setBrush(sky);
            g.drawRect(QRectF(area.left() + c * (cw + gap), area.top() + r * (ch + gap), cw, ch));
        }
    }
}

void drawAbout(QPainter& g) {
    g.setPen(QPen(QColor(20, 70, 150), 1.0));
    g.setBrush(QColor(60, 130, 220));
    g.drawEllipse(QRectF(1.5, 1, 13, 13));
    g.setPen(Qt::NoPen);
    g.setBrush(QColor(255, 255, 255));
    g.drawEllipse(QRectF(7, 3.2, 2.2, 2.2));  // the dot of the "i"
    g.drawRoundedRect(QRectF(7, 6.5, 2.2, 5.5), 0.6, 0.6);
}

QImage toolbarStrip() {
    QImage img = canvas(16 * 8, 15);
    QPainter g(&img);
    g.setRenderHint(QPainter::Antialiasing);
    const std::function<void(QPainter&)> cells[] = {
        drawFolder,
        drawDisk,
        drawPrinter,
        [](QPainter& p) { drawGrid(p, 1); },
        [](QPainter& p) { drawGrid(p, 2); },
        [](QPainter& p) { drawGrid(p, 3); },
        [](QPainter& p) { drawGrid(p, 4); },
        drawAbout,
    };
    for (int i = 0; i < 8; ++i) {
        g.save();
        g.translate(i * 16, 0);
        g.setClipRect(0, 0, 16, 15);
        cells[i](g);
        g.restore();
    }
    g.end();
    return flatten(img);
}

// ---- 32 x 32 program icons, one colour per brand ----

QImage brandIcon(int id) {
    QColor base;
    switch (id) {
        case 128:
            base = QColor(40, 150, 110);
            break;
        case 129:
            base = QColor(220, 120, 40);
            break;
        case 179:
            base = QColor(130, 80, 190);
            break;
        default:
            base = QColor(40, 110, 200);
            break;
    }
    QImage img = canvas(32, 32);
    QPainter g(&img);
    g.setRenderHint(QPainter::Antialiasing);
    QLinearGradient bg(0, 0, 0, 32);
    bg.setColorAt(0, base.lighter(135));
    bg.setColorAt(1, base.darker(130));
    g.setPen(QPen(base.darker(170), 1.0));
    g.setBrush(bg);
    g.drawRoundedRect(QRectF(1.5, 1.5, 29, 29), 6, 6);
    // A lens with a play mark: a camera's pictures played back.
    g.setPen(QPen(QColor(255, 255, 255), 2.0));
    g.setBrush(QColor(20, 24, 30));
    g.drawEllipse(QRectF(6, 6, 20, 20));
    g.setPen(Qt::NoPen);
    g.setBrush(QColor(255, 255, 255));
    g.drawPath(triangle(17, 16, 10, true));
    g.end();
    return flatten(img);
}

QImage drawSpec(const BitmapSpec& spec) {
    if (spec.kind == ResourceKind::Toolbar)
        return toolbarStrip();
    if (spec.kind == ResourceKind::Icon)
        return brandIcon(spec.id);
    if (spec.id >= 143 && spec.id <= 170) {
        static const Glyph glyphs[] = {Glyph::Reverse, Glyph::Previous, Glyph::Stop, Glyph::Next,
                                       Glyph::Play,    Glyph::First,    Glyph::Last};
        const int set = (spec.id - 143) / 4;
        const auto state = static_cast<ButtonState>((spec.id - 143) % 4);
        return transportButton(glyphs[set], state);
    }
    switch (spec.id) {
        case 171:
            return soundButton(true, false);
        case 172:
            return soundButton(false, false);
        case 173:
            return soundButton(true, true);
        case 174:
            return soundButton(false, true);
        case 175:
            return cameraIcon();
        case 176:
            return clockIcon();
        case 177:
            return counterIcon();
        default:
            return {};
    }
}

const char* folderOf(ResourceKind kind) {
    switch (kind) {
        case ResourceKind::Toolbar:
            return "toolbar";
        case ResourceKind::Icon:
            return "icons";
        default:
            return "bitmaps";
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: korvex-bitmaps OUTDIR\n");
        return 2;
    }
    if (std::getenv("QT_QPA_PLATFORM") == nullptr)
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QGuiApplication app(argc, argv);
    const QDir out(QString::fromLocal8Bit(argv[1]));
    int written = 0;
    for (const BitmapSpec& spec : korvex::bitmapSpecs()) {
        const QImage img = drawSpec(spec);
        if (img.isNull() || img.width() != spec.width || img.height() != spec.height) {
            std::fprintf(stderr, "korvex-bitmaps: no picture of the right size for %s %d\n",
                         folderOf(spec.kind), spec.id);
            return 1;
        }
        const QString folder = QString::fromLatin1(folderOf(spec.kind));
        if (!out.mkpath(folder)) {
            std::fprintf(stderr, "korvex-bitmaps: cannot create %s\n", qPrintable(folder));
            return 1;
        }
        const QString path = out.filePath(folder + QStringLiteral("/%1.png").arg(spec.id));
        // Stored as 24-bit pictures: the key colour, not an alpha channel, marks transparency.
        if (!img.convertToFormat(QImage::Format_RGB888).save(path, "PNG")) {
            std::fprintf(stderr, "korvex-bitmaps: cannot write %s\n", qPrintable(path));
            return 1;
        }
        ++written;
    }
    std::printf("wrote %d pictures under %s\n", written, argv[1]);
    return 0;
}
