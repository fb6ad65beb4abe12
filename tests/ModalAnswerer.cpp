#include "ModalAnswerer.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QMessageBox>
#include <QPushButton>


ModalAnswerer::ModalAnswerer(QStringList answers, bool leaveOthers)
    : answers_(std::move(answers)), leaveOthers_(leaveOthers)
{
    connect(&timer_, &QTimer::timeout, this, &ModalAnswerer::poll);
    timer_.start(10);
}

ModalAnswerer::~ModalAnswerer() = default;

void ModalAnswerer::poll()
{
    QWidget *modal = QApplication::activeModalWidget();
    if (!modal || modal == last_ || !modal->isVisible())
        return;
    if (auto *box = qobject_cast<QMessageBox *>(modal)) {
        last_ = modal;
        titles << box->windowTitle();
        texts << box->text();
        QStringList shown;
        for (QAbstractButton *b : box->buttons())
            shown << b->text();
        buttons << shown.join(QLatin1Char('|'));
        QAbstractButton *press = box->defaultButton();
        if (!answers_.isEmpty()) {
            const QString answer = answers_.takeFirst();
            for (QAbstractButton *b : box->buttons())
                if (b->text() == answer)
                    press = b;
        }
        if (!press && !box->buttons().isEmpty())
            press = box->buttons().first();
        if (press)
            press->click();
        else
            box->done(0);
        last_ = nullptr;
    } else if (auto *dialog = qobject_cast<QDialog *>(modal); dialog && !leaveOthers_) {
        titles << dialog->windowTitle();
        texts << QString();
        dialog->done(0);
    }
}
