#pragma once

#include <QColor>
#include <QtGlobal>

// The enhanced metafile format as the writer lays it out and the player reads
// it: record types, the places of the fields we read, and the values of the
// modes, flags and styles. All little-endian; every record starts with its
// type (u32) and its size in bytes (u32, a multiple of 4).
namespace zeplo::emf {

enum RecordType : quint32 {
    Header = 1,
    PolyBezier = 2,
    SetWindowExtEx = 9,
    SetWindowOrgEx = 10,
    SetViewportExtEx = 11,
    SetViewportOrgEx = 12,
    Eof = 14,
    SetMapMode = 17,
    SetBkMode = 18,
    SetTextAlign = 22,
    SetTextColor = 24,
    SetBkColor = 25,
    MoveToEx = 27,
    IntersectClipRect = 30,
    SaveDC = 33,
    RestoreDC = 34,
    SelectObject = 37,
    CreatePen = 38,
    CreateBrushIndirect = 39,
    DeleteObject = 40,
    Rectangle = 43,
    LineTo = 54,
    ExtCreateFontIndirectW = 82,
    ExtTextOutW = 84,
    Polygon16 = 86,
    Polyline16 = 87,
};

constexpr int RecordHeadSize = 8; // type and size

// The header record. It is 88 bytes without extensions, 100 with the pixel
// format and 108 with the size in micrometres as well, which is what we write.
constexpr quint32 Signature = 0x464D4520; // " EMF"
constexpr quint32 Version = 0x10000;
constexpr int MinHeaderSize = 88;
constexpr int HeaderSizeWithPixelFormat = 100;
constexpr int HeaderSize = 108;
// Byte offsets of the header's fields from the start of the record.
enum HeaderField : int {
    HeaderRecordSize = 4,
    HeaderBounds = 8, // inclusive rectangle, reference-device pixels
    HeaderFrame = 24, // inclusive rectangle, 0.01 mm
    HeaderSignature = 40,
    HeaderVersion = 44,
    HeaderBytes = 48,
    HeaderRecords = 52,
    HeaderHandles = 56, // u16, then a reserved u16
    HeaderDescriptionChars = 60,
    HeaderDescriptionOffset = 64,
    HeaderPaletteEntries = 68,
    HeaderDevicePixels = 72, // width, height
    HeaderDeviceMm = 80, // width, height
    HeaderPixelFormatSize = 88,
    HeaderPixelFormatOffset = 92,
    HeaderOpenGl = 96,
    HeaderDeviceMicrometers = 100, // width, height
};

// EXTCREATEFONTINDIRECTW: the object index, then a LOGFONTW. Offsets from the
// start of the record.
constexpr int LogFontSize = 92;
enum FontField : int {
    FontObjectIndex = 8,
    FontHeight = 12, // negative: the character height; positive: the cell height
    FontWidth = 16,
    FontEscapement = 20,
    FontOrientation = 24,
    FontWeight = 28,
    FontItalic = 32, // one byte each from here
    FontUnderline = 33,
    FontStrikeOut = 34,
    FontCharSet = 35,
    FontFaceName = 40, // 32 UTF-16 units, zero-terminated when shorter
};
constexpr int FaceNameChars = 32;
constexpr int WeightNormal = 400;
constexpr int WeightBold = 700;
constexpr quint8 DefaultCharset = 1;

// EXTTEXTOUTW: a 76-byte head, then the UTF-16 text, then the advances.
// Offsets from the start of the record.
constexpr int TextOutHeadSize = 76;
enum TextOutField : int {
    TextOutBounds = 8,
    TextOutGraphicsMode = 24,
    TextOutScaleX = 28, // float
    TextOutScaleY = 32, // float
    TextOutReference = 36, // point
    TextOutChars = 44,
    TextOutStringOffset = 48,
    TextOutOptions = 52,
    TextOutRectangle = 56, // absent when the options say EtoNoRect
    TextOutAdvancesOffset = 72,
    TextOutAdvancesOffsetNoRect = 56,
};
enum TextOutOption : quint32 {
    EtoOpaque = 0x2,
    EtoClipped = 0x4,
    EtoNoRect = 0x100,
    EtoPdy = 0x2000, // advances come in pairs, x and y
};
constexpr quint32 GraphicsModeCompatible = 1;

// SETMAPMODE
enum MapMode : quint32 {
    MmText = 1,
    MmLoMetric = 2, // 0.1 mm, y up
    MmHiMetric = 3, // 0.01 mm, y up
    MmLoEnglish = 4, // 0.01 inch, y up
    MmHiEnglish = 5, // 0.001 inch, y up
    MmTwips = 6, // 1/1440 inch, y up
    MmIsotropic = 7,
    MmAnisotropic = 8,
};

// SETBKMODE
enum BkMode : quint32 {
    Transparent = 1,
    Opaque = 2,
};

// SETTEXTALIGN: flags; left, top and "no update" are 0.
enum TextAlign : quint32 {
    TaNoUpdateCp = 0,
    TaTopLeft = 0,
    TaUpdateCp = 1,
    TaRight = 2,
    TaCenter = 6,
    TaHorizontal = 6, // the bits of the horizontal alignment
    TaBottom = 8,
    TaBaseline = 24,
    TaVertical = 24, // the bits of the vertical alignment
};

// CREATEPEN: the style's low bits.
enum PenStyle : quint32 {
    PsSolid = 0,
    PsDash = 1,
    PsDot = 2,
    PsDashDot = 3,
    PsDashDotDot = 4,
    PsNull = 5,
    PsStyleMask = 0x0F,
};

// CREATEBRUSHINDIRECT
enum BrushStyle : quint32 {
    BsSolid = 0,
    BsNull = 1,
    BsHatched = 2,
};
constexpr quint32 HatchStyles = 6; // horizontal, vertical, two diagonals, cross, diagonal cross

// Stock objects are selected as StockObject | index.
constexpr quint32 StockObject = 0x80000000u;
enum Stock : quint32 {
    WhiteBrush = 0,
    LtGrayBrush = 1,
    GrayBrush = 2,
    DkGrayBrush = 3,
    BlackBrush = 4,
    NullBrush = 5,
    WhitePen = 6,
    BlackPen = 7,
    NullPen = 8,
    OemFixedFont = 10,
    AnsiFixedFont = 11,
    AnsiVarFont = 12,
    SystemFont = 13,
    DeviceDefaultFont = 14,
    DefaultPalette = 15,
    SystemFixedFont = 16,
    DefaultGuiFont = 17,
    DcBrush = 18,
    DcPen = 19,
    LastStock = 19,
};

// COLORREF: 0x00BBGGRR
inline quint32 colorRef(const QColor &c)
{
    return quint32(c.red()) | (quint32(c.green()) << 8) | (quint32(c.blue()) << 16);
}

inline QColor colorFromRef(quint32 ref)
{
    return QColor(int(ref & 0xFF), int((ref >> 8) & 0xFF), int((ref >> 16) & 0xFF));
}

} // namespace zeplo::emf
