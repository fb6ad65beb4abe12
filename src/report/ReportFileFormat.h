#pragma once

#include <QtGlobal>

#include "report/EmfFormat.h"

// The saved report file, as the page store lays out its stream and the
// loader reads it: a header, then one record per page. All little-endian.
namespace zeplo::report_file {

constexpr int HeaderSize = 128;
// Files of an older writer have a header four bytes shorter.
constexpr int OldHeaderSize = 124;
constexpr quint16 FormatVersion = 3;
constexpr quint16 WriterVersion = 309;

// Byte offsets of the header's fields.
enum HeaderField : int {
    HeaderFormatVersion = 0, // u16
    HeaderWriterVersion = 2, // u16
    HeaderPageCount = 8,     // u32
    HeaderFinished = 16,     // double: days since 30 December 1899, the time of day as the fraction
    HeaderPageFormat = 25,   // u8, a PageFormat
};

enum PageFormat : quint8 {
    PagesAsTheyAre = 0,
    CompressedPages = 1, // written by other programs; not read
};

// A page's record: its number from 1, the offset of the next record, the
// page picture, and last the offset of this record.
enum RecordField : int {
    RecordPageNumber = 0, // u32
    RecordNextOffset = 4, // u32
    RecordPicture = 8,
};
constexpr qint64 RecordOverhead = 12; // the record's three numbers
constexpr qint64 MinPictureSize = emf::MinHeaderSize + 20; // a header and an end record

// Offsets are 32-bit: no stream grows beyond this.
constexpr qint64 MaxStreamSize = 0xFFFFFFFFll;

// An older header shows by the first picture's signature (" EMF") standing
// four bytes earlier: its letters "EMF" start here.
constexpr qint64 OldHeaderProbe = OldHeaderSize + RecordPicture + emf::HeaderSignature + 1;

} // namespace zeplo::report_file
