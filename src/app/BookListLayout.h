#pragma once

#include "report/ReportLayout.h"

namespace zeplo {

// The book list: title block, column header, one line per book, closing block.
ReportLayout bookListLayout();

} // namespace zeplo
