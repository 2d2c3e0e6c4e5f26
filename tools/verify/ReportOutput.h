#pragma once

#include <string>
#include <vector>

#include "tools/verify/ReportModel.h"

namespace korvex::verify {

// Whether a report's file name asks for a PDF (".pdf", any case); anything else is HTML.
bool isPdfReportName(const std::string& path);

// The parts of a finished model that are about the report itself: program, version, the
// command line, when it was made (UTC) and the zone its times are read in.
void stampReport(ReportModel& model, const std::vector<std::string>& commandLine);

// Writes the HTML page whole or not at all.
bool writeHtmlReport(const ReportModel& model, const std::string& path, std::string& error);

// Writes the PDF through korvex-report-pdf, the Qt part, found through $KORVEX_REPORT_PDF,
// beside this program, or in ../libexec/korvex; the report's data passes in a temporary file
// beside `path`.
bool writePdfReportWithHelper(const ReportModel& model, const std::string& path,
                              std::string& error);

}  // namespace korvex::verify
