#include <gtest/gtest.h>

#include "report/EmfRecords.h"
#include "report/EmfWriter.h"
#include "report/PaperSizes.h"
#include "report/ReportOutput.h"

using namespace zeplo;

TEST(PaperSizes, TableInOrderWithDriverDimensions)
{
    const auto &sizes = standardPaperSizes();
    ASSERT_EQ(sizes.size(), 26u);
    for (std::size_t i = 0; i < sizes.size(); ++i)
        EXPECT_EQ(int(sizes[i].id), int(i) + 1);
    EXPECT_EQ(paperSizeInfo(PaperSize::A4).width, 2100);
    EXPECT_EQ(paperSizeInfo(PaperSize::A4).height, 2970);
    EXPECT_EQ(paperSizeInfo(PaperSize::Letter).width, 2159);
    EXPECT_EQ(paperSizeInfo(PaperSize::Ledger).width, 4318);
    EXPECT_EQ(paperSizeInfo(PaperSize::B4).height, 3540);
    EXPECT_EQ(paperSizeInfo(PaperSize::ESheet).height, 11176);
    EXPECT_STREQ(paperSizeInfo(PaperSize::Envelope10).name, "Envelope #10");
}

TEST(PaperSizes, PageSizesForPrinters)
{
    EXPECT_EQ(pageSizeFor(PaperSize::A4).id(), QPageSize::A4);
    EXPECT_EQ(pageSizeFor(PaperSize::A4Small).id(), QPageSize::A4);
    EXPECT_EQ(pageSizeFor(PaperSize::Letter).id(), QPageSize::Letter);
    EXPECT_EQ(pageSizeFor(PaperSize::Legal).id(), QPageSize::Legal);
    const QSizeF folio = pageSizeFor(PaperSize::Folio).size(QPageSize::Millimeter);
    // Near enough to a printer's own size is what a printer gets.
    EXPECT_NEAR(folio.width(), 215.9, 0.5);
    EXPECT_NEAR(folio.height(), 330.2, 0.5);
    const QSizeF env = pageSizeFor(PaperSize::Envelope9).size(QPageSize::Millimeter);
    EXPECT_NEAR(env.width(), 98.4, 0.2);
    EXPECT_NEAR(env.height(), 225.4, 0.2);
}

TEST(PaperSizes, LastMatchWins)
{
    PaperMatch m = recognisePaper(210, 297);
    EXPECT_TRUE(m.found);
    EXPECT_EQ(m.id, PaperSize::A4Small);
    EXPECT_EQ(m.orientation, QPageLayout::Portrait);

    // Letter, Letter Small and Note share one size; Note comes last.
    m = recognisePaper(215.9, 279.4);
    EXPECT_EQ(m.id, PaperSize::Note);

    // A Tabloid page is also a Ledger on its side and an 11 x 17 in sheet.
    m = recognisePaper(279.4, 431.8);
    EXPECT_EQ(m.id, PaperSize::Size11x17);
    EXPECT_EQ(m.orientation, QPageLayout::Portrait);
    m = recognisePaper(431.8, 279.4);
    EXPECT_EQ(m.id, PaperSize::Size11x17);
    EXPECT_EQ(m.orientation, QPageLayout::Landscape);

    m = recognisePaper(148, 210);
    EXPECT_EQ(m.id, PaperSize::A5);
    m = recognisePaper(1117.6, 863.6);
    EXPECT_EQ(m.id, PaperSize::ESheet);
    EXPECT_EQ(m.orientation, QPageLayout::Landscape);
}

TEST(PaperSizes, TruncatesQuarters)
{
    // 208..211.99 all give 52 for the width, 296..299.99 give 74 for the height.
    EXPECT_EQ(recognisePaper(208.0, 299.9).id, PaperSize::A4Small);
    EXPECT_EQ(recognisePaper(211.9, 296.0).id, PaperSize::A4Small);
    EXPECT_FALSE(recognisePaper(207.9, 297).found);
    EXPECT_FALSE(recognisePaper(210, 300).found);
    EXPECT_FALSE(recognisePaper(100, 100).found);
    EXPECT_FALSE(recognisePaper(0, 0).found);
    EXPECT_FALSE(recognisePaper(-210, -297).found);
}

TEST(PaperSizes, RecognisedFromPagePictures)
{
    // A4 portrait at 96 dpi (794 x 1123) and turned on its side.
    EmfHeaderInfo portrait = readEmfHeader(EmfCanvas(QSize(794, 1123), 96).finish());
    PaperMatch m = recognisePaper(portrait.widthMm(), portrait.heightMm());
    EXPECT_EQ(m.id, PaperSize::A4Small);
    EXPECT_EQ(m.orientation, QPageLayout::Portrait);

    EmfHeaderInfo landscape = readEmfHeader(EmfCanvas(QSize(1123, 794), 96).finish());
    m = recognisePaper(landscape.widthMm(), landscape.heightMm());
    EXPECT_TRUE(m.found);
    EXPECT_EQ(m.id, PaperSize::A4Small);
    EXPECT_EQ(m.orientation, QPageLayout::Landscape);

    // Letter at 600 dpi.
    EmfHeaderInfo letter = readEmfHeader(EmfCanvas(QSize(5100, 6600), 600).finish());
    EXPECT_EQ(recognisePaper(letter.widthMm(), letter.heightMm()).id, PaperSize::Note);
}

TEST(ReportLayout, PaperIsA4WhenThePrinterOffersItOrThereIsNoPrinterAndOtherwiseThePrintersOwn)
{
    const QPageSize a4(QPageSize::A4);
    const QPageSize letter(QPageSize::Letter);
    EXPECT_EQ(choosePaper(a4, false, {}, letter).id(), QPageSize::A4);
    EXPECT_EQ(choosePaper(a4, true, {letter, a4}, letter).id(), QPageSize::A4);
    EXPECT_EQ(choosePaper(a4, true, {letter, QPageSize(QPageSize::Legal)}, letter).id(), QPageSize::Letter);
    // A driver's own name for the same sheet still counts as A4.
    const QPageSize named(QSizeF(210, 297), QPageSize::Millimeter, QStringLiteral("ISO A4 sheet"),
                          QPageSize::ExactMatch);
    EXPECT_EQ(choosePaper(a4, true, {named}, letter).id(), QPageSize::A4);

    EXPECT_TRUE(pageInRange(1, 0, 0));
    EXPECT_FALSE(pageInRange(1, 2, 3));
    EXPECT_TRUE(pageInRange(3, 2, 3));
    EXPECT_FALSE(pageInRange(4, 2, 3));
    EXPECT_TRUE(pageInRange(40, 2, 0));
}
