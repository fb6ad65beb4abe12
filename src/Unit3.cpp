#include "Unit3.h"

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

TForm3::TForm3(QWidget *parent)
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

    zeplo::fixScaledClientSize(this, 193, 244);
    zeplo::centreOnScreen(this);

    QFont bold = font();
    bold.setBold(true);

    Label5 = makeLabel(QStringLiteral("Zeplo ver1.2"), "Label5", this);
    Label5->setFont(bold);
    QPalette red = Label5->palette();
    red.setColor(QPalette::WindowText, Qt::red);
    Label5->setPalette(red);
    zeplo::placeScaled(Label5, 60, 88, 73, 13);

    Image1 = makeLabel(QString(), "Image1", this);
    Image1->setPixmap(QPixmap(QStringLiteral(":/about-book.png")));
    zeplo::placeScaled(Image1, 80, 112, 33, 33);

    Button1 = new QPushButton(QStringLiteral("Ok"), this);
    Button1->setObjectName(QStringLiteral("Button1"));
    Button1->setFocusPolicy(Qt::StrongFocus);
    Button1->setAutoDefault(true);
    zeplo::placeScaled(Button1, 48, 176, 97, 25);
    connect(Button1, &QPushButton::clicked, this, &TForm3::Button1Click);

    Label7 = makeLabel(QStringLiteral("www.dubrex.cz"), "Label7", this);
    Label7->setCursor(Qt::PointingHandCursor);
    Label7->setToolTip(QStringLiteral("Oficiální stránky"));
    Label7->setMouseTracking(true);
    Label7->installEventFilter(this);
    zeplo::placeScaled(Label7, 39, 208, 114, 13);

    Label8 = makeLabel(QStringLiteral("dubrex@dubrex.cz"), "Label8", this);
    zeplo::placeScaled(Label8, 34, 224, 123, 13);

    Button1->setFocus();
}

void TForm3::Button1Click()
{
    accept();
}

void TForm3::Label7Click()
{
    // Whether a browser opened is not the About window's concern.
    QDesktopServices::openUrl(QUrl(QString::fromLatin1(kWebPage)));
}

void TForm3::Label7MouseMove()
{
    setLinkColour(Qt::blue);
}

void TForm3::FormMouseMove()
{
    setLinkColour(Qt::black);
}

void TForm3::setLinkColour(const QColor &colour)
{
    QPalette p = Label7->palette();
    if (p.color(QPalette::WindowText) == colour)
        return;
    p.setColor(QPalette::WindowText, colour);
    Label7->setPalette(p);
}

bool TForm3::eventFilter(QObject *watched, QEvent *event)
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

void TForm3::keyPressEvent(QKeyEvent *event)
{
    // The About window has no cancel button: Esc leaves it open. The close
    // box still closes it.
    if (event->key() == Qt::Key_Escape) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void TForm3::mouseMoveEvent(QMouseEvent *event)
{
    FormMouseMove();
    QDialog::mouseMoveEvent(event);
}

void TForm3::showEvent(QShowEvent *event)
{
    // Every opening starts with the link in the window-text colour.
    setLinkColour(palette().color(QPalette::WindowText));
    QDialog::showEvent(event);
}
