#include "app/SplashWindow.h"

#include <QFile>
#include <QFont>
#include <QLabel>
#include <QPalette>
#include <QPixmap>
#include <QKeyEvent>
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

int g_displayTime = 2000;

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
    picture_ = place(new QLabel, this, "Image1", 0, 0, 153, 201);
    picture_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    picture_->setScaledContents(false);
    const QImage picture = splashPicture();
    if (!picture.isNull())
        picture_->setPixmap(QPixmap::fromImage(picture));

    nameLabel_ = place(new QLabel(QStringLiteral("Dubrex")), this, "Label2", 51, 184, 96, 13);
    QFont bold = font();
    bold.setBold(true);
    nameLabel_->setFont(bold);
    QPalette label = nameLabel_->palette();
    label.setColor(QPalette::WindowText, Qt::red);
    label.setColor(QPalette::Window, Qt::white);
    nameLabel_->setPalette(label);
    nameLabel_->setAutoFillBackground(true);
    nameLabel_->setAlignment(Qt::AlignLeft | Qt::AlignTop);

    timer_ = new QTimer(this);
    timer_->setObjectName(QStringLiteral("Timer1"));
    timer_->setInterval(g_displayTime);
    // A coarse timer may fire up to a twentieth early; the splash is meant
    // to stay its full two seconds.
    timer_->setTimerType(Qt::PreciseTimer);
    connect(timer_, &QTimer::timeout, this, &SplashWindow::closeByTimer);
    timer_->start();
}

int SplashWindow::displayTime()
{
    return g_displayTime;
}

void SplashWindow::setDisplayTime(int milliseconds)
{
    g_displayTime = milliseconds;
}

void SplashWindow::closeByTimer()
{
    // Closing a window that is already closed does nothing, so later ticks
    // are harmless.
    close();
}

} // namespace zeplo

namespace zeplo {

void SplashWindow::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Escape)
        return;
    QDialog::keyPressEvent(event);
}

} // namespace zeplo
