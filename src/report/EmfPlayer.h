#pragma once

#include <QByteArray>
#include <QRect>
#include <QRectF>
#include <QSize>
#include <QVector>

class QPainter;

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

// Draws the picture with its frame stretched onto `target`. Records it does not
// draw are skipped; a damaged picture throws Error, possibly after part
// of it has been drawn. The painter's state is restored either way.
void playEmf(const QByteArray &emf, QPainter &painter, const QRectF &target);

} // namespace zeplo
