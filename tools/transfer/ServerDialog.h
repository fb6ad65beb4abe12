#pragma once

#include <string>

#include <QDialog>

class QLineEdit;
class QRadioButton;

namespace zeplo::transfer {

// Asks where on a PostgreSQL server the catalogue goes, or comes from: the
// server's address (a host name, host:port, or the folder of a local server's
// socket), the database, the user and the password, and which way to copy.
class ServerDialog : public QDialog {
    Q_OBJECT
public:
    explicit ServerDialog(QWidget *parent = nullptr);

    // The server's connection URI, without the password.
    std::string uri() const;
    // The password, for the connection only.
    std::string password() const;
    bool toServer() const;

private:
    void check();

    QLineEdit *host_;
    QLineEdit *database_;
    QLineEdit *user_;
    QLineEdit *password_;
    QRadioButton *toServer_;
    QRadioButton *fromServer_;
};

} // namespace zeplo::transfer
