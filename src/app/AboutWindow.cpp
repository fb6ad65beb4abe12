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

QLabel *makeLabel(const QString &text, const char *name, QWidget *parent)
{
    auto *label = new QLabel(text, parent);
    label->setObjectName(QLatin1String(name));
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

    Label5 = makeLabel(QStringLiteral("Zeplo ver1.2"), "Label5", this);
    Label5->setFont(bold);
    QPalette red = Label5->palette();
    red.setColor(QPalette::WindowText, Qt::red);
    Label5->setPalette(red);
    placeScaled(Label5, 60, 88, 73, 13);

    Image1 = makeLabel(QString(), "Image1", this);
    Image1->setPixmap(QPixmap(QStringLiteral(":/about-book.png")));
    placeScaled(Image1, 80, 112, 33, 33);

    Button1 = new QPushButton(QStringLiteral("Ok"), this);
    Button1->setObjectName(QStringLiteral("Button1"));
    Button1->setFocusPolicy(Qt::StrongFocus);
    Button1->setAutoDefault(true);
    placeScaled(Button1, 48, 176, 97, 25);
    connect(Button1, &QPushButton::clicked, this, &AboutWindow::Button1Click);

    Label7 = makeLabel(QStringLiteral("www.dubrex.cz"), "Label7", this);
    Label7->setCursor(Qt::PointingHandCursor);
    Label7->setToolTip(QStringLiteral("Oficiální stránky"));
    Label7->setMouseTracking(true);
    Label7->installEventFilter(this);
    placeScaled(Label7, 39, 208, 114, 13);

    Label8 = makeLabel(QStringLiteral("dubrex@dubrex.cz"), "Label8", this);
    placeScaled(Label8, 34, 224, 123, 13);

    Button1->setFocus();
}

void AboutWindow::Button1Click()
{
    accept();
}

void AboutWindow::Label7Click()
{
    // Whether a browser opened is not the About window's concern.
    QDesktopServices::openUrl(QUrl(QString::fromLatin1(kWebPage)));
}

void AboutWindow::Label7MouseMove()
{
    setLinkColour(Qt::blue);
}

void AboutWindow::FormMouseMove()
{
    setLinkColour(Qt::black);
}

void AboutWindow::setLinkColour(const QColor &colour)
{
    QPalette p = Label7->palette();
    if (p.color(QPalette::WindowText) == colour)
        return;
    p.setColor(QPalette::WindowText, colour);
    Label7->setPalette(p);
}

bool AboutWindow::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == Label7) {
        switch (event->type()) {
        case QEvent::MouseMove:
            Label7MouseMove();
            // Handled here: it must not reach the window as a move over its
            // free area.
            return true;
        case QEvent::MouseButtonRelease: {
            // A click is a left-button release over the label.
            const auto *mouse = static_cast<QMouseEvent *>(event);
            if (mouse->button() == Qt::LeftButton && Label7->rect().contains(mouse->position().toPoint()))
                Label7Click();
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
    FormMouseMove();
    QDialog::mouseMoveEvent(event);
}

void AboutWindow::showEvent(QShowEvent *event)
{
    // Every opening starts with the link in the window-text colour.
    setLinkColour(palette().color(QPalette::WindowText));
    QDialog::showEvent(event);
}

} // namespace zeplo
