#pragma once

#include <QByteArray>
#include <QRect>
#include <QSize>
#include <QString>
#include <QVector>
#include <QtEndian>

// The records of a page picture (an enhanced metafile): its header read and
// checked, and its records walked without reading outside the picture. The
// player, the page store and the report file's loader read pictures through it.
namespace zeplo {

// What the header of a page picture says about it.
struct EmfHeaderInfo {
    QRect bounds; // inclusive, reference-device pixels; may be empty
    QRect frame; // inclusive, 0.01 mm
    QSize devicePixels; // reference device
    QSize deviceMm;
    QSize deviceMicrometers; // zero when the header has no extension
    quint32 bytes = 0;
    quint32 records = 0;
    quint16 handles = 0;

    double widthMm() const { return (qint64(frame.right()) - frame.left() + 1) / 100.0; }
    double heightMm() const { return (qint64(frame.bottom()) - frame.top() + 1) / 100.0; }
    // Reference-device pixels per millimetre.
    double pixelsPerMmX() const;
    double pixelsPerMmY() const;
};

// One record of a picture, as found by walking it.
struct EmfRecordRef {
    quint32 type = 0;
    qint64 offset = 0;
    qint64 size = 0;
};

// Reads and checks the header; throws Error for anything that is not a
// sound picture header.
EmfHeaderInfo readEmfHeader(const QByteArray &emf);

// Walks the records of a picture whose header has been read, from the header
// record to the end record, checking that each lies within the picture's
// stated length and that no second header follows; throws Error at the first
// record that fails. A record it returns can be read whole without a check.
class EmfRecordWalker {
public:
    EmfRecordWalker(const QByteArray &emf, const EmfHeaderInfo &header);

    // The next record, the end record last; false once the end record has
    // been returned.
    bool next(EmfRecordRef &record);

private:
    const QByteArray &emf_;
    qint64 end_;
    qint64 offset_ = 0;
    bool done_ = false;
};

// Walks every record up to the end record, checking that each lies within the
// picture; throws Error otherwise.
QVector<EmfRecordRef> listEmfRecords(const QByteArray &emf);

// Throws Error "The page picture is damaged: <what>".
[[noreturn]] void emfDamaged(const QString &what);

// Pictures stating a device larger than this, in pixels or millimetres, are damaged: beyond any paper.
constexpr qint64 MaxEmfDeviceExtent = 1000000;

// Little-endian fields of a picture, at a byte offset already checked to lie inside it.
namespace emf {
inline quint32 u32At(const QByteArray &b, qint64 off) { return qFromLittleEndian<quint32>(b.constData() + off); }
inline qint32 i32At(const QByteArray &b, qint64 off) { return qFromLittleEndian<qint32>(b.constData() + off); }
inline qint16 i16At(const QByteArray &b, qint64 off) { return qFromLittleEndian<qint16>(b.constData() + off); }
inline quint16 u16At(const QByteArray &b, qint64 off) { return qFromLittleEndian<quint16>(b.constData() + off); }
inline QRect rectAt(const QByteArray &b, qint64 off)
{
    return QRect(QPoint(i32At(b, off), i32At(b, off + 4)), QPoint(i32At(b, off + 8), i32At(b, off + 12)));
}
} // namespace emf

} // namespace zeplo
