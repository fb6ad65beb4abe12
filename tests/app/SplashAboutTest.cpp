#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <random>

#include <QApplication>
#include <QDesktopServices>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QUrl>
#include <QWindow>
#include <gtest/gtest.h>

extern "C" {
#include <jpeglib.h>
}

#include "Children.h"
#include "app/SplashWindow.h"
#include "app/AboutWindow.h"
#include "app/JpegImage.h"
#include "app/Scaling.h"

using namespace zeplo;

// The pictures are resources of the core library; register them here as the
// windows do.
static void loadAssets()
{
    Q_INIT_RESOURCE(assets);
}

namespace {

QByteArray resource(const QString &path)
{
    loadAssets();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    return file.readAll();
}

QByteArray splashBytes()
{
    return resource(QStringLiteral(":/splash.jpg"));
}

// Encodes raw samples with libjpeg, for pictures in the colour spaces the
// program's own picture does not use.
QByteArray encodeJpeg(int width, int height, int components, J_COLOR_SPACE space,
                      const std::vector<unsigned char> &samples)
{
    jpeg_compress_struct cinfo;
    jpeg_error_mgr err;
    cinfo.err = jpeg_std_error(&err);
    jpeg_create_compress(&cinfo);
    unsigned char *buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&cinfo, &buffer, &size);
    cinfo.image_width = static_cast<JDIMENSION>(width);
    cinfo.image_height = static_cast<JDIMENSION>(height);
    cinfo.input_components = components;
    cinfo.in_color_space = space;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, 95, TRUE);
    jpeg_start_compress(&cinfo, TRUE);
    while (cinfo.next_scanline < cinfo.image_height) {
        auto *row = const_cast<unsigned char *>(samples.data())
                    + static_cast<size_t>(cinfo.next_scanline) * width * components;
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    QByteArray out(reinterpret_cast<const char *>(buffer), static_cast<qsizetype>(size));
    std::free(buffer);
    return out;
}

// Offset of the frame header's height field, or -1.
qsizetype frameDimensionsOffset(const QByteArray &jpeg)
{
    for (qsizetype i = 2; i + 9 < jpeg.size(); ++i) {
        const auto marker = static_cast<unsigned char>(jpeg[i + 1]);
        if (static_cast<unsigned char>(jpeg[i]) == 0xFF && (marker == 0xC0 || marker == 0xC2))
            return i + 5;
    }
    return -1;
}

void showAndActivate(QWidget *window)
{
    window->show();
    QApplication::setActiveWindow(window);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window));
    ASSERT_TRUE(QTest::qWaitForWindowActive(window));
}

QColor textColour(const QWidget *w)
{
    return w->palette().color(QPalette::WindowText);
}

// Stands in for the desktop's browser while the About window's link is clicked.
class UrlCatcher : public QObject {
    Q_OBJECT
public:
    QList<QUrl> opened;
public slots:
    void open(const QUrl &url) { opened.append(url); }
};

} // namespace

// --------------------------------------------------------------- JPEG --

TEST(Splash, PictureDecodesThroughLibjpeg)
{
    const QByteArray bytes = splashBytes();
    ASSERT_FALSE(bytes.isEmpty());
    const QImage image = decodeJpeg(bytes);
    ASSERT_FALSE(image.isNull());
    EXPECT_EQ(image.size(), QSize(152, 200));

    // Colours come out in the right channels: the bottom book is red, the
    // top one blue, and the strip under the name is light.
    const QColor bottomBook = image.pixelColor(60, 138);
    EXPECT_GT(bottomBook.red(), bottomBook.green() + 60);
    EXPECT_GT(bottomBook.red(), bottomBook.blue() + 60);
    const QColor topBook = image.pixelColor(60, 99);
    EXPECT_GT(topBook.blue(), topBook.red() + 40);
    const QColor strip = image.pixelColor(100, 192);
    EXPECT_GT(strip.lightness(), 200);
}

TEST(Splash, GrayAndCmykPicturesDecode)
{
    std::vector<unsigned char> gray(16 * 8);
    for (size_t i = 0; i < gray.size(); ++i)
        gray[i] = static_cast<unsigned char>((i % 16) * 16);
    const QImage g = decodeJpeg(encodeJpeg(16, 8, 1, JCS_GRAYSCALE, gray));
    ASSERT_FALSE(g.isNull());
    EXPECT_EQ(g.size(), QSize(16, 8));
    EXPECT_NEAR(qGray(g.pixel(0, 0)), 0, 6);
    EXPECT_NEAR(qGray(g.pixel(15, 7)), 240, 6);

    // Pure red ink as Adobe writers store it: inverted, with the Adobe
    // marker that libjpeg writes for CMYK.
    std::vector<unsigned char> cmyk;
    for (int i = 0; i < 8 * 8; ++i)
        cmyk.insert(cmyk.end(), {255, 0, 0, 255});
    const QImage c = decodeJpeg(encodeJpeg(8, 8, 4, JCS_CMYK, cmyk));
    ASSERT_FALSE(c.isNull());
    const QColor px = c.pixelColor(4, 4);
    EXPECT_GT(px.red(), 240);
    EXPECT_LT(px.green(), 15);
    EXPECT_LT(px.blue(), 15);
}

TEST(Splash, DamagedDataGivesNullImage)
{
    EXPECT_TRUE(decodeJpeg(QByteArray()).isNull());
    EXPECT_TRUE(decodeJpeg(QByteArray("\xFF\xD8", 2)).isNull());
    EXPECT_TRUE(decodeJpeg(QByteArray("not a picture at all")).isNull());
    EXPECT_TRUE(decodeJpeg(resource(QStringLiteral(":/about-book.png"))).isNull());

    std::mt19937 random(12345);
    QByteArray noise(4096, '\0');
    for (char &b : noise)
        b = static_cast<char>(random());
    EXPECT_TRUE(decodeJpeg(noise).isNull());
    noise[0] = '\xFF';
    noise[1] = '\xD8';
    EXPECT_TRUE(decodeJpeg(noise).isNull());

    // Cut off anywhere, even just before the end marker, the picture is
    // incomplete and is refused.
    const QByteArray whole = splashBytes();
    ASSERT_FALSE(whole.isEmpty());
    int accepted = 0;
    for (qsizetype length = 0; length < whole.size(); ++length)
        accepted += decodeJpeg(whole.left(length)).isNull() ? 0 : 1;
    EXPECT_EQ(accepted, 0);
}

TEST(Splash, CorruptScanNeverCrashes)
{
    const QByteArray whole = splashBytes();
    ASSERT_FALSE(whole.isEmpty());
    std::mt19937 random(777);
    for (int round = 0; round < 300; ++round) {
        QByteArray damaged = whole;
        for (int hits = 0; hits < 4; ++hits) {
            const auto at = static_cast<qsizetype>(random() % static_cast<unsigned>(whole.size()));
            damaged[at] = static_cast<char>(random());
        }
        const QImage image = decodeJpeg(damaged);
        // Either refused, or a picture of a size the header allows.
        if (!image.isNull()) {
            EXPECT_LE(static_cast<qint64>(image.width()) * image.height(), zeplo::kJpegMaxPixels);
        }
    }
}

TEST(Splash, AbsurdDimensionsAreRefused)
{
    // A header claiming 65000 x 65000 pixels is refused at once, before any
    // picture memory is taken.
    QByteArray huge = splashBytes();
    const qsizetype at = frameDimensionsOffset(huge);
    ASSERT_GT(at, 0);
    huge[at] = '\xFD';
    huge[at + 1] = '\xE8';
    huge[at + 2] = '\xFD';
    huge[at + 3] = '\xE8';
    QElapsedTimer clock;
    clock.start();
    EXPECT_TRUE(decodeJpeg(huge).isNull());
    EXPECT_LT(clock.elapsed(), 1000);

    // Sound pictures past either limit are refused too; one just inside
    // both decodes.
    const auto plain = [](int width, int height) {
        return encodeJpeg(width, height, 1, JCS_GRAYSCALE,
                          std::vector<unsigned char>(static_cast<size_t>(width) * height, 200));
    };
    EXPECT_TRUE(decodeJpeg(plain(zeplo::kJpegMaxSide + 1, 8)).isNull());
    EXPECT_EQ(decodeJpeg(plain(zeplo::kJpegMaxSide, 8)).width(), zeplo::kJpegMaxSide);
    EXPECT_TRUE(decodeJpeg(plain(4200, 4000)).isNull()); // 16.8 million pixels
    EXPECT_EQ(decodeJpeg(plain(4096, 4096)).height(), 4096);
}

// ------------------------------------------------------------- SplashWindow --

TEST(Splash, LayoutScalesWithTheScreenResolution)
{
    EXPECT_EQ(zeplo::scaledForDpi(151, 96), 151);
    // 125 %: 51 -> 63.75, 13 -> 16.25, rounded to the nearest pixel
    EXPECT_EQ(zeplo::scaledForDpi(51, 120), 64);
    EXPECT_EQ(zeplo::scaledForDpi(13, 120), 16);
    // 150 %: halves round away from zero
    EXPECT_EQ(zeplo::scaledForDpi(13, 144), 20);
    EXPECT_EQ(zeplo::scaledForDpi(199, 144), 299);
    EXPECT_EQ(zeplo::scaledForDpi(-8, 144), -12);
    // A screen that reports no resolution keeps the drawn layout.
    EXPECT_EQ(zeplo::scaledForDpi(33, 0), 33);
}

TEST(Splash, WindowLayout)
{
    SplashWindow form;
    EXPECT_EQ(form.windowTitle(), QStringLiteral("Dubrex"));
    // At the offscreen screen's 96 dpi the windows keep their drawn layout.
    EXPECT_EQ(form.size(), QSize(151, 199));
    EXPECT_EQ(form.minimumSize(), form.maximumSize());

    const Qt::WindowFlags flags = form.windowFlags();
    EXPECT_TRUE(flags & Qt::WindowCloseButtonHint);
    EXPECT_TRUE(flags & Qt::WindowSystemMenuHint);
    EXPECT_FALSE(flags & Qt::WindowMinimizeButtonHint);
    EXPECT_FALSE(flags & Qt::WindowMaximizeButtonHint);
    EXPECT_FALSE(flags & Qt::WindowContextHelpButtonHint);

    EXPECT_EQ(form.palette().color(QPalette::Window), form.palette().color(QPalette::Button));
    EXPECT_TRUE(form.autoFillBackground());
    EXPECT_EQ(form.font().family(), QStringLiteral("MS Sans Serif"));
    EXPECT_EQ(form.font().pointSize(), 8);

    EXPECT_EQ(child<QLabel>(form, "Image1")->geometry(), QRect(0, 0, 153, 201));
    ASSERT_FALSE(child<QLabel>(form, "Image1")->pixmap().isNull());
    EXPECT_EQ(child<QLabel>(form, "Image1")->pixmap().size(), QSize(152, 200));
    EXPECT_FALSE(child<QLabel>(form, "Image1")->hasScaledContents());
    EXPECT_EQ(child<QLabel>(form, "Image1")->alignment(), Qt::AlignLeft | Qt::AlignTop);

    EXPECT_EQ(child<QLabel>(form, "Label2")->text(), QStringLiteral("Dubrex"));
    EXPECT_EQ(child<QLabel>(form, "Label2")->geometry(), QRect(51, 184, 96, 13));
    EXPECT_TRUE(child<QLabel>(form, "Label2")->font().bold());
    EXPECT_EQ(textColour(child<QLabel>(form, "Label2")), QColor(Qt::red));
    EXPECT_EQ(child<QLabel>(form, "Label2")->palette().color(QPalette::Window), QColor(Qt::white));
    EXPECT_TRUE(child<QLabel>(form, "Label2")->autoFillBackground());

    EXPECT_EQ(child<QTimer>(form, "Timer1")->interval(), 2000);
    EXPECT_TRUE(child<QTimer>(form, "Timer1")->isActive());
    EXPECT_FALSE(child<QTimer>(form, "Timer1")->isSingleShot());

    const QRect screen = form.screen()->geometry();
    const QPoint centre = form.geometry().center();
    EXPECT_LE(std::abs(centre.x() - screen.center().x()), 2);
    EXPECT_LE(std::abs(centre.y() - screen.center().y()), 2);
}

TEST(Splash, PictureAndNameOnScreen)
{
    SplashWindow form;
    showAndActivate(&form);
    const QImage shot = form.grab().toImage();
    // The top-left corner shows the picture's first pixel, unmoved.
    const QImage picture = decodeJpeg(splashBytes());
    ASSERT_FALSE(picture.isNull());
    const QColor expected = picture.pixelColor(0, 0);
    const QColor seen = shot.pixelColor(0, 0);
    EXPECT_NEAR(seen.red(), expected.red(), 2);
    EXPECT_NEAR(seen.green(), expected.green(), 2);
    EXPECT_NEAR(seen.blue(), expected.blue(), 2);
    // The name's white background covers the picture at the label's corner.
    // (The grab is in device pixels, which Qt's own scaling may enlarge.)
    const QPointF corner = QPointF(child<QLabel>(form, "Label2")->geometry().bottomRight() - QPoint(1, 1))
                           * shot.devicePixelRatio();
    const QColor behindName = shot.pixelColor(corner.toPoint());
    EXPECT_EQ(behindName, QColor(Qt::white));
    form.close();
}

// The time shown is the timer's; a short one spares the test the two seconds.
struct SplashTime {
    explicit SplashTime(int ms) { SplashWindow::setDisplayTime(ms); }
    ~SplashTime() { SplashWindow::setDisplayTime(2000); }
};

TEST(Splash, ClosesItselfWhenItsTimeIsUp)
{
    EXPECT_EQ(SplashWindow::displayTime(), 2000);
    SplashTime shortTime(20);
    SplashWindow form;
    EXPECT_EQ(child<QTimer>(form, "Timer1")->interval(), 20);
    // Nothing else closes it: exec() returns only through the timer.
    const int result = form.exec();
    EXPECT_EQ(result, QDialog::Rejected);
    EXPECT_FALSE(form.isVisible());

    // A tick after the window closed leaves it closed and does no harm.
    form.closeByTimer();
    QCoreApplication::processEvents();
    EXPECT_FALSE(form.isVisible());
}

TEST(Splash, CloseBoxClosesSoonerButEscDoesNot)
{
    SplashTime anHour(3600 * 1000);   // only the close box can end it within the test
    SplashWindow form;
    bool asked = false, openAfterEsc = false;
    QTimer::singleShot(0, &form, [&form, &asked, &openAfterEsc] {
        asked = QTest::qWaitForWindowExposed(&form);
        QTest::keyClick(&form, Qt::Key_Escape);
        openAfterEsc = form.isVisible();
        form.windowHandle()->close();   // what the window system's close box does
    });
    const int result = form.exec();
    EXPECT_TRUE(asked);
    EXPECT_TRUE(openAfterEsc);
    EXPECT_EQ(result, QDialog::Rejected);
    EXPECT_FALSE(form.isVisible());
}

// ------------------------------------------------------------- AboutWindow --

TEST(About, WindowLayoutAndTexts)
{
    AboutWindow form;
    EXPECT_EQ(form.windowTitle(), QStringLiteral("About"));
    EXPECT_EQ(form.size(), QSize(193, 244));
    EXPECT_EQ(form.minimumSize(), form.maximumSize());
    const Qt::WindowFlags flags = form.windowFlags();
    EXPECT_TRUE(flags & Qt::WindowCloseButtonHint);
    EXPECT_FALSE(flags & Qt::WindowMinimizeButtonHint);
    EXPECT_FALSE(flags & Qt::WindowMaximizeButtonHint);
    EXPECT_FALSE(flags & Qt::WindowContextHelpButtonHint);
    EXPECT_EQ(form.palette().color(QPalette::Window), QColor(Qt::white));
    EXPECT_EQ(form.font().family(), QStringLiteral("MS Sans Serif"));
    EXPECT_EQ(form.font().pointSize(), 8);

    EXPECT_EQ(child<QLabel>(form, "Label5")->text(), QStringLiteral("Zeplo ver1.2"));
    EXPECT_EQ(child<QLabel>(form, "Label5")->geometry(), QRect(60, 88, 73, 13));
    EXPECT_TRUE(child<QLabel>(form, "Label5")->font().bold());
    EXPECT_EQ(textColour(child<QLabel>(form, "Label5")), QColor(Qt::red));

    EXPECT_EQ(child<QLabel>(form, "Image1")->geometry(), QRect(80, 112, 33, 33));
    EXPECT_EQ(child<QLabel>(form, "Image1")->pixmap().size(), QSize(32, 32));
    const QImage icon(QStringLiteral(":/about-book.png"));
    EXPECT_EQ(icon.format(), QImage::Format_Indexed8);
    EXPECT_LE(icon.colorCount(), 16);

    EXPECT_EQ(child<QPushButton>(form, "Button1")->text(), QStringLiteral("Ok"));
    EXPECT_EQ(child<QPushButton>(form, "Button1")->geometry(), QRect(48, 176, 97, 25));

    EXPECT_EQ(child<QLabel>(form, "Label7")->text(), QStringLiteral("www.dubrex.cz"));
    EXPECT_EQ(child<QLabel>(form, "Label7")->geometry(), QRect(39, 208, 114, 13));
    EXPECT_EQ(child<QLabel>(form, "Label7")->cursor().shape(), Qt::PointingHandCursor);
    EXPECT_EQ(child<QLabel>(form, "Label7")->toolTip(), QStringLiteral("Oficiální stránky"));

    EXPECT_EQ(child<QLabel>(form, "Label8")->text(), QStringLiteral("dubrex@dubrex.cz"));
    EXPECT_EQ(child<QLabel>(form, "Label8")->geometry(), QRect(34, 224, 123, 13));
}

TEST(About, OnlyOkTakesTheFocus)
{
    AboutWindow form;
    QPushButton *ok = child<QPushButton>(form, "Button1");
    for (QWidget *control : form.findChildren<QWidget *>()) {
        if (control == ok)
            EXPECT_NE(control->focusPolicy(), Qt::NoFocus);
        else
            EXPECT_EQ(control->focusPolicy(), Qt::NoFocus) << control->objectName().toStdString();
    }
    showAndActivate(&form);
    EXPECT_EQ(QApplication::focusWidget(), child<QPushButton>(form, "Button1"));
    // Tab has nowhere else to go.
    QTest::keyClick(child<QPushButton>(form, "Button1"), Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), child<QPushButton>(form, "Button1"));
    form.close();
}

TEST(About, EnterAndSpacePressOkButEscDoesNot)
{
    for (const Qt::Key key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Space}) {
        AboutWindow form;
        showAndActivate(&form);
        QTest::keyClick(QApplication::focusWidget(), key);
        EXPECT_FALSE(form.isVisible()) << key;
        EXPECT_EQ(form.result(), QDialog::Accepted) << key;
    }

    AboutWindow form;
    showAndActivate(&form);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
    QTest::keyClick(&form, Qt::Key_Escape);
    EXPECT_TRUE(form.isVisible());
    // The close box still closes it.
    form.close();
    EXPECT_FALSE(form.isVisible());
}

TEST(About, LinkHighlightFollowsTheMouse)
{
    AboutWindow form;
    const QColor windowText = form.palette().color(QPalette::WindowText);
    showAndActivate(&form);
    EXPECT_EQ(textColour(child<QLabel>(form, "Label7")), windowText);

    QTest::mouseMove(child<QLabel>(form, "Label7"), child<QLabel>(form, "Label7")->rect().center());
    EXPECT_EQ(textColour(child<QLabel>(form, "Label7")), QColor(Qt::blue));
    // Other labels are not the free area: the link stays blue over them.
    QTest::mouseMove(child<QLabel>(form, "Label8"), child<QLabel>(form, "Label8")->rect().center());
    EXPECT_EQ(textColour(child<QLabel>(form, "Label7")), QColor(Qt::blue));
    QTest::mouseMove(&form, QPoint(5, 5));
    EXPECT_EQ(textColour(child<QLabel>(form, "Label7")), QColor(Qt::black));
    QTest::mouseMove(child<QLabel>(form, "Label7"), child<QLabel>(form, "Label7")->rect().center());
    EXPECT_EQ(textColour(child<QLabel>(form, "Label7")), QColor(Qt::blue));

    // Closed with the link lit and opened again, the window starts with the
    // window-text colour, and the highlight follows the mouse as before.
    form.close();
    showAndActivate(&form);
    EXPECT_EQ(textColour(child<QLabel>(form, "Label7")), windowText);
    QTest::mouseMove(&form, QPoint(5, 5));
    QTest::mouseMove(child<QLabel>(form, "Label7"), child<QLabel>(form, "Label7")->rect().center());
    EXPECT_EQ(textColour(child<QLabel>(form, "Label7")), QColor(Qt::blue));
    QTest::mouseMove(&form, QPoint(5, 5));
    EXPECT_EQ(textColour(child<QLabel>(form, "Label7")), QColor(Qt::black));
    form.close();
}

TEST(About, LinkClickOpensTheWebPage)
{
    UrlCatcher catcher;
    QDesktopServices::setUrlHandler(QStringLiteral("http"), &catcher, "open");
    {
        AboutWindow form;
        showAndActivate(&form);
        // Pressed on the link but let go elsewhere: no click.
        QTest::mousePress(child<QLabel>(form, "Label7"), Qt::LeftButton, {}, child<QLabel>(form, "Label7")->rect().center());
        QTest::mouseRelease(child<QLabel>(form, "Label7"), Qt::LeftButton, {}, QPoint(-20, -20));
        EXPECT_TRUE(catcher.opened.isEmpty());
        QTest::mouseClick(child<QLabel>(form, "Label7"), Qt::LeftButton, {}, child<QLabel>(form, "Label7")->rect().center());
        form.close();
    }
    QDesktopServices::unsetUrlHandler(QStringLiteral("http"));
    ASSERT_EQ(catcher.opened.size(), 1);
    EXPECT_EQ(catcher.opened.first(), QUrl(QStringLiteral("http://www.dubrex.cz")));
}

#include "SplashAboutTest.moc"
