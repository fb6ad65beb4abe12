#include "widgets/PrintProgressWindow.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>

#include "widgets/ErrorGuard.h"

namespace zeplo {

PrintProgressWindow::PrintProgressWindow(QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowStaysOnTopHint | Qt::WindowTitleHint
                          | Qt::WindowCloseButtonHint | Qt::CustomizeWindowHint)
{
    setObjectName(QStringLiteral("PrintProgress"));
    setWindowTitle(QStringLiteral("Printing progress"));
    setFixedSize(149, 97);

    ProgressBar1 = new QProgressBar(this);
    ProgressBar1->setObjectName(QStringLiteral("ProgressBar1"));
    ProgressBar1->setRange(0, 100);
    ProgressBar1->setValue(0);
    ProgressBar1->setTextVisible(false);
    ProgressBar1->setGeometry(16, 18, 114, 16);

    Label1 = new QLabel(this);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    Label1->setGeometry(0, 44, 145, 13);

    CancelButton = new QPushButton(QStringLiteral("Cancel"), this);
    CancelButton->setObjectName(QStringLiteral("CancelButton"));
    CancelButton->setGeometry(36, 60, 75, 25);
    connect(CancelButton, &QPushButton::clicked, this, guarded([this] { cancel(); }));

    if (const QScreen *screen = QGuiApplication::primaryScreen()) {
        QRect frame(QPoint(0, 0), size());
        frame.moveCenter(screen->availableGeometry().center());
        move(frame.topLeft());
    }
}

void PrintProgressWindow::setProgress(int percent)
{
    if (percent < 0 || percent > 100 || percent % 5 != 0)
        return;
    ProgressBar1->setValue(percent);
    Label1->setText(QStringLiteral("%1%  Completed").arg(percent));
    QCoreApplication::processEvents();
}

void PrintProgressWindow::cancel()
{
    if (m_cancelled)
        return;
    m_cancelled = true;
    CancelButton->setEnabled(false);
    if (onCancel)
        onCancel();
}

void PrintProgressWindow::closeEvent(QCloseEvent *event)
{
    // Closing the window while it prints is a cancel; the owner hides it at
    // the end.
    runGuarded([this] { cancel(); });
    event->ignore();
}

void PrintProgressWindow::reject()
{
    runGuarded([this] { cancel(); });
}

} // namespace zeplo
