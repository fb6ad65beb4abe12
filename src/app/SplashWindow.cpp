#include "app/SplashWindow.h"

#include <QFile>
#include <QFont>
#include <QLabel>
#include <QPalette>
#include <QPixmap>
#include <QTimer>

#include "app/JpegImage.h"
#include "app/Scaling.h"

// The resources live in the static core library, whose registration is not
// linked in unless something asks for it.
static void loadAssets()
{
    Q_INIT_RESOURCE(assets);
}

namespace zeplo {

namespace {

QImage splashPicture()
{
    QFile file(QStringLiteral(":/splash.jpg"));
    if (!file.open(QIODevice::ReadOnly))
        return QImage();
    return decodeJpeg(file.readAll());
}

} // namespace

SplashWindow::SplashWindow(QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint
                          | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint
                          | Qt::MSWindowsFixedSizeDialogHint)
{
    loadAssets();
    setWindowTitle(QStringLiteral("Dubrex"));
    setFont(QFont(QStringLiteral("MS Sans Serif"), 8));

    QPalette face = palette();
    face.setColor(QPalette::Window, face.color(QPalette::Button));
    setPalette(face);
    setAutoFillBackground(true);

    fixScaledClientSize(this, 151, 199);
    centreOnScreen(this);

    // The picture is drawn at its own size from the top-left corner; when it
    // cannot be decoded the window simply shows without it.
    Image1 = new QLabel(this);
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    Image1->setScaledContents(false);
    placeScaled(Image1, 0, 0, 153, 201);
    const QImage picture = splashPicture();
    if (!picture.isNull())
        Image1->setPixmap(QPixmap::fromImage(picture));

    Label2 = new QLabel(QStringLiteral("Dubrex"), this);
    Label2->setObjectName(QStringLiteral("Label2"));
    QFont bold = font();
    bold.setBold(true);
    Label2->setFont(bold);
    QPalette label = Label2->palette();
    label.setColor(QPalette::WindowText, Qt::red);
    label.setColor(QPalette::Window, Qt::white);
    Label2->setPalette(label);
    Label2->setAutoFillBackground(true);
    Label2->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    placeScaled(Label2, 51, 184, 96, 13);

    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(2000);
    // A coarse timer may fire up to a twentieth early; the splash is meant
    // to stay its full two seconds.
    Timer1->setTimerType(Qt::PreciseTimer);
    connect(Timer1, &QTimer::timeout, this, &SplashWindow::Timer1Timer);
    Timer1->start();
}

void SplashWindow::Timer1Timer()
{
    // Closing a window that is already closed does nothing, so later ticks
    // are harmless.
    close();
}

} // namespace zeplo
