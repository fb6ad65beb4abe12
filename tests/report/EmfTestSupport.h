#pragma once

#include <QByteArray>
#include <QImage>
#include <QRect>
#include <QtEndian>

#include <initializer_list>

// Builds page pictures by hand, record by record, for cases our own writer
// never produces: other programs' records and damaged pictures.
class EmfBuilder {
public:
    EmfBuilder(int widthPx, int heightPx, int widthMm, int heightMm, quint16 handles = 4)
    {
        // Header: 108 bytes, the sizes patched in by bytes().
        rec(1, {0, 0, widthPx - 1, heightPx - 1, // bounds
                0, 0, widthMm * 100 - 1, heightMm * 100 - 1, // frame
                0x464D4520, 0x10000, 0 /*bytes*/, 0 /*records*/, handles, 0 /*description*/, 0, 0,
                widthPx, heightPx, widthMm, heightMm, 0, 0, 0, widthMm * 1000, heightMm * 1000});
    }

    // A record of 32-bit fields.
    EmfBuilder &rec(quint32 type, std::initializer_list<qint64> fields)
    {
        put(type);
        put(quint32(8 + 4 * fields.size()));
        for (qint64 f : fields)
            put(quint32(f));
        ++records_;
        return *this;
    }

    // A poly record of 16-bit points.
    EmfBuilder &poly16(quint32 type, std::initializer_list<QPoint> points)
    {
        put(type);
        put(quint32(28 + 4 * points.size()));
        for (int k = 0; k < 4; ++k)
            put(0); // bounds, unused by players
        put(quint32(points.size()));
        for (const QPoint &p : points) {
            put16(quint16(qint16(p.x())));
            put16(quint16(qint16(p.y())));
        }
        ++records_;
        return *this;
    }

    QByteArray bytes(bool withEof = true) const
    {
        EmfBuilder copy = *this;
        if (withEof)
            copy.rec(14, {0, 16, 20});
        QByteArray out = copy.data_;
        qToLittleEndian<quint32>(quint32(out.size()), out.data() + 48);
        qToLittleEndian<quint32>(copy.records_, out.data() + 52);
        return out;
    }

private:
    void put(quint32 v)
    {
        char b[4];
        qToLittleEndian(v, b);
        data_.append(b, 4);
    }
    void put16(quint16 v)
    {
        char b[2];
        qToLittleEndian(v, b);
        data_.append(b, 2);
    }
    QByteArray data_;
    quint32 records_ = 0;
};

inline quint32 le32(const QByteArray &b, qsizetype off)
{
    return qFromLittleEndian<quint32>(b.constData() + off);
}

inline qint32 lei32(const QByteArray &b, qsizetype off)
{
    return qFromLittleEndian<qint32>(b.constData() + off);
}

inline void setLe32(QByteArray &b, qsizetype off, quint32 v)
{
    qToLittleEndian<quint32>(v, b.data() + off);
}

// The smallest rectangle holding every pixel darker than `threshold` (grey level).
inline QRect darkBox(const QImage &img, const QRect &area, int threshold = 128)
{
    QRect box;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            if (qGray(img.pixel(x, y)) < threshold)
                box = box.united(QRect(x, y, 1, 1));
    return box;
}
