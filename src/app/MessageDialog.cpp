#include "app/MessageDialog.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QPushButton>

namespace zeplo {

ModalResult messageDlg(const QString &text, MsgType type, int buttons)
{
    QMessageBox box(QApplication::activeWindow());
    box.setObjectName(QStringLiteral("MessageDialog"));
    box.setText(text);
    switch (type) {
    case MsgType::Warning:
        box.setWindowTitle(QStringLiteral("Warning"));
        box.setIcon(QMessageBox::Warning);
        break;
    case MsgType::Error:
        box.setWindowTitle(QStringLiteral("Error"));
        box.setIcon(QMessageBox::Critical);
        break;
    case MsgType::Information:
        box.setWindowTitle(QStringLiteral("Information"));
        box.setIcon(QMessageBox::Information);
        break;
    case MsgType::Confirmation:
        box.setWindowTitle(QStringLiteral("Confirm"));
        box.setIcon(QMessageBox::Question);
        break;
    }
    QPushButton *yes = nullptr, *no = nullptr, *ok = nullptr;
    if (buttons & mbYes)
        yes = box.addButton(QStringLiteral("&Yes"), QMessageBox::YesRole);
    if (buttons & mbNo)
        no = box.addButton(QStringLiteral("&No"), QMessageBox::NoRole);
    if (buttons & mbOK)
        ok = box.addButton(QStringLiteral("OK"), QMessageBox::AcceptRole);
    QPushButton *first = yes ? yes : (no ? no : ok);
    box.setDefaultButton(first);
    box.setEscapeButton(no ? no : (ok ? ok : first));
    box.exec();
    QAbstractButton *clicked = box.clickedButton();
    if (clicked && clicked == yes)
        return ModalResult::Yes;
    if (clicked && clicked == no)
        return ModalResult::No;
    if (clicked && clicked == ok)
        return ModalResult::Ok;
    return ModalResult::None;
}

} // namespace zeplo
