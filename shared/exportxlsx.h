#pragma once

#include <QString>
#include <memory>

namespace tamlo {

class ExportWriter;

// The Excel workbook writer (libxlsxwriter in its constant-memory mode: each row goes to disk as
// it is complete, so memory does not grow with the record count). One sheet named after the
// file, a bold frozen header row, the time column as date-time cells "yyyy-mm-dd hh:mm:ss",
// values as numbers, no sample as an empty cell.
std::unique_ptr<ExportWriter> makeXlsxWriter();

// The sheet name for an output file: its name without the extension, less the characters a
// sheet name cannot hold, at most 31 characters.
QString xlsxSheetName(const QString& outputPath);

}  // namespace tamlo
