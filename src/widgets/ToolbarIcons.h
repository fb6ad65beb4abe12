#pragma once

#include <QIcon>
#include <QPixmap>

namespace zeplo {

// The pictures of the preview's toolbar, in toolbar order.
enum class ToolbarPicture {
    WholePage, // zoom to fit
    ActualSize, // 100 %
    PageWidth, // zoom to width: a page between two arrows
    FirstPage, // bar and left arrow
    PreviousPage, // left arrow
    NextPage, // right arrow
    LastPage, // right arrow and bar
    PrinterSetup, // printer with a spanner
    Printer,
    FloppyDisk, // save
    OpenFolder, // load
};

constexpr int ToolbarPictureCount = 11;
constexpr int ToolbarPictureSize = 16;

// A 16 x 16 picture drawn in code, with a transparent background.
QPixmap toolbarPixmap(ToolbarPicture picture);
QIcon toolbarIcon(ToolbarPicture picture);

} // namespace zeplo
