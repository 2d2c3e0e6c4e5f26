#pragma once

#include <QImage>
#include <QSize>
#include <QString>
#include <functional>

class QPrinter;
class QWidget;

namespace korvex {

class CKorvexDoc;

// Draws the printed page: the current frame fitted 4:3 into `page` (pixels, white background)
// with its overlays and the print title below it, as the view's single pane.
using PageRenderer = std::function<QImage(const CKorvexDoc& doc, const QSize& page)>;

// The page is drawn offscreen at no more than this many dots per inch and then scaled onto the
// printer: a whole 24-bit page at a printer's 1200 dpi would take over 400 MB, and the title band
// below the picture (256 pixels) was meant for printers of about this resolution.
inline constexpr int kPrintRenderDpi = 300;

// The size of the offscreen page for `printer`: its printable area in printer pixels, scaled
// down to kPrintRenderDpi when the printer's resolution is higher.
QSize printRenderSize(const QPrinter& printer);

enum class PrintStatus { Printed, RenderFailed, PrinterFailed };

// Prints the one page of the current frame on `printer`, already set up (the print dialog's
// choice, or a PDF file in tests). Nothing comes before or after the page.
PrintStatus printPage(QPrinter& printer, const CKorvexDoc& doc, const PageRenderer& render);

// Command 57607: the print dialog for a single page, job name "Korvex Print", then the page.
// Cancel prints nothing; a failure is shown in a message box. True when the page was printed;
// `destination`, when given, then names the printer or the output file.
// `printer`, when given, is used (and keeps the user's choices); otherwise a new one.
bool printCurrent(QWidget* parent, CKorvexDoc& doc, const PageRenderer& render,
                  QPrinter* printer = nullptr, QString* destination = nullptr);

// The name of the print job in the queue.
QString printJobName();

}  // namespace korvex
