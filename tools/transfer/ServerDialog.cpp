#include "ServerDialog.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QUrl>
#include <QVBoxLayout>

namespace zeplo::transfer {

namespace {

QLineEdit *field(const char *name, QWidget *parent)
{
    auto *edit = new QLineEdit(parent);
    edit->setObjectName(QLatin1String(name));
    return edit;
}

QString encoded(const QString &part) { return QString::fromLatin1(QUrl::toPercentEncoding(part)); }

// The encryption box's choices, by libpq's sslmode.
enum Encryption { kNone, kRequired, kVerified };

} // namespace

ServerDialog::ServerDialog(QWidget *parent, Purpose purpose) : QDialog(parent)
{
    setObjectName(QStringLiteral("ServerDialog"));
    setWindowTitle(purpose == Purpose::Copy ? QStringLiteral("Přenést katalog na server")
                                            : QStringLiteral("Katalog na serveru"));
    auto *layout = new QVBoxLayout(this);
    auto *form = new QFormLayout;
    host_ = field("hostEdit", this);
    host_->setPlaceholderText(QStringLiteral("knihovna.local nebo knihovna.local:5432"));
    database_ = field("databaseEdit", this);
    user_ = field("userEdit", this);
    password_ = field("passwordEdit", this);
    password_->setEchoMode(QLineEdit::Password);
    form->addRow(QStringLiteral("Adresa serveru:"), host_);
    form->addRow(QStringLiteral("Databáze:"), database_);
    form->addRow(QStringLiteral("Uživatel:"), user_);
    form->addRow(QStringLiteral("Heslo:"), password_);
    addConnectionRows(form);
    layout->addLayout(form);

    toServer_ = new QRadioButton(QStringLiteral("Z tohoto katalogu na server"), this);
    toServer_->setObjectName(QStringLiteral("toServerButton"));
    toServer_->setChecked(true);
    fromServer_ = new QRadioButton(QStringLiteral("Ze serveru do tohoto katalogu"), this);
    fromServer_->setObjectName(QStringLiteral("fromServerButton"));
    layout->addWidget(toServer_);
    layout->addWidget(fromServer_);
    toServer_->setVisible(purpose == Purpose::Copy);
    fromServer_->setVisible(purpose == Purpose::Copy);
    auto *note = new QLabel(purpose == Purpose::Copy
                                ? QStringLiteral("Katalog se přenese jen do nového nebo prázdného katalogu, "
                                                 "celý, nebo vůbec. Heslo se nikam neukládá.")
                                : QStringLiteral("Zeplo se pak bude otevírat na katalogu tohoto serveru. Heslo "
                                                 "se do nastavení neukládá."),
                            this);
    note->setWordWrap(true);
    layout->addWidget(note);

    auto *buttons = new QDialogButtonBox(this);
    QPushButton *copy = buttons->addButton(purpose == Purpose::Copy ? QStringLiteral("Přenést")
                                                                    : QStringLiteral("Zvolit"),
                                           QDialogButtonBox::AcceptRole);
    copy->setObjectName(QStringLiteral("copyButton"));
    copy->setDefault(true);
    buttons->addButton(QStringLiteral("Storno"), QDialogButtonBox::RejectRole);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
    for (QLineEdit *edit : {host_, database_, caFile_})
        connect(edit, &QLineEdit::textChanged, this, &ServerDialog::check);
    connect(encryption_, &QComboBox::currentIndexChanged, this, &ServerDialog::check);
    connect(caFile_, &QLineEdit::textChanged, this, &ServerDialog::caFileChosen);
    check();
}

// The port, and how the connection is encrypted: none, required, or verified
// against the file of the certificate authority that signed the server's
// certificate (libpq's sslmode disable, require and verify-full).
void ServerDialog::addConnectionRows(QFormLayout *form)
{
    port_ = field("portEdit", this);
    port_->setPlaceholderText(QStringLiteral("5432"));
    form->insertRow(1, QStringLiteral("Port:"), port_);
    encryption_ = new QComboBox(this);
    encryption_->setObjectName(QStringLiteral("encryptionBox"));
    encryption_->addItems({QStringLiteral("Bez šifrování"), QStringLiteral("Šifrovat"),
                           QStringLiteral("Šifrovat a ověřit server certifikační autoritou")});
    form->addRow(QStringLiteral("Šifrování:"), encryption_);
    caFile_ = field("caFileEdit", this);
    caFile_->setPlaceholderText(QStringLiteral("soubor certifikační autority (.crt, .pem)"));
    auto *browse = new QPushButton(QStringLiteral("Vybrat…"), this);
    browse->setObjectName(QStringLiteral("caFileButton"));
    connect(browse, &QPushButton::clicked, this, [this] {
        const QString file = QFileDialog::getOpenFileName(this, QStringLiteral("Certifikační autorita serveru"),
                                                          QString(),
                                                          QStringLiteral("Certifikáty (*.crt *.pem);;Všechny soubory (*)"));
        if (!file.isEmpty())
            caFile_->setText(file);
    });
    auto *row = new QHBoxLayout;
    row->addWidget(caFile_, 1);
    row->addWidget(browse);
    form->addRow(QStringLiteral("Certifikační autorita:"), row);
}

void ServerDialog::caFileChosen(const QString &file)
{
    // A certificate authority given is one to verify the server against.
    if (!file.trimmed().isEmpty())
        encryption_->setCurrentIndex(kVerified);
}

bool ServerDialog::overSocket() const { return host_->text().trimmed().startsWith(QLatin1Char('/')); }

void ServerDialog::check()
{
    // A local server's socket is not encrypted: there is nothing to choose.
    encryption_->setEnabled(!overSocket());
    const bool verifiable = encryption_->currentIndex() != kVerified || !caFile_->text().trimmed().isEmpty();
    findChild<QPushButton *>(QStringLiteral("copyButton"))
        ->setEnabled(!host_->text().trimmed().isEmpty() && !database_->text().trimmed().isEmpty() && verifiable);
}

QString ServerDialog::encryptionParameters() const
{
    if (overSocket())
        return QString();
    switch (encryption_->currentIndex()) {
    case kRequired:
        return QStringLiteral("sslmode=require");
    case kVerified:
        return QStringLiteral("sslmode=verify-full&sslrootcert=") + encoded(caFile_->text().trimmed());
    default:
        return QStringLiteral("sslmode=disable");
    }
}

std::string ServerDialog::uri() const
{
    // A folder is a local server's socket: libpq takes it as the host
    // parameter, and a port after it (FOLDER:PORT) as the port parameter.
    QString host = host_->text().trimmed();
    const QString user = user_->text().trimmed();
    const QString port = port_->text().trimmed();
    QString uri = QStringLiteral("postgresql://");
    if (!user.isEmpty())
        uri += encoded(user) + QLatin1Char('@');
    const bool socket = overSocket();
    if (!socket) {
        // The port field wins over a port typed after the host.
        const qsizetype colon = host.lastIndexOf(QLatin1Char(':'));
        if (!port.isEmpty() && colon > host.lastIndexOf(QLatin1Char(']')))
            host.truncate(colon);
        uri += host + (port.isEmpty() ? QString() : QLatin1Char(':') + encoded(port));
    }
    uri += QLatin1Char('/') + encoded(database_->text().trimmed());
    QStringList parameters;
    if (socket) {
        const qsizetype colon = host.lastIndexOf(QLatin1Char(':'));
        QString socketPort = colon > host.lastIndexOf(QLatin1Char('/')) ? host.mid(colon + 1) : QString();
        if (!socketPort.isEmpty())
            host.truncate(colon);
        if (!port.isEmpty())
            socketPort = port;
        parameters << QStringLiteral("host=") + encoded(host);
        if (!socketPort.isEmpty())
            parameters << QStringLiteral("port=") + encoded(socketPort);
    }
    if (const QString encryption = encryptionParameters(); !encryption.isEmpty())
        parameters << encryption;
    if (!parameters.isEmpty())
        uri += QLatin1Char('?') + parameters.join(QLatin1Char('&'));
    return uri.toStdString();
}

std::string ServerDialog::password() const { return password_->text().toStdString(); }

bool ServerDialog::toServer() const { return toServer_->isChecked(); }

} // namespace zeplo::transfer
