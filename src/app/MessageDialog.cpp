#include "app/MessageDialog.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QPushButton>

namespace zeplo {

MessageAnswer showMessage(const QString &text, MessageKind kind, MessageButtons buttons)
{
    QMessageBox box(QApplication::activeWindow());
    box.setObjectName(QStringLiteral("MessageDialog"));
    box.setText(text);
    switch (kind) {
    case MessageKind::Warning:
        box.setWindowTitle(QStringLiteral("Warning"));
        box.setIcon(QMessageBox::Warning);
        break;
    case MessageKind::Error:
        box.setWindowTitle(QStringLiteral("Error"));
        box.setIcon(QMessageBox::Critical);
        break;
    case MessageKind::Information:
        box.setWindowTitle(QStringLiteral("Information"));
        box.setIcon(QMessageBox::Information);
        break;
    case MessageKind::Confirmation:
        box.setWindowTitle(QStringLiteral("Confirm"));
        box.setIcon(QMessageBox::Question);
        break;
    }
    QPushButton *yes = nullptr, *no = nullptr, *ok = nullptr;
    if (buttons == MessageButtons::YesNo) {
        yes = box.addButton(QStringLiteral("&Yes"), QMessageBox::YesRole);
        no = box.addButton(QStringLiteral("&No"), QMessageBox::NoRole);
        box.setDefaultButton(yes);
        box.setEscapeButton(no);
    } else {
        ok = box.addButton(QStringLiteral("OK"), QMessageBox::AcceptRole);
        box.setDefaultButton(ok);
        box.setEscapeButton(ok);
    }
    box.exec();
    QAbstractButton *clicked = box.clickedButton();
    if (clicked && clicked == yes)
        return MessageAnswer::Yes;
    if (clicked && clicked == no)
        return MessageAnswer::No;
    if (clicked && clicked == ok)
        return MessageAnswer::Ok;
    return MessageAnswer::None;
}

} // namespace zeplo
