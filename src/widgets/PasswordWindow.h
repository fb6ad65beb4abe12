#pragma once

#include <QDialog>

#include "engine/ServerUri.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace zeplo {

// The small window that asks for the password of the catalogue's server
// before anything else of the program is shown: which server, database and
// user it is for, the password, "Zapamatovat heslo", OK and Zrušit. Where no
// keyring can keep the password, the box is disabled and says why.
class PasswordWindow : public QDialog {
    Q_OBJECT
public:
    // `keyringProblem`: why no password can be remembered; empty when it can.
    PasswordWindow(const ServerAccount &account, const QString &keyringProblem, QWidget *parent = nullptr);

    QString password() const;
    bool remember() const;
    void setRemember(bool remember);
    // The server refused the password: says so, and empties the field for the next one.
    void refused();

private:
    QLineEdit *password_;
    QCheckBox *remember_;
    QLabel *problem_;
    QPushButton *ok_;
};

} // namespace zeplo
