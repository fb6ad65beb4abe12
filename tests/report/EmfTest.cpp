#include <gtest/gtest.h>

#include <QImage>
#include <QPainter>
#include <QRandomGenerator>

#include "EmfTestSupport.h"
#include "engine/Error.h"
#include "report/EmfPlayer.h"
#include "report/EmfRecords.h"
#include "report/EmfWriter.h"
#include "report/PainterCanvas.h"

using namespace zeplo;

namespace {

const QSize A4At96(794, 1123);
const ReportFont Arial10{QStringLiteral("Arial"), 10, false, Qt::black};
const ReportFont Arial10Bold{QStringLiteral("Arial"), 10, true, Qt::black};
const ReportFont Arial10Red{QStringLiteral("Arial"), 10, true, Qt::red};

QImage blankPage(const QSize &size, QColor fill = QColor(200, 200, 200))
{
    QImage img(size, QImage::Format_RGB32);
    img.fill(fill);
    return img;
}

QImage play(const QByteArray &emf, const QSize &imageSize, const QRectF &target)
{
    QImage img = blankPage(imageSize);
    QPainter p(&img);
    playEmf(emf, p, target);
    p.end();
    return img;
}

QVector<quint32> recordTypes(const QByteArray &emf)
{
    QVector<quint32> types;
    for (const EmfRecordRef &r : listEmfRecords(emf))
        types.append(r.type);
    return types;
}

// The sample drawing used by several tests: a white box, a text in it and a line.
void drawSample(Canvas &c)
{
    c.fillRect(QRect(100, 100, 300, 40), Qt::white);
    c.setFont(Arial10);
    c.drawText(QPoint(110, 110), QStringLiteral("Databáze knih"));
    c.drawLine(QPoint(100, 200), QPoint(600, 200));
}

void expectDamaged(const QByteArray &emf)
{
    QImage img = blankPage(QSize(100, 100));
    QPainter p(&img);
    EXPECT_THROW(playEmf(emf, p, QRectF(0, 0, 100, 100)), Error);
    // The painter is left as it was, and usable.
    EXPECT_FALSE(p.hasClipping());
    p.end();
}

} // namespace

TEST(EmfHeader, LayoutAtItsPublishedOffsets)
{
    EmfCanvas canvas(A4At96, 96);
    drawSample(canvas);
    const QByteArray emf = canvas.finish();

    ASSERT_GE(emf.size(), 108);
    EXPECT_EQ(le32(emf, 0), 1u);
    EXPECT_EQ(le32(emf, 4), 108u);
    // Bounds: what was drawn, in pixels, inclusive.
    EXPECT_EQ(lei32(emf, 8), 100);
    EXPECT_EQ(lei32(emf, 12), 100);
    EXPECT_EQ(lei32(emf, 16), 600);
    EXPECT_EQ(lei32(emf, 20), 200);
    // Frame: the whole page in 0.01 mm, inclusive (794 px at 96 dpi = 210.08 mm).
    EXPECT_EQ(lei32(emf, 24), 0);
    EXPECT_EQ(lei32(emf, 28), 0);
    EXPECT_EQ(lei32(emf, 32), 21008 - 1);
    EXPECT_EQ(lei32(emf, 36), 29713 - 1);
    EXPECT_EQ(le32(emf, 40), 0x464D4520u);
    EXPECT_EQ(le32(emf, 44), 0x10000u);
    EXPECT_EQ(le32(emf, 48), quint32(emf.size()));
    EXPECT_EQ(le32(emf, 52), quint32(listEmfRecords(emf).size()));
    // Handles: the reserved slot, one font, one pen.
    EXPECT_EQ(le32(emf, 56) & 0xFFFF, 3u);
    EXPECT_EQ(le32(emf, 60), 0u); // no description
    EXPECT_EQ(le32(emf, 68), 0u); // no palette
    EXPECT_EQ(lei32(emf, 72), 794);
    EXPECT_EQ(lei32(emf, 76), 1123);
    EXPECT_EQ(lei32(emf, 80), 210);
    EXPECT_EQ(lei32(emf, 84), 297);
    EXPECT_EQ(le32(emf, 88), 0u);
    EXPECT_EQ(le32(emf, 96), 0u);
    EXPECT_EQ(lei32(emf, 100), 210079);
    EXPECT_EQ(lei32(emf, 104), 297127);
    // The end record closes the picture.
    EXPECT_EQ(le32(emf, emf.size() - 20), 14u);
    EXPECT_EQ(le32(emf, emf.size() - 16), 20u);
    EXPECT_EQ(le32(emf, emf.size() - 4), 20u);

    const EmfHeaderInfo h = readEmfHeader(emf);
    EXPECT_EQ(h.devicePixels, A4At96);
    EXPECT_NEAR(h.widthMm(), 210.08, 0.005);
    EXPECT_NEAR(h.heightMm(), 297.13, 0.005);
    EXPECT_NEAR(h.pixelsPerMmX(), 96 / 25.4, 1e-4);
}

TEST(EmfHeader, EmptyPictureHasEmptyBounds)
{
    EmfCanvas canvas(QSize(100, 50), 300);
    const QByteArray emf = canvas.finish();
    EXPECT_EQ(recordTypes(emf), (QVector<quint32>{1, 18, 22, 24, 14}));
    EXPECT_EQ(lei32(emf, 16), -1);
    EXPECT_EQ(lei32(emf, 20), -1);
    EXPECT_EQ(lei32(emf, 32), 847 - 1); // 100 px at 300 dpi = 8.47 mm
    EXPECT_NO_THROW(readEmfHeader(emf));
    EXPECT_THROW(canvas.drawLine(QPoint(0, 0), QPoint(1, 1)), Error);
}

TEST(EmfWriter, RecordsAndTheirFields)
{
    EmfCanvas canvas(A4At96, 96);
    drawSample(canvas);
    const QString text = QStringLiteral("Databáze knih");
    const QByteArray emf = canvas.finish();
    const QVector<EmfRecordRef> recs = listEmfRecords(emf);

    EXPECT_EQ(recordTypes(emf),
              (QVector<quint32>{1, 18, 22, 24, // header, transparent, top-left, black
                                37, 43, // null pen, the box (white brush is the default)
                                82, 37, 84, // font, select it, the text
                                38, 37, 27, 54, // pen, select it, the line
                                37, 37, 40, 40, // stock font and pen back, delete font and pen
                                14}));
    EXPECT_EQ(le32(emf, recs[1].offset + 8), 1u); // transparent
    EXPECT_EQ(le32(emf, recs[2].offset + 8), 0u); // top, left, no current position
    EXPECT_EQ(le32(emf, recs[4].offset + 8), 0x80000008u); // NULL_PEN

    // Rectangle without an outline: one pixel beyond the box on the far sides.
    const int r = recs[5].offset;
    EXPECT_EQ(recs[5].size, 24);
    EXPECT_EQ(lei32(emf, r + 8), 100);
    EXPECT_EQ(lei32(emf, r + 12), 100);
    EXPECT_EQ(lei32(emf, r + 16), 401);
    EXPECT_EQ(lei32(emf, r + 20), 141);

    // LOGFONTW: negative height = character height in pixels (10 pt at 96 dpi).
    const int f = recs[6].offset;
    EXPECT_EQ(recs[6].size, 12 + 92);
    const quint32 fontHandle = le32(emf, f + 8);
    EXPECT_EQ(lei32(emf, f + 12), -13);
    EXPECT_EQ(lei32(emf, f + 28), 400);
    EXPECT_EQ(QString::fromUtf16(reinterpret_cast<const char16_t *>(emf.constData() + f + 40)),
              QStringLiteral("Arial"));
    EXPECT_EQ(le32(emf, recs[7].offset + 8), fontHandle);

    // EXTTEXTOUTW: 76-byte head, UTF-16 text padded to 4, then the advances.
    const int t = recs[8].offset;
    const int n = int(text.size());
    EXPECT_EQ(recs[8].size, 76 + ((2 * n + 3) & ~3) + 4 * n);
    EXPECT_EQ(lei32(emf, t + 36), 110);
    EXPECT_EQ(lei32(emf, t + 40), 110);
    EXPECT_EQ(le32(emf, t + 44), quint32(n));
    EXPECT_EQ(le32(emf, t + 48), 76u);
    EXPECT_EQ(QString::fromUtf16(reinterpret_cast<const char16_t *>(emf.constData() + t + 76), n), text);
    const quint32 offDx = le32(emf, t + 72);
    EXPECT_EQ(offDx, quint32(76 + ((2 * n + 3) & ~3)));
    int sum = 0;
    for (int k = 0; k < n; ++k) {
        EXPECT_GT(lei32(emf, t + offDx + 4 * k), 0) << k;
        sum += lei32(emf, t + offDx + 4 * k);
    }
    EmfCanvas measure(A4At96, 96);
    measure.setFont(Arial10);
    EXPECT_EQ(sum, measure.textWidth(text));

    // CREATEPEN: solid, one pixel, black.
    const int pen = recs[9].offset;
    EXPECT_EQ(recs[9].size, 28);
    EXPECT_EQ(le32(emf, pen + 12), 0u);
    EXPECT_EQ(lei32(emf, pen + 16), 1);
    EXPECT_EQ(le32(emf, pen + 24), 0u);
    EXPECT_EQ(lei32(emf, recs[11].offset + 8), 100);
    EXPECT_EQ(lei32(emf, recs[12].offset + 8), 600);
    EXPECT_EQ(lei32(emf, recs[12].offset + 12), 200);
}

TEST(EmfWriter, ReusesFontsBrushesAndColours)
{
    EmfCanvas canvas(A4At96, 96);
    for (int i = 0; i < 20; ++i) {
        canvas.setFont(i % 2 ? Arial10Bold : Arial10);
        canvas.fillRect(QRect(10, 10 + i * 20, 50, 10), QColor(0, 0, 255));
        canvas.drawText(QPoint(10, 10 + i * 20), QStringLiteral("x"));
    }
    canvas.setFont(Arial10Red);
    canvas.drawText(QPoint(10, 500), QStringLiteral("1"));
    canvas.drawText(QPoint(30, 500), QStringLiteral("2"));
    const QByteArray emf = canvas.finish();
    const QVector<quint32> types = recordTypes(emf);
    EXPECT_EQ(types.count(82), 2); // regular and bold; red bold reuses the bold font
    EXPECT_EQ(types.count(39), 1); // one blue brush
    EXPECT_EQ(types.count(84), 22);
    EXPECT_EQ(types.count(24), 2); // black at the start, red once
    EXPECT_EQ(le32(emf, 56) & 0xFFFF, 4u);
    for (const EmfRecordRef &r : listEmfRecords(emf))
        if (r.type == 39) {
            EXPECT_EQ(le32(emf, r.offset + 16), 0x00FF0000u); // COLORREF is 0x00BBGGRR
        }
}

TEST(EmfWriter, FullPageStaysCompact)
{
    // A later page of the book list: header, 61 rows of four columns.
    EmfCanvas canvas(A4At96, 96);
    canvas.fillRect(QRect(38, 38, 718, 64), Qt::white);
    for (int row = 0; row < 61; ++row) {
        const int y = 102 + row * 16;
        canvas.fillRect(QRect(38, y, 718, 16), Qt::white);
        const int xs[] = {46, 286, 528, 654};
        const QString texts[] = {QStringLiteral("Příjmení Jméno %1").arg(row),
                                 QStringLiteral("Název poměrně dlouhé knihy číslo %1").arg(row),
                                 QStringLiteral("Detektivka"), QStringLiteral("1998")};
        for (int col = 0; col < 4; ++col) {
            canvas.setFont(Arial10);
            canvas.fillRect(QRect(xs[col], y, canvas.textWidth(texts[col]) + 1, canvas.lineHeight() + 1),
                            Qt::white);
            canvas.drawText(QPoint(xs[col], y), texts[col]);
        }
    }
    const QByteArray emf = canvas.finish();
    EXPECT_LT(emf.size(), 80000);
    EXPECT_EQ(recordTypes(emf).count(82), 1);
}

TEST(EmfPlayer, DrawsTextLineAndWhiteBoxWhereRecorded)
{
    EmfCanvas canvas(A4At96, 96);
    drawSample(canvas);
    const QByteArray emf = canvas.finish();
    const QImage img = play(emf, A4At96, QRectF(QPointF(0, 0), QSizeF(A4At96)));

    // The box is white where no text is, and the grey page shows around it.
    EXPECT_EQ(img.pixel(102, 135), qRgb(255, 255, 255));
    EXPECT_EQ(img.pixel(399, 139), qRgb(255, 255, 255));
    EXPECT_EQ(img.pixel(400, 120), qRgb(200, 200, 200));
    EXPECT_EQ(img.pixel(250, 140), qRgb(200, 200, 200));
    EXPECT_EQ(img.pixel(99, 120), qRgb(200, 200, 200));

    // The text is dark, starts at its left edge and lies within its line.
    EmfCanvas measure(A4At96, 96);
    measure.setFont(Arial10);
    const int w = measure.textWidth(QStringLiteral("Databáze knih"));
    const QRect ink = darkBox(img, QRect(100, 100, 300, 40));
    ASSERT_FALSE(ink.isNull());
    EXPECT_NEAR(ink.left(), 110, 2);
    EXPECT_NEAR(ink.right(), 110 + w, 3);
    EXPECT_GE(ink.top(), 110);
    EXPECT_LE(ink.bottom(), 110 + measure.lineHeight());
    EXPECT_GT(ink.height(), 8);

    // The line: one pixel, black, on row 200, from 100 to 600.
    EXPECT_EQ(img.pixel(100, 200), qRgb(0, 0, 0));
    EXPECT_EQ(img.pixel(350, 200), qRgb(0, 0, 0));
    EXPECT_EQ(img.pixel(600, 200), qRgb(0, 0, 0));
    EXPECT_EQ(img.pixel(350, 199), qRgb(200, 200, 200));
    EXPECT_EQ(img.pixel(350, 201), qRgb(200, 200, 200));
    EXPECT_EQ(img.pixel(610, 200), qRgb(200, 200, 200));
}

TEST(EmfPlayer, StretchesTheFrameOntoTheTarget)
{
    EmfCanvas canvas(A4At96, 96);
    drawSample(canvas);
    const QByteArray emf = canvas.finish();
    // Half size, shifted by (20, 10).
    const QImage img = play(emf, QSize(450, 600), QRectF(20, 10, 397, 561.5));
    EXPECT_EQ(img.pixel(20 + 100, 10 + 100), qRgb(0, 0, 0)); // line at y 200 -> 100
    EXPECT_EQ(img.pixel(20 + 300, 10 + 100), qRgb(0, 0, 0));
    EXPECT_EQ(img.pixel(20 + 320, 10 + 100), qRgb(200, 200, 200)); // line ends at x 600 -> 300
    EXPECT_EQ(img.pixel(20 + 52, 10 + 68), qRgb(255, 255, 255)); // box 100..400 x 100..140 -> 50..200 x 50..70
    EXPECT_EQ(img.pixel(20 + 45, 10 + 60), qRgb(200, 200, 200));
    EXPECT_EQ(img.pixel(430, 300), qRgb(200, 200, 200)); // outside the target nothing is drawn
    const QRect ink = darkBox(img, QRect(60, 55, 160, 25));
    ASSERT_FALSE(ink.isNull());
    EXPECT_NEAR(ink.left(), 20 + 55, 2);
}

TEST(EmfPlayer, AgreesWithDrawingStraightOntoThePainter)
{
    EmfCanvas canvas(A4At96, 96);
    drawSample(canvas);
    canvas.setFont(Arial10Red);
    canvas.drawText(QPoint(300, 300), QStringLiteral("Celkový počet knih v seznamu: 57"));
    const QImage viaPicture = play(canvas.finish(), A4At96, QRectF(QPointF(0, 0), QSizeF(A4At96)));

    QImage direct = blankPage(A4At96);
    {
        QPainter p(&direct);
        PainterCanvas pc(p, 96, 96);
        drawSample(pc);
        pc.setFont(Arial10Red);
        EmfCanvas measure(A4At96, 96);
        measure.setFont(Arial10Red);
        const QString s = QStringLiteral("Celkový počet knih v seznamu: 57");
        EXPECT_EQ(pc.textWidth(s), measure.textWidth(s));
        EXPECT_EQ(pc.lineHeight(), measure.lineHeight());
        pc.drawText(QPoint(300, 300), s);
    }
    for (const QRect &area : {QRect(100, 100, 300, 40), QRect(290, 290, 400, 30)}) {
        const QRect a = darkBox(viaPicture, area, 160);
        const QRect b = darkBox(direct, area, 160);
        ASSERT_FALSE(a.isNull());
        EXPECT_NEAR(a.left(), b.left(), 1);
        EXPECT_NEAR(a.right(), b.right(), 2);
        EXPECT_NEAR(a.top(), b.top(), 1);
        EXPECT_NEAR(a.bottom(), b.bottom(), 1);
    }
    // The red text is red.
    const QRect red = darkBox(viaPicture, QRect(290, 290, 400, 30), 160);
    bool sawRed = false;
    for (int x = red.left(); x <= red.right(); ++x)
        for (int y = red.top(); y <= red.bottom(); ++y) {
            const QRgb c = viaPicture.pixel(x, y);
            if (qRed(c) > 200 && qGreen(c) < 60 && qBlue(c) < 60)
                sawRed = true;
        }
    EXPECT_TRUE(sawRed);
    EXPECT_EQ(viaPicture.pixel(350, 200), direct.pixel(350, 200));
}

TEST(EmfPlayer, PlaysRecordsOfOtherWriters)
{
    // 200 x 200 pixels, 50 x 50 mm. Logical units of 0.1 pixel through an
    // anisotropic mapping, a filled polygon, a clipped polyline, saved and
    // restored state, and records we do not draw (a comment, a world transform).
    EmfBuilder b(200, 200, 50, 50);
    b.rec(70, {4, 0x12345678}) // comment: skipped
        .rec(17, {8}) // MM_ANISOTROPIC
        .rec(9, {2000, 2000}) // window extent
        .rec(11, {200, 200}) // viewport extent
        .rec(39, {1, 0, 0x000000, 0}) // black solid brush in slot 1
        .rec(37, {1})
        .rec(37, {qint64(0x80000008)}) // NULL_PEN
        .poly16(86, {QPoint(100, 100), QPoint(500, 100), QPoint(500, 500), QPoint(100, 500)})
        .rec(33, {}) // SAVEDC
        .rec(30, {0, 0, 1000, 2000}) // clip to the left half
        .rec(38, {2, 0, 1, 0, 0x0000FF}) // red pen in slot 2
        .rec(37, {2})
        .poly16(87, {QPoint(0, 1500), QPoint(2000, 1500)})
        .rec(34, {-1}) // RESTOREDC: clip gone
        .rec(37, {2})
        .poly16(87, {QPoint(0, 1800), QPoint(2000, 1800)})
        .rec(36, {0, 0, 0, 0, 0, 0, 4}) // world transform change: skipped
        .rec(12, {100, 0}) // viewport origin moves 100 px right
        .rec(43, {100, 100, 501, 501}); // red outline, black fill
    const QImage img = play(b.bytes(), QSize(200, 200), QRectF(0, 0, 200, 200));

    EXPECT_EQ(img.pixel(30, 30), qRgb(0, 0, 0)); // polygon 10..50
    EXPECT_EQ(img.pixel(5, 5), qRgb(200, 200, 200));
    EXPECT_EQ(img.pixel(60, 30), qRgb(200, 200, 200));
    EXPECT_EQ(img.pixel(50, 150), qRgb(255, 0, 0)); // clipped line, left half
    EXPECT_EQ(img.pixel(150, 150), qRgb(200, 200, 200));
    EXPECT_EQ(img.pixel(50, 180), qRgb(255, 0, 0)); // after restore: the whole width
    EXPECT_EQ(img.pixel(150, 180), qRgb(255, 0, 0));
    EXPECT_EQ(img.pixel(110, 30), qRgb(255, 0, 0)); // the red outline, moved by the origin
    EXPECT_EQ(img.pixel(130, 10), qRgb(255, 0, 0));
    EXPECT_EQ(img.pixel(150, 30), qRgb(255, 0, 0));
    EXPECT_EQ(img.pixel(130, 35), qRgb(0, 0, 0)); // filled with the black brush
    EXPECT_EQ(img.pixel(155, 35), qRgb(200, 200, 200));
}

TEST(EmfPlayer, RejectsDamagedPictures)
{
    EmfCanvas canvas(A4At96, 96);
    drawSample(canvas);
    const QByteArray good = canvas.finish();
    const QVector<EmfRecordRef> recs = listEmfRecords(good);
    const auto recordOf = [&](quint32 type) {
        for (const EmfRecordRef &r : recs)
            if (r.type == type)
                return r;
        return EmfRecordRef{};
    };

    expectDamaged(QByteArray());
    expectDamaged(good.left(50)); // cut inside the header
    expectDamaged(good.left(good.size() / 2)); // cut in the middle
    expectDamaged(good.left(good.size() - 20)); // no end record

    QByteArray bad = good;
    setLe32(bad, 40, 0x20202020); // no signature
    expectDamaged(bad);

    bad = good;
    setLe32(bad, 48, quint32(good.size() + 4)); // claims more than there is
    expectDamaged(bad);

    bad = good;
    setLe32(bad, 72, 0); // no device size
    expectDamaged(bad);

    bad = good;
    setLe32(bad, 80, 0x7FFFFFFF); // absurd device size
    expectDamaged(bad);

    bad = good;
    setLe32(bad, recs[2].offset + 4, 0); // record size 0
    expectDamaged(bad);

    bad = good;
    setLe32(bad, recs[2].offset + 4, 10); // not a multiple of 4
    expectDamaged(bad);

    bad = good;
    setLe32(bad, recs[2].offset + 4, 0x7FFFFFF0); // runs past the end
    expectDamaged(bad);

    const EmfRecordRef text = recordOf(84);
    bad = good;
    setLe32(bad, text.offset + 44, 1000); // string past its record
    expectDamaged(bad);

    bad = good;
    setLe32(bad, text.offset + 44, 0xFFFFFFFF); // a count that would overflow
    expectDamaged(bad);

    bad = good;
    setLe32(bad, text.offset + 72, quint32(text.size - 4)); // advances past the record
    expectDamaged(bad);

    const EmfRecordRef font = recordOf(82);
    bad = good;
    setLe32(bad, font.offset + 8, 99); // object index beyond the handle table
    expectDamaged(bad);

    bad = good;
    setLe32(bad, font.offset + 12, 0x80000000); // absurd font height
    expectDamaged(bad);

    bad = good;
    setLe32(bad, recordOf(37).offset + 8, 0x80000063); // stock object that does not exist
    expectDamaged(bad);

    // A record too short for its kind.
    EmfBuilder b(10, 10, 3, 3);
    b.rec(84, {0, 0, 0, 0});
    expectDamaged(b.bytes());
    EmfBuilder poly(10, 10, 3, 3);
    poly.rec(87, {0, 0, 0, 0, 1000, 0});
    expectDamaged(poly.bytes());

    // The clear message names the fault.
    try {
        QImage img = blankPage(QSize(10, 10));
        QPainter p(&img);
        playEmf(good.left(good.size() - 20), p, QRectF(0, 0, 10, 10));
        FAIL() << "no error";
    } catch (const Error &e) {
        EXPECT_TRUE(e.message().startsWith(QStringLiteral("The page picture is damaged"))) << e.what();
    }
}

TEST(EmfPlayer, SurvivesRandomDamage)
{
    EmfCanvas canvas(QSize(200, 200), 96);
    drawSample(canvas);
    const QByteArray good = canvas.finish();
    QRandomGenerator rng(12345);
    int rejected = 0;
    for (int round = 0; round < 400; ++round) {
        QByteArray bad = good;
        const int flips = 1 + int(rng.bounded(4));
        for (int k = 0; k < flips; ++k)
            bad[int(rng.bounded(quint32(bad.size())))] = char(rng.bounded(256));
        QImage img = blankPage(QSize(50, 50));
        QPainter p(&img);
        try {
            playEmf(bad, p, QRectF(0, 0, 50, 50));
        } catch (const Error &) {
            ++rejected;
        }
        EXPECT_FALSE(p.hasClipping());
    }
    EXPECT_GT(rejected, 0);
}
