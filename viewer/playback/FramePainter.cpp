#include "viewer/playback/FramePainter.h"

#include <QFontMetrics>
#include <QGuiApplication>
#include <QPainter>
#include <QPalette>
#include <QPen>
#include <algorithm>
#include <cstring>

#include "viewer/playback/core/FrameTimeText.h"
#include "viewer/resources/ResourceText.h"
#include "viewer/resources/StringTable.h"

namespace korvex {

namespace {

// Large enough for a printed page at 1200 dpi, small enough that a hostile picture size cannot
// ask for more memory than a desktop has.
constexpr qint64 kMaxOffscreenPixels = 256LL * 1024 * 1024;
// Height of the band under a printed picture that holds the print title.
constexpr int kPrintTitleBand = 256;

QRect toQRect(const PixelRect& r) {
    return QRect(r.left, r.top, r.width(), r.height());
}

PixelRect toPixelRect(const QRect& r) {
    return {r.left(), r.top(), r.left() + r.width(), r.top() + r.height()};
}

// The stored rows 0 .. height - cropped - 1 of a DIB as they lie in memory (bottom row first),
// without copying: valid while the block lives.
QImage wrapShownRows(const DibBlock& block, const DibInfo& info, int cropped) {
    const int rows = info.height - cropped;
    if (rows <= 0)
        return {};
    const QImage::Format format =
        info.bitCount == 24 ? QImage::Format_BGR888 : QImage::Format_RGB32;
    return QImage(block.data() + kDibPixelOffset, info.width, rows,
                  static_cast<qsizetype>(info.stride), format);
}

// Whether Qt smooth-scales a 24-bit picture of `source` size to `shown` size by drawing it
// through a bilinear transform. It does, unless the picture shrinks to less than half in either
// direction or has a megapixel or more: those it hands to its box-filter scaler.
bool scalesByDrawing(const QSize& source, const QSize& shown) {
    return shown.width() * 2 >= source.width() && shown.height() * 2 >= source.height() &&
           static_cast<qint64>(source.width()) * source.height() < (qint64{1} << 20);
}

// `rows` (bottom row first) smoothly scaled to `size`, still bottom row first, with the colours
// Qt gives the 24-bit picture of the same colours. A 24-bit picture goes to Qt's scaler as it is;
// Qt would take a 32-bit one to its box filter always, so where it draws a 24-bit one, a 32-bit
// one is drawn the same way here (into zero bytes, as Qt's own scaled picture starts), which
// spares Qt the conversion of every source pixel that costs more than the drawing. It is drawn
// into 32-bit pixels too, which Qt stores as they come.
QImage smoothScaledRows(const QImage& rows, const QSize& size) {
    if (rows.format() != QImage::Format_RGB32 || !scalesByDrawing(rows.size(), size))
        return rows.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    QImage shown(size, QImage::Format_RGB32);
    if (shown.isNull())
        return shown;
    shown.fill(0);
    QPainter painter(&shown);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.setTransform(QTransform::fromScale(static_cast<qreal>(size.width()) / rows.width(),
                                               static_cast<qreal>(size.height()) / rows.height()));
    painter.drawImage(QPoint(0, 0), rows);
    return shown;
}

// Puts the bottom-up `shown` into `target` at `at` the right way up, as a mirrored copy drawn
// there in Source mode would: row copies into blue-green-red bytes from the same or from 32-bit
// pixels. Qt's thread pool may have drawn `shown`, and ThreadSanitizer cannot see the locks Qt
// waited for it with (Qt is not built for it): it would check, and report, every pixel read here.
__attribute__((no_sanitize("thread"))) void drawTurnedOver(QImage& target, const QImage& shown,
                                                           const QPoint& at) {
    const bool wide = shown.format() == QImage::Format_RGB32;
    if (target.format() != QImage::Format_BGR888 ||
        (!wide && shown.format() != QImage::Format_BGR888)) {
        QPainter painter(&target);
        painter.setCompositionMode(QPainter::CompositionMode_Source);
        painter.drawImage(at, shown.mirrored(false, true));
        return;
    }
    const QRect area = QRect(at, shown.size()).intersected(target.rect());
    const int h = shown.height();
    const int w = area.width();
    for (int y = area.top(); y <= area.bottom(); ++y) {
        const uchar* from = shown.constScanLine(h - 1 - (y - at.y()));
        uchar* to = target.scanLine(y) + area.left() * 3;
        if (!wide) {
            std::memcpy(to, from + (area.left() - at.x()) * 3, static_cast<std::size_t>(w) * 3);
            continue;
        }
        // 32-bit pixels lie blue, green, red, 255 in memory: four bytes go over at a time and
        // the next pixel overwrites the fourth, except at the row's end.
        from += (area.left() - at.x()) * 4;
        for (int x = 0; x + 1 < w; ++x, from += 4, to += 3)
            std::memcpy(to, from, 4);
        if (w > 0)
            std::memcpy(to, from, 3);
    }
}

QString timeFaceName() {
    return resString(strid::timeFaceName);
}

// The time text's font for text unit `unit` (bold, character height `unit`).
QFont timeFont(int unit) {
    return pixelFont(timeFaceName(), unit, true);
}

}  // namespace

QColor faceColour() {
    return QGuiApplication::palette().color(QPalette::Active, QPalette::Button);
}

QColor windowColour() {
    return QColor(Qt::white);
}

QFont pixelFont(const QString& face, int characterHeight, bool bold) {
    QFont font(face);
    font.setPixelSize(std::max(1, characterHeight));
    font.setWeight(bold ? QFont::Bold : QFont::Normal);
    font.setStyleStrategy(QFont::PreferAntialias);
    return font;
}

QImage newOffscreen(const QSize& size, const QColor& fill) {
    if (size.width() <= 0 || size.height() <= 0 ||
        static_cast<qint64>(size.width()) * size.height() > kMaxOffscreenPixels) {
        return {};
    }
    QImage image(size, QImage::Format_BGR888);
    if (!image.isNull())
        image.fill(fill);
    return image;
}

QImage dibToImage(const DibBlock& block) {
    DibInfo info;
    if (!readDibInfo(block, info))
        return {};
    QImage rows = wrapShownRows(block, info, croppedRows(info.height));
    if (rows.isNull())
        return {};
    return rows.mirrored(false, true);
}

PanePlan planPane(const PaneDrawRequest& request, const OverlaySettings& settings) {
    PanePlan plan;
    DibInfo info;
    plan.hasPicture = request.picture != nullptr && readDibInfo(*request.picture, info);
    plan.pictureWidth = plan.hasPicture ? info.width : request.rect.width();
    plan.pictureHeight = plan.hasPicture ? info.height : request.rect.height() / 2;
    plan.croppedRows = croppedRows(plan.pictureHeight);
    // The rows are a field shown at twice their height, but a picture always fills the 4:3
    // rectangle of its pane, so only the pane decides where it goes.
    plan.destination = fitFourByThree(toPixelRect(request.rect));
    plan.unit = textUnitFor(plan.destination.height());

    OverlayTextInput input;
    input.time = request.time;
    input.frameFlags = request.frameFlags;
    input.title = request.title;
    input.showCameraTitle = settings.showCameraTitle;
    input.hasChannelInfo = settings.hasChannelInfo;
    input.dateFormat = settings.dateFormat;
    input.dateDelimiter = settings.dateDelimiter;
    plan.text = QString::fromStdString(overlayText(input));
    // A text smaller than a pixel cannot be written; a zero height would mean the platform's
    // default size instead, larger than the pane.
    if (!plan.text.isEmpty() && plan.unit.unit > 0) {
        const QFontMetrics metrics(timeFont(plan.unit.unit));
        const int tw = metrics.horizontalAdvance(plan.text);
        const int th = metrics.height();
        plan.textRect = placeText(plan.destination, plan.unit, tw, th, settings.timePosition);
        plan.textShown = plan.textRect.width() > 0 && textFits(plan.textRect, request.rect.width());
    }
    return plan;
}

void darkenRect(QImage& target, const PixelRect& r) {
    const int depth = target.depth();
    if (target.isNull() || (depth != 24 && depth != 32))
        return;
    const int left = std::max(0, r.left);
    const int top = std::max(0, r.top);
    const int right = std::min(target.width(), r.right);
    const int bottom = std::min(target.height(), r.bottom);
    if (left >= right || top >= bottom)
        return;
    std::uint8_t table[256];
    for (int v = 0; v < 256; ++v)
        table[v] = static_cast<std::uint8_t>(v * 9 / 10);  // trunc(v x 0.9)
    const int bytesPerPixel = depth / 8;
    for (int y = top; y < bottom; ++y) {
        std::uint8_t* p = target.scanLine(y) + left * bytesPerPixel;
        for (int x = left; x < right; ++x, p += bytesPerPixel) {
            // Colour bytes only: the fourth byte of a 32-bit pixel is not a colour.
            p[0] = table[p[0]];
            p[1] = table[p[1]];
            p[2] = table[p[2]];
        }
    }
}

void paintAlterationBanners(QImage& target, const PixelRect& d, std::int32_t flags,
                            bool checkMode) {
    const BannerPlan plan = bannersFor(flags, checkMode);
    if (!plan.picture && !plan.time)
        return;
    QPainter painter(&target);
    painter.setFont(pixelFont(QStringLiteral("Arial"), bannerTextHeight(d), true));
    painter.setPen(QPen(QColor(255, 255, 0), 2, Qt::SolidLine));
    painter.setBrush(QColor(255, 0, 0));
    auto banner = [&painter](const PixelRect& r, const QString& text) {
        const QRect rect = toQRect(r);
        painter.drawRect(rect.adjusted(0, 0, -1, -1));
        painter.drawText(rect, Qt::AlignCenter | Qt::TextSingleLine | Qt::TextDontClip, text);
    };
    if (plan.picture)
        banner(pictureBannerRect(d), resString(textid::imageAltered));
    if (plan.time)
        banner(timeBannerRect(d), resString(textid::timeAltered));
}

void paintPane(QImage& target, const PaneDrawRequest& request, const OverlaySettings& settings) {
    if (target.isNull())
        return;
    const PanePlan plan = planPane(request, settings);
    const PixelRect& d = plan.destination;

    if ((request.parts & kPartPicture) != 0) {
        DibInfo info;
        if (plan.hasPicture && d.width() > 0 && d.height() > 0 &&
            readDibInfo(*request.picture, info)) {
            const QImage rows = wrapShownRows(*request.picture, info, plan.croppedRows);
            // One scale per pane; the rows lie bottom-up, so the scaled picture is turned over
            // (a row copy) rather than the larger source.
            const QSize size(d.width(), d.height());
            const QImage shown =
                request.halftone ? smoothScaledRows(rows, size)
                                 : rows.scaled(size, Qt::IgnoreAspectRatio, Qt::FastTransformation);
            drawTurnedOver(target, shown, QPoint(d.left, d.top));
        }
    } else if ((request.parts & kPartBlack) != 0) {
        QPainter painter(&target);
        painter.fillRect(toQRect(d), Qt::black);
    }

    if ((request.parts & kPartText) != 0 && settings.showText) {
        if ((request.frameFlags & kFlagNoValidTime) == 0 && plan.textShown) {
            darkenRect(target, plan.textRect);
            QPainter painter(&target);
            painter.setFont(timeFont(plan.unit.unit));
            painter.setPen(Qt::white);
            painter.drawText(toQRect(plan.textRect),
                             Qt::AlignCenter | Qt::TextSingleLine | Qt::TextDontClip, plan.text);
        }
        if (request.printing && plan.unit.unit > 0) {
            QPainter painter(&target);
            painter.setFont(pixelFont(resString(strid::printFaceName), plan.unit.unit, true));
            painter.setPen(Qt::black);
            const QRect below(d.left, d.bottom, d.width(), kPrintTitleBand);
            painter.drawText(below, Qt::AlignCenter | Qt::TextSingleLine | Qt::TextDontClip,
                             QString::fromStdString(settings.printTitle));
        }
    }

    if ((request.parts & kPartPicture) != 0 && plan.hasPicture)
        paintAlterationBanners(target, d, request.frameFlags, settings.checkMode);
}

void paintInvalidImage(QImage& target, const QRect& rect) {
    if (target.isNull())
        return;
    QPainter painter(&target);
    painter.fillRect(rect, faceColour());
    painter.setFont(pixelFont(QStringLiteral("Arial"), 20, false));
    painter.setPen(Qt::black);
    painter.drawText(rect, Qt::AlignCenter | Qt::TextSingleLine | Qt::TextDontClip,
                     resString(textid::invalidImage));
}

namespace {

// A request that draws `frame` into `rect` with its picture, time and title.
PaneDrawRequest requestFor(const FrameContent& frame, const QRect& rect) {
    PaneDrawRequest request;
    request.rect = rect;
    request.picture = frame.picture;
    request.index = frame.index;
    request.time = frame.time;
    request.title = frame.title;
    request.frameFlags = frame.flags;
    return request;
}

}  // namespace

QImage renderSinglePane(const QSize& pageSize, const FrameContent& frame,
                        const OverlaySettings& settings, bool printing) {
    QImage page = newOffscreen(pageSize, printing ? windowColour() : faceColour());
    if (page.isNull())
        return page;
    DibInfo info;
    if (frame.picture == nullptr || !readDibInfo(*frame.picture, info)) {
        paintInvalidImage(page, page.rect());
        // A picture that does not decode may still carry a readable trailer: the time and the
        // marks of its check go on the face where they would go on the picture.
        if (frame.flags >= 0 && !printing) {
            PaneDrawRequest request = requestFor(frame, page.rect());
            request.picture = nullptr;
            request.parts = kPartText;
            paintPane(page, request, settings);
            paintAlterationBanners(page, fitFourByThree(toPixelRect(request.rect)), frame.flags,
                                   settings.checkMode);
        }
        return page;
    }
    PaneDrawRequest request = requestFor(frame, page.rect());
    // The print title goes in a band below the picture. On a landscape page the picture fitted
    // to the whole page reaches its bottom edge and the title would fall off: the picture is
    // then fitted to what the band leaves.
    if (printing) {
        const PixelRect fitted = fitFourByThree(toPixelRect(request.rect));
        const int band = std::min(kPrintTitleBand, page.height() / 4);
        if (fitted.bottom + band > page.height())
            request.rect.setHeight(page.height() - band);
    }
    request.printing = printing;
    paintPane(page, request, settings);
    return page;
}

QImage renderPanePicture(const QSize& size, const FrameContent& frame,
                         const OverlaySettings& settings) {
    DibInfo info;
    if (frame.picture == nullptr || !readDibInfo(*frame.picture, info))
        return {};
    QImage image = newOffscreen(size, faceColour());
    if (image.isNull())
        return image;
    paintPane(image, requestFor(frame, image.rect()), settings);
    return image;
}

void drawEtchedEdge(QImage& target, const QRect& r, const QColor& dark, const QColor& light) {
    if (target.isNull() || r.width() < 3 || r.height() < 3)
        return;
    // The platform's sunken one-pixel shade rectangle: a dark outline one pixel short of the
    // right and bottom, a light line just inside its top and left, and light right and bottom
    // edges.
    const int x = r.left();
    const int y = r.top();
    const int w = r.width();
    const int h = r.height();
    QPainter painter(&target);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.fillRect(x, y, w - 1, 1, dark);
    painter.fillRect(x, y + h - 2, w - 1, 1, dark);
    painter.fillRect(x, y, 1, h - 1, dark);
    painter.fillRect(x + w - 2, y, 1, h - 1, dark);
    painter.fillRect(x + 1, y + 1, w - 3, 1, light);
    painter.fillRect(x + 1, y + 1, 1, h - 3, light);
    painter.fillRect(x, y + h - 1, w, 1, light);
    painter.fillRect(x + w - 1, y, 1, h, light);
}

QImage renderPaneGrid(const QSize& size, const PaneLayout& panes, const OverlaySettings& settings) {
    QImage offscreen = newOffscreen(size, faceColour());
    if (offscreen.isNull() || panes.gridSize() <= 1)
        return offscreen;
    const std::vector<PixelRect> rects =
        paneRects({0, 0, size.width(), size.height()}, panes.gridSize());
    const QPalette palette = QGuiApplication::palette();
    for (const PixelRect& r : rects) {
        drawEtchedEdge(offscreen, toQRect(r), palette.color(QPalette::Active, QPalette::Dark),
                       palette.color(QPalette::Active, QPalette::Light));
    }
    for (int q = 0; q < static_cast<int>(rects.size()); ++q) {
        const PaneCache& cache = panes.cache(q);
        DibInfo info;
        const bool hasPicture = cache.picture && readDibInfo(cache.picture, info);
        PaneDrawRequest request;
        request.parts = hasPicture ? (kPartPicture | kPartText) : kPartBlack;
        request.rect = toQRect(rects[static_cast<std::size_t>(q)].shrunk(1));
        request.picture = hasPicture ? &cache.picture : nullptr;
        request.index = cache.index;
        request.time = cache.time;
        request.title = cache.title;
        request.frameFlags = cache.checkFlags;
        paintPane(offscreen, request, settings);
    }
    return offscreen;
}

}  // namespace korvex
