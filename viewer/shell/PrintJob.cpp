#include "viewer/shell/PrintJob.h"

#include <QMessageBox>
#include <QPainter>
#include <QPrintDialog>
#include <QPrinter>
#include <QWidget>
#include <algorithm>
#include <memory>

#include "viewer/playback/CKorvexDoc.h"
#include "viewer/resources/Resources.h"

namespace korvex {

namespace {

constexpr int kPrintJobNameId = 50105;  // "Korvex Print"

}  // namespace

QSize printRenderSize(const QPrinter& printer) {
    const int width = printer.width();
    const int height = printer.height();
    const int dpi = printer.resolution();
    if (width <= 0 || height <= 0)
        return {};
    if (dpi <= kPrintRenderDpi)
        return {width, height};
    const auto scaled = [dpi](int pixels) {
        return static_cast<int>((static_cast<qint64>(pixels) * kPrintRenderDpi + dpi / 2) / dpi);
    };
    return {std::max(1, scaled(width)), std::max(1, scaled(height))};
}

PrintStatus printPage(QPrinter& printer, const CKorvexDoc& doc, const PageRenderer& render) {
    const QSize size = printRenderSize(printer);
    const QImage page = size.isEmpty() || !render ? QImage() : render(doc, size);
    if (page.isNull())
        return PrintStatus::RenderFailed;

    QPainter painter;
    if (!painter.begin(&printer))
        return PrintStatus::PrinterFailed;
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    // The printable area, (0, 0) to (horizontal, vertical resolution) in printer pixels.
    painter.drawImage(QRect(0, 0, printer.width(), printer.height()), page);
    return painter.end() ? PrintStatus::Printed : PrintStatus::PrinterFailed;
}

QString printJobName() {
    return resString(kPrintJobNameId);
}

bool printCurrent(QWidget* parent, CKorvexDoc& doc, const PageRenderer& render, QPrinter* printer,
                  QString* destination) {
    std::unique_ptr<QPrinter> own;
    if (printer == nullptr) {
        own = std::make_unique<QPrinter>(QPrinter::HighResolution);
        printer = own.get();
    }
    // The job's name in the print queue.
    printer->setDocName(printJobName());

    QPrintDialog dialog(printer, parent);
    dialog.setObjectName(QStringLiteral("printDialog"));
    // One page: the first page is the last.
    dialog.setMinMax(1, 1);
    dialog.setPrintRange(QAbstractPrintDialog::AllPages);
    dialog.setOption(QAbstractPrintDialog::PrintSelection, false);
    dialog.setOption(QAbstractPrintDialog::PrintCurrentPage, false);
    if (dialog.exec() != QDialog::Accepted)
        return false;

    const PrintStatus status = printPage(*printer, doc, render);
    if (status == PrintStatus::Printed) {
        if (destination != nullptr) {
            *destination = printer->outputFileName().isEmpty() ? printer->printerName()
                                                               : printer->outputFileName();
        }
        return true;
    }
    const QString caption = parent != nullptr ? parent->window()->windowTitle() : QString();
    QMessageBox::warning(
        parent, caption,
        status == PrintStatus::RenderFailed
            ? uiText("The page could not be prepared for printing (not enough memory?).",
                     "印刷するページを作成できませんでした（メモリ不足の可能性があります）。")
            : uiText("The printer could not be started; nothing was printed.",
                     "プリンタを開始できませんでした。印刷されていません。"));
    return false;
}

}  // namespace korvex
