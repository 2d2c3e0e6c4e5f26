// korvex-report-pdf: the PDF form of a verification report, for korvex-verify, which links no Qt.
// Usage: korvex-report-pdf DATA.json OUT.pdf

#include <QFile>
#include <QGuiApplication>

#include <cstdio>

#include "tools/verify/report/ReportPdf.h"

namespace {

// The library's notes (a missing runtime folder, fonts) are no business of the report's reader;
// only errors are shown.
void onlyErrors(QtMsgType type, const QMessageLogContext&, const QString& message) {
    if (type == QtCriticalMsg || type == QtFatalMsg)
        std::fprintf(stderr, "korvex-report-pdf: %s\n", message.toLocal8Bit().constData());
}

}  // namespace

int main(int argc, char** argv) {
    qInstallMessageHandler(onlyErrors);
    // A report needs no display.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    if (argc != 3) {
        std::fprintf(stderr, "usage: korvex-report-pdf DATA.json OUT.pdf\n");
        return 2;
    }
    QGuiApplication app(argc, argv);
    QFile in(QString::fromLocal8Bit(argv[1]));
    // The data is bounded by the report (a few hundred thumbnails); anything far larger is not it.
    constexpr qint64 kMaxData = 256ll * 1024 * 1024;
    if (!in.open(QIODevice::ReadOnly) || in.size() > kMaxData) {
        std::fprintf(stderr, "korvex-report-pdf: cannot read %s\n", argv[1]);
        return 2;
    }
    QString error;
    if (!korvex::verify::writeReportPdf(in.readAll(), QString::fromLocal8Bit(argv[2]), &error)) {
        std::fprintf(stderr, "korvex-report-pdf: %s\n", error.toLocal8Bit().constData());
        return 2;
    }
    return 0;
}
