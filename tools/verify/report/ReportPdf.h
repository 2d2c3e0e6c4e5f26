#pragma once

#include <QByteArray>
#include <QString>

namespace korvex::verify {

// Draws the verification report held in `data` (the report's JSON data, as korvex-verify
// embeds it) into a PDF file at `path`: the same sections as the HTML page, the thumbnails with
// their banners, and `data` itself attached as report-data.json, whose SHA-256 the last page
// shows. Needs a QGuiApplication. False with a message when the data is not a report or the
// file cannot be written.
bool writeReportPdf(const QByteArray& data, const QString& path, QString* error);

}  // namespace korvex::verify
