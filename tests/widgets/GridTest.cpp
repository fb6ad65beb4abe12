#include <algorithm>

#include <QFontMetrics>
#include <QImage>
#include <QLineEdit>
#include <QScrollBar>
#include <QTest>
#include <QWidget>
#include <gtest/gtest.h>

#include "TempCatalogue.h"
#include "widgets/DataGrid.h"
#include "engine/Field.h"
#include "engine/ResultSet.h"

using namespace zeplo;

namespace {

const QString kBase = TempCatalogue::kBaseQuery;
const QStringList kTitles{QStringLiteral("id"),         QStringLiteral("autor"),   QStringLiteral("nazev"),
                          QStringLiteral("zanr"),       QStringLiteral("rok_vydani"), QStringLiteral("popis"),
                          QStringLiteral("vlastnim"),   QStringLiteral("precteno"), QStringLiteral("pujceno")};

// A main-window-like parent with the grid at its size and one more control
// that Tab could hand the focus to.
struct Fixture {
    TempCatalogue catalogue;
    ResultSet query{QStringLiteral("Query1")};
    DataSource source;
    QWidget window;
    DataGrid *grid = new DataGrid(&window);
    QLineEdit *other = new QLineEdit(&window);

    explicit Fixture(int rows, const QString &select = kBase)
    {
        catalogue.addBooks(rows);
        source.setDataSet(&query);
        grid->setObjectName(QStringLiteral("DBGrid1"));
        grid->setGeometry(0, 8, 636, 321);
        other->setGeometry(0, 340, 100, 20);
        window.resize(640, 370);
        grid->setDataSource(&source);
        query.setRequestLive(true);
        query.setSql({select, QString(), QString()});
        query.open();
        window.show();
        window.activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(&window));
        grid->setFocus();
    }
    void key(Qt::Key k, Qt::KeyboardModifiers mods = Qt::NoModifier) { QTest::keyClick(grid, k, mods); }
    void click(const QPoint &p) { QTest::mouseClick(grid->viewport(), Qt::LeftButton, Qt::NoModifier, p); }
    QString nazev() const { return query.fieldByName(QStringLiteral("nazev"))->displayText(); }
    qsizetype row() const { return query.recNo(); }
    int visible() const { return grid->visibleRowCount(); }
    QImage image() { return grid->viewport()->grab().toImage(); }
};

QString book(qsizetype n)
{
    return QStringLiteral("Kniha %1").arg(n);
}

// Pixels of `color` inside `rect`.
QVector<QPoint> pixelsOf(const QImage &image, const QRect &rect, const QColor &color)
{
    QVector<QPoint> found;
    for (int y = rect.top(); y <= rect.bottom(); ++y)
        for (int x = rect.left(); x <= rect.right(); ++x)
            if (image.pixelColor(x, y) == color)
                found << QPoint(x - rect.left(), y - rect.top());
    return found;
}

// Pixels clearly darker than the background: the text of a cell.
QRect inkBounds(const QImage &image, const QRect &cell)
{
    const QRect rect = cell & image.rect();
    QRect bounds;
    for (int y = rect.top(); y <= rect.bottom(); ++y)
        for (int x = rect.left(); x <= rect.right(); ++x)
            if (qGray(image.pixel(x, y)) < 128)
                bounds |= QRect(x, y, 1, 1);
    return bounds;
}

} // namespace

// ---- layout ----------------------------------------------------------------------

TEST(GridLayout, ColumnsAreMadeFromTheFieldsWithTheComputedWidths)
{
    Fixture f(3);
    EXPECT_TRUE(f.grid->titleFont().bold());
    EXPECT_FALSE(f.grid->font().bold());
    EXPECT_EQ(f.grid->font().pointSize(), 8);

    ASSERT_EQ(f.grid->columnCount(), 9);
    // Display widths in characters: a text column its size, a number 10, a
    // logical value 5 (the length of "False"), a memo 10.
    const int displayWidths[9] = {10, 40, 60, 20, 10, 10, 5, 5, 10};
    // In pixels, as the offscreen platform draws the substituted 8-point font:
    // that many "0"s and 4, or the bold title and 4 where it is wider (the
    // logical columns).
    const int widths[9] = {64, 244, 364, 124, 64, 64, 49, 50, 64};
    for (int c = 0; c < 9; ++c) {
        SCOPED_TRACE(c);
        EXPECT_EQ(f.grid->columnTitle(c), kTitles[c]);
        const Field *field = f.grid->columnField(c);
        ASSERT_NE(field, nullptr);
        EXPECT_EQ(field->displayWidth(), displayWidths[c]);
        EXPECT_EQ(f.grid->columnWidth(c), widths[c]);
    }
    EXPECT_EQ(f.grid->titleHeight(), 17);
    EXPECT_EQ(f.grid->rowHeight(), 17);
    EXPECT_EQ(f.grid->viewport()->height(), 305);
    EXPECT_EQ(f.grid->visibleRowCount(), 16);   // whole rows below the titles
}

TEST(GridLayout, ClosedShowsOneEmptyUntitledColumnAndAnEmptyResultItsTitles)
{
    Fixture f(0);
    EXPECT_EQ(f.grid->columnCount(), 9);
    EXPECT_EQ(f.query.windowRowCount(), 0);
    f.key(Qt::Key_Down);   // nothing to move to, nothing appended
    EXPECT_EQ(f.query.state(), DataSetState::Browse);
    EXPECT_EQ(f.catalogue.count(), 0);

    f.query.sqlClear();
    EXPECT_EQ(f.grid->columnCount(), 1);
    EXPECT_EQ(f.grid->columnTitle(0), QString());
    EXPECT_EQ(f.grid->columnField(0), nullptr);
    // Nothing but the fixed colour in the title row and the plain background below it.
    const QImage img = f.image();
    const QRect rows(0, f.grid->titleHeight(), img.width(), img.height() - f.grid->titleHeight());
    EXPECT_TRUE(pixelsOf(img, rows, f.grid->palette().color(QPalette::Base)).size() == rows.width() * rows.height());
    f.key(Qt::Key_Tab);
    EXPECT_TRUE(f.grid->hasFocus());
}

TEST(GridLayout, DraggingATitleBorderResizesUntilTheNextOpening)
{
    Fixture f(20);
    f.query.moveBy(2);
    const int before = f.grid->columnWidth(2);
    const int displayBefore = f.grid->columnField(2)->displayWidth();
    const QRect title = f.grid->cellRect(-1, 2);
    const QPoint border(title.right() + 1, title.center().y());
    QTest::mousePress(f.grid->viewport(), Qt::LeftButton, Qt::NoModifier, border);
    QTest::mouseMove(f.grid->viewport(), border + QPoint(-120, 0));
    QTest::mouseRelease(f.grid->viewport(), Qt::LeftButton, Qt::NoModifier, border + QPoint(-120, 0));
    EXPECT_EQ(f.grid->columnWidth(2), before - 120);
    EXPECT_LT(f.grid->columnField(2)->displayWidth(), displayBefore);
    EXPECT_EQ(f.row(), 3);   // a press in the title row moves no row
    // The columns after it follow.
    EXPECT_EQ(f.grid->cellRect(-1, 3).left(), title.left() + before - 120 + 1);

    f.query.close();
    f.query.open();
    EXPECT_EQ(f.grid->columnWidth(2), before);
    EXPECT_EQ(f.grid->columnField(2)->displayWidth(), displayBefore);
}

TEST(GridLayout, DraggingATitleMovesTheColumnUntilTheNextOpening)
{
    Fixture f(5);
    f.key(Qt::Key_Right);   // current column: autor
    const QPoint from = f.grid->cellRect(-1, 1).center();
    const QPoint to = f.grid->cellRect(-1, 3).center();
    QTest::mousePress(f.grid->viewport(), Qt::LeftButton, Qt::NoModifier, from);
    QTest::mouseMove(f.grid->viewport(), from + QPoint(20, 0));
    QTest::mouseMove(f.grid->viewport(), to);
    QTest::mouseRelease(f.grid->viewport(), Qt::LeftButton, Qt::NoModifier, to);
    EXPECT_EQ(f.grid->columnTitle(1), QStringLiteral("nazev"));
    EXPECT_EQ(f.grid->columnTitle(2), QStringLiteral("zanr"));
    EXPECT_EQ(f.grid->columnTitle(3), QStringLiteral("autor"));
    EXPECT_EQ(f.grid->currentColumn(), 3);   // the current column moved with it
    EXPECT_EQ(f.row(), 1);

    // A click on a title without dragging moves nothing.
    f.click(f.grid->cellRect(-1, 5).center());
    EXPECT_EQ(f.grid->columnTitle(5), QStringLiteral("popis"));

    f.query.setSql({kBase, QString(), QString()});
    f.query.open();
    for (int c = 0; c < 9; ++c)
        EXPECT_EQ(f.grid->columnTitle(c), kTitles[c]);
    EXPECT_EQ(f.grid->currentColumn(), 0);
}

// ---- keys ------------------------------------------------------------------------

TEST(GridKeys, UpDownAndPagesMoveTheRowAndStopAtTheEnds)
{
    Fixture f(60);
    const int v = f.visible();
    f.key(Qt::Key_Up);
    EXPECT_EQ(f.row(), 1);
    f.key(Qt::Key_Down);
    f.key(Qt::Key_Down);
    EXPECT_EQ(f.nazev(), book(3));
    f.key(Qt::Key_Up);
    EXPECT_EQ(f.row(), 2);
    f.key(Qt::Key_PageDown);
    EXPECT_EQ(f.row(), 2 + v);
    EXPECT_EQ(f.query.activeLine(), v - 1);
    f.key(Qt::Key_PageUp);
    EXPECT_EQ(f.row(), 2);
    EXPECT_EQ(f.query.activeLine(), 0);
    f.key(Qt::Key_PageUp);
    EXPECT_EQ(f.row(), 1);
    for (int i = 0; i < 10; ++i)
        f.key(Qt::Key_PageDown);
    EXPECT_EQ(f.row(), 60);
    EXPECT_EQ(f.nazev(), book(60));
}

TEST(GridKeys, CtrlMovesToTheVisibleEdgesAndToTheEnds)
{
    Fixture f(60);
    const int v = f.visible();
    f.key(Qt::Key_Down);
    f.key(Qt::Key_Down, Qt::ControlModifier);
    EXPECT_EQ(f.row(), v);   // the bottom visible row
    EXPECT_EQ(f.query.activeLine(), v - 1);
    f.key(Qt::Key_Up);
    f.key(Qt::Key_Up, Qt::ControlModifier);
    EXPECT_EQ(f.row(), 1);   // the top visible row
    f.key(Qt::Key_PageDown, Qt::ControlModifier);
    EXPECT_EQ(f.row(), v);
    f.key(Qt::Key_PageDown);   // scrolls: the window now starts further down
    const qsizetype top = f.row() - f.query.activeLine();
    f.key(Qt::Key_PageUp, Qt::ControlModifier);
    EXPECT_EQ(f.row(), top);
    EXPECT_EQ(f.query.activeLine(), 0);

    f.key(Qt::Key_End, Qt::ControlModifier);
    EXPECT_EQ(f.nazev(), book(60));
    EXPECT_EQ(f.query.activeLine(), v - 1);   // the last row on the bottom line
    EXPECT_EQ(f.query.windowRowCount(), v);
    EXPECT_EQ(f.grid->firstDrawnLine(), 0);
    f.key(Qt::Key_Home, Qt::ControlModifier);
    EXPECT_EQ(f.nazev(), book(1));
    EXPECT_EQ(f.query.activeLine(), 0);       // the first row on the top line
    EXPECT_EQ(f.grid->currentColumn(), 0);
}

TEST(GridKeys, ColumnKeysChangeTheColumnAndKeepTheRow)
{
    Fixture f(10);
    f.key(Qt::Key_Down);
    f.key(Qt::Key_Left);
    EXPECT_EQ(f.grid->currentColumn(), 0);
    f.key(Qt::Key_Right);
    f.key(Qt::Key_Right);
    EXPECT_EQ(f.grid->currentColumn(), 2);
    f.key(Qt::Key_Left);
    EXPECT_EQ(f.grid->currentColumn(), 1);
    f.key(Qt::Key_End);
    EXPECT_EQ(f.grid->currentColumn(), 8);
    f.key(Qt::Key_Right);
    EXPECT_EQ(f.grid->currentColumn(), 8);
    f.key(Qt::Key_Home);
    EXPECT_EQ(f.grid->currentColumn(), 0);
    f.key(Qt::Key_Right, Qt::ControlModifier);
    EXPECT_EQ(f.grid->currentColumn(), 8);
    f.key(Qt::Key_Left, Qt::ControlModifier);
    EXPECT_EQ(f.grid->currentColumn(), 0);
    EXPECT_EQ(f.row(), 2);
}

TEST(GridKeys, EndAndHomeMoveRowsWhenThereIsOneColumn)
{
    Fixture f(40, QStringLiteral("select nazev from zeplo"));
    ASSERT_EQ(f.grid->columnCount(), 1);
    f.key(Qt::Key_End);
    EXPECT_EQ(f.nazev(), book(40));
    f.key(Qt::Key_Home);
    EXPECT_EQ(f.nazev(), book(1));
}

TEST(GridKeys, TabMovesRowsInTheSameColumnAndNeverLeavesTheGrid)
{
    Fixture f(4);
    f.key(Qt::Key_Right);
    f.key(Qt::Key_Right);
    f.key(Qt::Key_Tab);
    EXPECT_EQ(f.row(), 2);
    EXPECT_EQ(f.grid->currentColumn(), 2);
    f.key(Qt::Key_Tab, Qt::ShiftModifier);
    EXPECT_EQ(f.row(), 1);
    f.key(Qt::Key_Backtab, Qt::ShiftModifier);   // Shift+Tab on the first row: nothing
    EXPECT_EQ(f.row(), 1);
    EXPECT_TRUE(f.grid->hasFocus());
    f.key(Qt::Key_Tab);
    f.key(Qt::Key_Tab);
    f.key(Qt::Key_Tab);
    EXPECT_EQ(f.row(), 4);
    f.key(Qt::Key_Tab);   // the last row: nothing, and nothing appended
    EXPECT_EQ(f.row(), 4);
    EXPECT_EQ(f.grid->currentColumn(), 2);
    EXPECT_EQ(f.query.state(), DataSetState::Browse);
    EXPECT_EQ(f.catalogue.count(), 4);
    EXPECT_TRUE(f.grid->hasFocus());
    EXPECT_FALSE(f.other->hasFocus());
}

TEST(GridKeys, TheGridEditsNothingAndDownOnTheLastRowAppendsNothing)
{
    Fixture f(3);
    f.key(Qt::Key_Down);
    f.key(Qt::Key_Right);
    f.key(Qt::Key_F2);
    f.key(Qt::Key_Return);
    f.key(Qt::Key_Enter);
    QTest::keyClicks(f.grid, QStringLiteral("xyz"));
    f.key(Qt::Key_Insert);
    f.key(Qt::Key_Delete, Qt::ControlModifier);
    f.key(Qt::Key_Delete);
    EXPECT_EQ(f.query.state(), DataSetState::Browse);
    EXPECT_EQ(f.row(), 2);
    EXPECT_EQ(f.grid->currentColumn(), 1);
    EXPECT_EQ(f.catalogue.count(), 3);
    EXPECT_EQ(f.catalogue.scalar(QStringLiteral("select autor from zeplo where id=2")).toString(),
              QStringLiteral("Autor 2"));
    f.key(Qt::Key_Down);
    f.key(Qt::Key_Down);
    f.key(Qt::Key_Down);
    EXPECT_EQ(f.row(), 3);
    EXPECT_EQ(f.query.windowRowCount(), 3);
    EXPECT_EQ(f.query.state(), DataSetState::Browse);
    EXPECT_EQ(f.catalogue.count(), 3);
}

TEST(GridKeys, AMoveEndsAPendingChange)
{
    Fixture f(5);
    f.query.edit();
    f.query.fieldByName(QStringLiteral("autor"))->setAsText(QStringLiteral("Čapek"));
    f.key(Qt::Key_Down);
    EXPECT_EQ(f.query.state(), DataSetState::Browse);
    EXPECT_EQ(f.row(), 2);
    EXPECT_EQ(f.catalogue.scalar(QStringLiteral("select autor from zeplo where id=1")).toString(),
              QStringLiteral("Čapek"));
}

// ---- mouse -----------------------------------------------------------------------

TEST(GridMouse, PressOnACellOnTheIndicatorAndOnTheTitleRow)
{
    Fixture f(40);
    f.key(Qt::Key_Down);   // current row 2 on line 1
    f.click(f.grid->cellRect(5, 3).center());
    EXPECT_EQ(f.row(), 6);
    EXPECT_EQ(f.grid->currentColumn(), 3);
    EXPECT_EQ(f.query.activeLine(), 5);

    f.click(f.grid->indicatorRect(1).center());
    EXPECT_EQ(f.row(), 2);
    EXPECT_EQ(f.grid->currentColumn(), 3);   // the indicator moves the row only

    f.click(f.grid->cellRect(-1, 6).center());
    EXPECT_EQ(f.row(), 2);
    EXPECT_EQ(f.grid->currentColumn(), 3);

    QTest::mouseDClick(f.grid->viewport(), Qt::LeftButton, Qt::NoModifier, f.grid->cellRect(4, 2).center());
    EXPECT_EQ(f.row(), 5);
    EXPECT_EQ(f.grid->currentColumn(), 2);
    EXPECT_EQ(f.query.state(), DataSetState::Browse);

    // Below the last row of a short list: nothing.
    f.query.setSql({kBase + QStringLiteral(" where id<=3"), QString(), QString()});
    f.query.open();
    f.click(QPoint(f.grid->cellRect(0, 1).center().x(), f.grid->viewport()->height() - 3));
    EXPECT_EQ(f.row(), 1);
    EXPECT_EQ(f.grid->currentColumn(), 0);
}

TEST(GridMouse, TheWheelMovesOneRowPerNotch)
{
    Fixture f(30);
    const QPoint at = f.grid->cellRect(2, 2).center();
    QWheelEvent down(at, f.grid->viewport()->mapToGlobal(at), QPoint(), QPoint(0, -240), Qt::NoButton,
                     Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(f.grid->viewport(), &down);
    EXPECT_EQ(f.row(), 3);
    QWheelEvent up(at, f.grid->viewport()->mapToGlobal(at), QPoint(), QPoint(0, 120), Qt::NoButton,
                   Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(f.grid->viewport(), &up);
    EXPECT_EQ(f.row(), 2);
}

// ---- scroll bars -----------------------------------------------------------------

TEST(GridScrollBar, FivePositionsUntilTheWholeResultIsKnown)
{
    Fixture f(500);
    QScrollBar *bar = f.grid->verticalScrollBar();
    const int v = f.visible();
    ASSERT_FALSE(f.query.hasSequenceNumbers());
    EXPECT_EQ(bar->minimum(), 0);
    EXPECT_EQ(bar->maximum(), 4);
    EXPECT_EQ(bar->value(), 0);
    f.key(Qt::Key_Down);
    EXPECT_EQ(bar->value(), 2);

    bar->triggerAction(QAbstractSlider::SliderSingleStepAdd);   // the row below the bottom visible row
    EXPECT_EQ(f.row(), v + 1);
    EXPECT_EQ(bar->value(), 2);
    bar->triggerAction(QAbstractSlider::SliderSingleStepSub);   // the row above the top visible row
    EXPECT_EQ(f.row(), 1);
    EXPECT_EQ(bar->value(), 2);   // on the first row, but the first-row marker is not set yet
    f.key(Qt::Key_Up);
    EXPECT_EQ(bar->value(), 0);
    bar->triggerAction(QAbstractSlider::SliderPageStepAdd);
    EXPECT_EQ(f.row(), 1 + v);
    bar->triggerAction(QAbstractSlider::SliderPageStepSub);
    EXPECT_EQ(f.row(), 1);

    // Dropping the thumb: 3 a page down, 1 a page up.
    auto drop = [&](int position) {
        bar->setSliderDown(true);
        bar->setSliderPosition(position);
        bar->setSliderDown(false);
    };
    drop(3);
    EXPECT_EQ(f.row(), 1 + v);
    EXPECT_EQ(bar->value(), 2);   // the bar shows the result set, not where the thumb was dropped
    drop(3);
    EXPECT_EQ(f.row(), 1 + 2 * v);
    drop(1);
    EXPECT_EQ(f.row(), 1 + v);
    drop(0);
    EXPECT_EQ(f.row(), 1);
    EXPECT_EQ(bar->value(), 0);
    EXPECT_FALSE(f.query.hasSequenceNumbers());
    EXPECT_LE(f.query.knownRecordCount(), 3 * v + 1);
    // The last row is read from the end: the rows before it stay unread, so
    // the bar keeps its five positions.
    drop(4);
    EXPECT_EQ(f.nazev(), book(500));
    EXPECT_EQ(f.query.activeLine(), v - 1);
    EXPECT_FALSE(f.query.hasSequenceNumbers());
    EXPECT_LE(f.query.knownRecordCount(), 5 * v + 1);
    EXPECT_EQ(bar->value(), 4);
}

TEST(GridScrollBar, NumberedRowsOnceTheWholeResultIsKnown)
{
    Fixture f(300);
    QScrollBar *bar = f.grid->verticalScrollBar();
    const int v = f.visible();
    while (!f.query.eof())   // paging down to the end reads every row
        f.key(Qt::Key_PageDown);
    ASSERT_TRUE(f.query.hasSequenceNumbers());
    EXPECT_EQ(f.row(), 300);
    EXPECT_EQ(bar->minimum(), 1);
    EXPECT_EQ(bar->maximum() + bar->pageStep() - 1, 300 + v - 1);
    EXPECT_EQ(bar->pageStep(), v);
    EXPECT_EQ(bar->value(), 300);

    bar->triggerAction(QAbstractSlider::SliderToMinimum);
    EXPECT_EQ(f.row(), 1);
    EXPECT_EQ(bar->value(), 1);
    f.key(Qt::Key_Down);
    EXPECT_EQ(bar->value(), 2);

    auto drop = [&](int position) {
        bar->setSliderDown(true);
        bar->setSliderPosition(position);
        bar->setSliderDown(false);
    };
    drop(150);
    EXPECT_EQ(f.nazev(), book(150));
    EXPECT_EQ(bar->value(), 150);
    ASSERT_EQ(f.query.activeLine(), v - 1);
    bar->triggerAction(QAbstractSlider::SliderSingleStepSub);   // the row above the top visible row
    EXPECT_EQ(f.row(), 150 - v);
    EXPECT_EQ(f.query.activeLine(), 0);
    EXPECT_EQ(bar->value(), 150 - v);
    bar->triggerAction(QAbstractSlider::SliderSingleStepAdd);   // the row below the bottom visible row
    EXPECT_EQ(f.row(), 150);
    drop(1);
    EXPECT_EQ(f.row(), 1);
    drop(300);
    EXPECT_EQ(f.row(), 300);

    // While a row is inserted the thumb stays where it was.
    f.query.append();
    EXPECT_EQ(f.query.state(), DataSetState::Insert);
    EXPECT_EQ(bar->value(), 300);
}

TEST(GridScrollBar, HorizontalBarOnlyWhenTheColumnsAreWiderThanTheGrid)
{
    Fixture f(3);
    QScrollBar *bar = f.grid->horizontalScrollBar();
    ASSERT_GT(bar->maximum(), 0);   // nine columns do not fit 636 pixels
    auto firstShownStartsAtTheEdge = [&] {
        for (int c = 0; c < 9; ++c)
            if (f.grid->cellRect(0, c).left() == DataGrid::kIndicatorWidth + 1)
                return true;
        return false;
    };
    f.key(Qt::Key_Right);
    f.key(Qt::Key_Right);
    EXPECT_GT(bar->value(), 0);   // nazev did not fit behind id and autor
    EXPECT_LE(f.grid->cellRect(0, 2).right(), f.grid->viewport()->width());
    EXPECT_TRUE(firstShownStartsAtTheEdge());   // scrolled by whole columns
    f.key(Qt::Key_Left);
    f.key(Qt::Key_Left);
    EXPECT_EQ(bar->value(), 0);
    f.key(Qt::Key_End);
    EXPECT_GT(bar->value(), 0);     // the last column was scrolled into view
    EXPECT_TRUE(firstShownStartsAtTheEdge());
    EXPECT_LE(f.grid->cellRect(0, 8).right(), f.grid->viewport()->width());
    f.key(Qt::Key_Home);
    EXPECT_EQ(bar->value(), 0);
    EXPECT_EQ(f.grid->cellRect(0, 0).left(), DataGrid::kIndicatorWidth + 1);

    // One column wider than the grid: its right edge can still be scrolled to.
    f.query.setSql({QStringLiteral("select nazev from zeplo"), QString(), QString()});
    f.query.open();
    const QRect title = f.grid->cellRect(-1, 0);
    const QPoint border(title.right() + 1, title.center().y());
    QTest::mousePress(f.grid->viewport(), Qt::LeftButton, Qt::NoModifier, border);
    QTest::mouseMove(f.grid->viewport(), border + QPoint(700, 0));
    QTest::mouseRelease(f.grid->viewport(), Qt::LeftButton, Qt::NoModifier, border + QPoint(700, 0));
    ASSERT_EQ(f.grid->columnWidth(0), title.width() + 700);
    bar->setValue(bar->maximum());
    EXPECT_EQ(f.grid->cellRect(0, 0).right() + 1, f.grid->viewport()->width() - 1);   // then its line

    f.query.setSql({QStringLiteral("select id, zanr from zeplo"), QString(), QString()});
    f.query.open();
    EXPECT_EQ(bar->maximum(), 0);
    f.grid->resize(636, 321);
    QCoreApplication::processEvents();
    EXPECT_FALSE(bar->isVisible());
}

// ---- painting --------------------------------------------------------------------

TEST(GridPaint, TheIndicatorMarksTheCurrentRowByState)
{
    Fixture f(5);
    f.key(Qt::Key_Down);
    auto marks = [&] {
        const QImage img = f.image();
        QVector<QVector<QPoint>> perLine;
        for (int line = 0; line < f.query.windowRowCount(); ++line)
            perLine << pixelsOf(img, f.grid->indicatorRect(line), Qt::black);
        return perLine;
    };
    const auto browse = marks();
    ASSERT_EQ(browse.size(), 5);
    for (int line = 0; line < 5; ++line)
        EXPECT_EQ(browse[line].isEmpty(), line != 1) << line;
    // Right-aligned and vertically centred in a 6 x 11 box.
    const QRect cell = f.grid->indicatorRect(1);
    QRect box;
    for (const QPoint &p : browse[1])
        box |= QRect(p, QSize(1, 1));
    EXPECT_GE(box.left(), DataGrid::kIndicatorWidth - 6);
    EXPECT_EQ(box.right(), DataGrid::kIndicatorWidth - 1);
    EXPECT_LE(box.height(), 11);
    EXPECT_LE(std::abs((box.top() + box.bottom()) - (cell.height() - 1)), 1);

    f.query.edit();
    const auto edit = marks();
    EXPECT_FALSE(edit[1].isEmpty());
    EXPECT_NE(edit[1], browse[1]);

    f.query.append();
    ASSERT_EQ(f.query.state(), DataSetState::Insert);
    const auto insert = marks();
    EXPECT_TRUE(insert[1].isEmpty());
    ASSERT_EQ(insert.size(), 6);
    EXPECT_FALSE(insert[5].isEmpty());   // the new row on the line after the last
    EXPECT_NE(insert[5], browse[1]);
    EXPECT_NE(insert[5], edit[1]);
}

TEST(GridPaint, OnlyTheCurrentCellIsHighlightedAndOnlyWithTheFocus)
{
    Fixture f(5);
    f.key(Qt::Key_Down);
    f.key(Qt::Key_Right);
    const QColor highlight = f.grid->palette().color(QPalette::Highlight);
    QImage img = f.image();
    for (int line = 0; line < 3; ++line)
        for (int c = 0; c < 3; ++c) {
            const QRect cell = f.grid->cellRect(line, c);
            const QPoint corner(cell.left() + 1, cell.bottom() - 1);   // clear of any text
            EXPECT_EQ(img.pixelColor(corner) == highlight, line == 1 && c == 1) << line << "," << c;
        }
    f.other->setFocus();
    ASSERT_FALSE(f.grid->hasFocus());
    img = f.image();
    const QRect cell = f.grid->cellRect(1, 1);
    EXPECT_NE(img.pixelColor(cell.left() + 1, cell.bottom() - 1), highlight);
}

TEST(GridPaint, NumbersAreAlignedRightAndOtherTextLeftWithAMargin)
{
    Fixture f(5);
    f.key(Qt::Key_Down);   // the highlight away from line 0
    const QImage img = f.image();
    const QRect id = f.grid->cellRect(0, 0);
    const QRect idInk = inkBounds(img, id);
    ASSERT_TRUE(idInk.isValid());
    EXPECT_GE(id.right() - idInk.right(), 2);
    EXPECT_LE(id.right() - idInk.right(), 3);
    EXPECT_GT(idInk.left() - id.left(), id.width() / 2);

    const QRect name = f.grid->cellRect(0, 1);
    const QRect nameInk = inkBounds(img, name);
    ASSERT_TRUE(nameInk.isValid());
    EXPECT_GE(nameInk.left() - name.left(), 2);
    EXPECT_LE(nameInk.left() - name.left(), 3);
    EXPECT_GT(name.right() - nameInk.right(), name.width() / 2);
    // Columns beyond the right edge are reached by the horizontal bar.
    EXPECT_GT(f.grid->cellRect(0, 5).left(), img.width());
}

// ---- result set and accessibility ----------------------------------------------

TEST(GridResultSet, TheGridAsksForNoMoreRowsThanItShows)
{
    Fixture f(3000);
    const int v = f.visible();
    EXPECT_EQ(f.query.bufferCount(), v);
    EXPECT_LE(f.query.knownRecordCount(), v + 1);
    for (int i = 0; i < 20; ++i)
        f.key(Qt::Key_PageDown);
    EXPECT_EQ(f.query.windowRowCount(), v);
    EXPECT_EQ(f.row(), 1 + 20 * v);
    f.key(Qt::Key_End, Qt::ControlModifier);
    EXPECT_EQ(f.query.windowRowCount(), v);
    EXPECT_EQ(f.nazev(), book(3000));

    // A shorter grid keeps fewer rows.
    f.grid->resize(636, f.grid->height() - 5 * f.grid->rowHeight());
    QCoreApplication::processEvents();
    EXPECT_EQ(f.visible(), v - 5);
    EXPECT_EQ(f.query.bufferCount(), v - 5);
    EXPECT_EQ(f.query.windowRowCount(), v - 5);
    EXPECT_EQ(f.nazev(), book(3000));
    EXPECT_EQ(f.query.activeLine(), v - 6);
}

TEST(GridResultSet, ConnectingToAnOpenResultSetBuildsItsColumns)
{
    TempCatalogue catalogue;
    catalogue.addBooks(2);
    ResultSet query(QStringLiteral("Query1"));
    DataSource source;
    source.setDataSet(&query);
    query.setSql({kBase});
    query.open();
    DataGrid grid;
    grid.resize(300, 200);
    grid.setDataSource(&source);
    EXPECT_EQ(grid.columnCount(), 9);
    EXPECT_EQ(grid.columnTitle(2), QStringLiteral("nazev"));
    source.setDataSet(nullptr);
    grid.grab();   // paints without touching the fields of a set it no longer sees
    grid.setDataSource(nullptr);
    EXPECT_EQ(grid.columnCount(), 1);
}

TEST(GridResultSet, TheGridNamesItselfAndDescribesTheCurrentCell)
{
    Fixture f(4);
    EXPECT_EQ(f.grid->accessibleName(), QStringLiteral("DBGrid1"));
    f.key(Qt::Key_Down);
    f.key(Qt::Key_Right);
    f.key(Qt::Key_Right);
    EXPECT_TRUE(f.grid->accessibleDescription().contains(QStringLiteral("nazev")));
    EXPECT_TRUE(f.grid->accessibleDescription().contains(book(2)));
    f.query.moveBy(1);   // a move from elsewhere is described too
    EXPECT_TRUE(f.grid->accessibleDescription().contains(book(3)));
}
