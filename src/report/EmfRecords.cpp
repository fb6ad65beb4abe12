#include "report/EmfRecords.h"

#include "engine/Error.h"
#include "report/EmfFormat.h"

namespace zeplo {

using emf::u32At;

void emfDamaged(const QString &what)
{
    throw Error(QStringLiteral("The page picture is damaged: %1").arg(what));
}

double EmfHeaderInfo::pixelsPerMmX() const
{
    if (deviceMicrometers.width() > 0)
        return devicePixels.width() * 1000.0 / deviceMicrometers.width();
    return double(devicePixels.width()) / deviceMm.width();
}

double EmfHeaderInfo::pixelsPerMmY() const
{
    if (deviceMicrometers.height() > 0)
        return devicePixels.height() * 1000.0 / deviceMicrometers.height();
    return double(devicePixels.height()) / deviceMm.height();
}

EmfHeaderInfo readEmfHeader(const QByteArray &emf)
{
    using namespace emf;
    const qint64 total = emf.size();
    if (total < MinHeaderSize)
        emfDamaged(QStringLiteral("it is too short to hold a header"));
    if (u32At(emf, 0) != emf::Header)
        emfDamaged(QStringLiteral("it does not start with a header"));
    const quint32 size = u32At(emf, HeaderRecordSize);
    if (size < MinHeaderSize || size % 4 != 0 || size > total)
        emfDamaged(QStringLiteral("the header has a wrong size"));
    if (u32At(emf, HeaderSignature) != emf::Signature)
        emfDamaged(QStringLiteral("the signature is missing"));
    if (u32At(emf, HeaderVersion) != emf::Version)
        emfDamaged(QStringLiteral("unknown format version"));

    EmfHeaderInfo h;
    h.bounds = rectAt(emf, HeaderBounds);
    h.frame = rectAt(emf, HeaderFrame);
    h.bytes = u32At(emf, HeaderBytes);
    h.records = u32At(emf, HeaderRecords);
    h.handles = u16At(emf, HeaderHandles);
    h.devicePixels = QSize(i32At(emf, HeaderDevicePixels), i32At(emf, HeaderDevicePixels + 4));
    h.deviceMm = QSize(i32At(emf, HeaderDeviceMm), i32At(emf, HeaderDeviceMm + 4));
    if (h.bytes < size || h.bytes % 4 != 0 || h.bytes > total)
        emfDamaged(QStringLiteral("the stated length does not match the data"));
    if (h.records < 2)
        emfDamaged(QStringLiteral("the record count is wrong"));

    const quint32 nDesc = u32At(emf, HeaderDescriptionChars);
    const quint32 offDesc = u32At(emf, HeaderDescriptionOffset);
    if (nDesc != 0 && (offDesc < MinHeaderSize || qint64(offDesc) + 2 * qint64(nDesc) > size))
        emfDamaged(QStringLiteral("the description lies outside the header"));
    if (size >= HeaderSizeWithPixelFormat) {
        const quint32 cbPixel = u32At(emf, HeaderPixelFormatSize);
        const quint32 offPixel = u32At(emf, HeaderPixelFormatOffset);
        if (cbPixel != 0 && (offPixel < MinHeaderSize || qint64(offPixel) + cbPixel > size))
            emfDamaged(QStringLiteral("the pixel format lies outside the header"));
    }
    if (size >= emf::HeaderSize && (nDesc == 0 || offDesc >= emf::HeaderSize))
        h.deviceMicrometers = QSize(i32At(emf, HeaderDeviceMicrometers), i32At(emf, HeaderDeviceMicrometers + 4));
    if (h.deviceMicrometers.width() < 0 || h.deviceMicrometers.height() < 0
        || qint64(h.deviceMicrometers.width()) > MaxEmfDeviceExtent * 1000
        || qint64(h.deviceMicrometers.height()) > MaxEmfDeviceExtent * 1000)
        h.deviceMicrometers = QSize();
    if (h.devicePixels.width() <= 0 || h.devicePixels.height() <= 0 || h.devicePixels.width() > MaxEmfDeviceExtent
        || h.devicePixels.height() > MaxEmfDeviceExtent)
        emfDamaged(QStringLiteral("the device size in pixels is out of range"));
    if (h.deviceMm.width() <= 0 || h.deviceMm.height() <= 0 || h.deviceMm.width() > MaxEmfDeviceExtent
        || h.deviceMm.height() > MaxEmfDeviceExtent)
        emfDamaged(QStringLiteral("the device size in millimetres is out of range"));
    const qint64 fw = qint64(h.frame.right()) - h.frame.left() + 1;
    const qint64 fh = qint64(h.frame.bottom()) - h.frame.top() + 1;
    if (fw <= 0 || fh <= 0 || fw > MaxEmfDeviceExtent * 100 || fh > MaxEmfDeviceExtent * 100)
        emfDamaged(QStringLiteral("the frame is out of range"));
    return h;
}

EmfRecordWalker::EmfRecordWalker(const QByteArray &emf, const EmfHeaderInfo &header)
    : emf_(emf), end_(qMin<qint64>(header.bytes, emf.size()))
{
}

bool EmfRecordWalker::next(EmfRecordRef &record)
{
    if (done_)
        return false;
    const qint64 off = offset_;
    if (off + emf::RecordHeadSize > end_)
        emfDamaged(QStringLiteral("it ends without an end record"));
    const quint32 type = u32At(emf_, off);
    const quint32 size = u32At(emf_, off + 4);
    if (size < emf::RecordHeadSize || size % 4 != 0)
        emfDamaged(QStringLiteral("a record at offset %1 has a wrong size (%2)").arg(off).arg(size));
    if (off + qint64(size) > end_)
        emfDamaged(QStringLiteral("a record at offset %1 runs past the end").arg(off));
    if (off > 0 && type == emf::Header)
        emfDamaged(QStringLiteral("a second header at offset %1").arg(off));
    record = EmfRecordRef{type, off, qint64(size)};
    offset_ = off + size;
    done_ = type == emf::Eof;
    return true;
}

QVector<EmfRecordRef> listEmfRecords(const QByteArray &emf)
{
    EmfRecordWalker walker(emf, readEmfHeader(emf));
    QVector<EmfRecordRef> out;
    for (EmfRecordRef record; walker.next(record);)
        out.append(record);
    return out;
}

} // namespace zeplo
