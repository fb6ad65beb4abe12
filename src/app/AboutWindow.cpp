#include "app/AboutWindow.h"

#include <QDesktopServices>
#include <QFont>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPalette>
#include <QPixmap>
#include <QPushButton>
#include <QUrl>

#include "app/Scaling.h"

// The resources live in the static core library, whose registration is not
// linked in unless something asks for it.
static void loadAssets()
{
    Q_INIT_RESOURCE(assets);
}

namespace zeplo {

namespace {

const char *const kWebPage = "http://www.dubrex.cz";

QLabel *makeLabel(const QString &text)
{
    auto *label = new QLabel(text);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    label->setFocusPolicy(Qt::NoFocus);
    return label;
}

} // namespace

AboutWindow::AboutWindow(QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint
                          | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint
                          | Qt::MSWindowsFixedSizeDialogHint)
{
    loadAssets();
    setWindowTitle(QStringLiteral("About"));
    setFont(QFont(QStringLiteral("MS Sans Serif"), 8));

    QPalette white = palette();
    white.setColor(QPalette::Window, Qt::white);
    setPalette(white);
    setAutoFillBackground(true);
    // Moves over the free area of the window turn the link back to black.
    setMouseTracking(true);

    fixScaledClientSize(this, 193, 244);
    centreOnScreen(this);

    QFont bold = font();
    bold.setBold(true);

    nameLabel_ = place(makeLabel(QStringLiteral("Zeplo ver1.2")), this, "Label5", 60, 88, 73, 13);
    nameLabel_->setFont(bold);
    QPalette red = nameLabel_->palette();
    red.setColor(QPalette::WindowText, Qt::red);
    nameLabel_->setPalette(red);

    picture_ = place(makeLabel(QString()), this, "Image1", 80, 112, 33, 33);
    picture_->setPixmap(QPixmap(QStringLiteral(":/about-book.png")));

    okButton_ = place(new QPushButton(QStringLiteral("Ok")), this, "Button1", 48, 176, 97, 25);
    okButton_->setFocusPolicy(Qt::StrongFocus);
    okButton_->setAutoDefault(true);
    connect(okButton_, &QPushButton::clicked, this, &AboutWindow::closeWindow);

    webLink_ = place(makeLabel(QStringLiteral("www.dubrex.cz")), this, "Label7", 39, 208, 114, 13);
    webLink_->setCursor(Qt::PointingHandCursor);
    webLink_->setToolTip(QStringLiteral("Oficiální stránky"));
    webLink_->setMouseTracking(true);
    webLink_->installEventFilter(this);

    mailLabel_ = place(makeLabel(QStringLiteral("dubrex@dubrex.cz")), this, "Label8", 34, 224, 123, 13);

    okButton_->setFocus();
}

void AboutWindow::closeWindow()
{
    accept();
}

void AboutWindow::openWebPage()
{
    // Whether a browser opened is not the About window's concern.
    QDesktopServices::openUrl(QUrl(QString::fromLatin1(kWebPage)));
}

void AboutWindow::highlightLink()
{
    setLinkColour(Qt::blue);
}

void AboutWindow::dimLink()
{
    setLinkColour(Qt::black);
}

void AboutWindow::setLinkColour(const QColor &colour)
{
    QPalette p = webLink_->palette();
    if (p.color(QPalette::WindowText) == colour)
        return;
    p.setColor(QPalette::WindowText, colour);
    webLink_->setPalette(p);
}

bool AboutWindow::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == webLink_) {
        switch (event->type()) {
        case QEvent::MouseMove:
            highlightLink();
            // Handled here: it must not reach the window as a move over its
            // free area.
            return true;
        case QEvent::MouseButtonRelease: {
            // A click is a left-button release over the label.
            const auto *mouse = static_cast<QMouseEvent *>(event);
            if (mouse->button() == Qt::LeftButton && webLink_->rect().contains(mouse->position().toPoint()))
                openWebPage();
            return true;
        }
        default:
            break;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void AboutWindow::keyPressEvent(QKeyEvent *event)
{
    // The About window has no cancel button: Esc leaves it open. The close
    // box still closes it.
    if (event->key() == Qt::Key_Escape) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void AboutWindow::mouseMoveEvent(QMouseEvent *event)
{
    dimLink();
    QDialog::mouseMoveEvent(event);
}

void AboutWindow::showEvent(QShowEvent *event)
{
    // Every opening starts with the link in the window-text colour.
    setLinkColour(palette().color(QPalette::WindowText));
    QDialog::showEvent(event);
}

} // namespace zeplo
