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

    progressBar_ = new QProgressBar(this);
    progressBar_->setObjectName(QStringLiteral("ProgressBar1"));
    progressBar_->setRange(0, 100);
    progressBar_->setValue(0);
    progressBar_->setTextVisible(false);
    progressBar_->setGeometry(16, 18, 114, 16);

    percentLabel_ = new QLabel(this);
    percentLabel_->setObjectName(QStringLiteral("Label1"));
    percentLabel_->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    percentLabel_->setGeometry(0, 44, 145, 13);

    cancelButton_ = new QPushButton(QStringLiteral("Cancel"), this);
    cancelButton_->setObjectName(QStringLiteral("CancelButton"));
    cancelButton_->setGeometry(36, 60, 75, 25);
    connect(cancelButton_, &QPushButton::clicked, this, guarded([this] { cancel(); }));

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
    progressBar_->setValue(percent);
    percentLabel_->setText(QStringLiteral("%1%  Completed").arg(percent));
    QCoreApplication::processEvents();
}

void PrintProgressWindow::cancel()
{
    if (cancelled_)
        return;
    cancelled_ = true;
    cancelButton_->setEnabled(false);
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
