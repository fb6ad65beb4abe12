#pragma once

#include <filesystem>
#include <memory>

#include "SheetRows.h"

namespace zeplo::tool {

// The rows of the first sheet of a workbook: an OpenDocument spreadsheet
// (.ods) or an Office Open XML workbook (.xlsx). A cell holds its text as
// shown for texts, and for numbers and logical values the value itself
// ("1936", "1") rather than its formatted display.
std::unique_ptr<RowReader> readOdsRows(const std::filesystem::path &file);
std::unique_ptr<RowReader> readXlsxRows(const std::filesystem::path &file);

} // namespace zeplo::tool
