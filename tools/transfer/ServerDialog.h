#pragma once

#include <string>

#include <QDialog>

class QComboBox;
class QFormLayout;
class QLineEdit;
class QRadioButton;

namespace zeplo::transfer {

// Asks where on a PostgreSQL server the catalogue goes, or comes from: the
// server's address (a host name, host:port, or the folder of a local server's
// socket), its port, the database, the user and the password, the encryption
// (none, required, or verified against a certificate authority's file), and
// which way to copy; or, to choose the catalogue Zeplo opens, the server alone.
class ServerDialog : public QDialog {
    Q_OBJECT
public:
    enum class Purpose { Copy, Choose };
    explicit ServerDialog(QWidget *parent = nullptr, Purpose purpose = Purpose::Copy);

    // The server's connection URI, without the password.
    std::string uri() const;
    // The password, for the connection only.
    std::string password() const;
    bool toServer() const;

private:
    void check();
    void addConnectionRows(QFormLayout *form);
    void caFileChosen(const QString &file);
    bool overSocket() const;
    QString encryptionParameters() const;

    QLineEdit *host_;
    QLineEdit *port_;
    QComboBox *encryption_;
    QLineEdit *caFile_;
    QLineEdit *database_;
    QLineEdit *user_;
    QLineEdit *password_;
    QRadioButton *toServer_;
    QRadioButton *fromServer_;
};

} // namespace zeplo::transfer
