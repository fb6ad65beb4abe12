#pragma once

#include <QPageSize>
#include <QString>

#include <functional>
#include <memory>

#include "report/ReportOutput.h"

class QPrintDialog;
class QPrinter;
class QWidget;

namespace zeplo {

class PageStore;

// The printer that a print goes to: the report's printer (the default printer
// while none is chosen), or null when no printer is installed.
std::unique_ptr<QPrinter> makePrinter(const PrinterSettings &settings);

bool printersInstalled();

// With printers installed but none of them the default, a report cannot be
// laid out for its printer: raises "There is no default printer currently
// selected".
void checkDefaultPrinter();

// The print dialog of the printer set-up: page range 1..pageCount preset to
// the whole range; copies, collation, all pages or a range; no selection and
// no current page.
void preparePrintDialog(QPrintDialog &dialog, int pageCount);
// What an accepted dialog gives the report: copies, printer, orientation and
// the range (all pages: 0 and 0).
void takePrintDialogResult(const QPrintDialog &dialog, PrinterSettings &settings);

// The printer set-up: the dialog filled from `settings`, which take the
// choices on OK. Raises "Operation not supported on selected printer" before
// the dialog when the printer layer knows no device for the report's printer.
// Returns whether the user pressed OK.
bool runPrinterSetup(PrinterSettings &settings, int pageCount, QWidget *owner);

// Prints stored pages from `firstPage` (0: the first) to `lastPage` (0: the
// last), each stretched over the printable area of a page of its own.
// `beforePage` runs before each page with the number of pages done and the
// number to print; when it returns false the job is aborted. Returns the
// pages sent. A range holding no page starts no job.
int printStoredPages(const PageStore &store, QPrinter &printer, int firstPage, int lastPage,
                     const std::function<bool(int done, int total)> &beforePage);

} // namespace zeplo
