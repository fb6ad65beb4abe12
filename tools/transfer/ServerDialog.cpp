#include "ServerDialog.h"

#include <QDialogButtonBox>
#include <QFormLayout>
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

} // namespace

ServerDialog::ServerDialog(QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("ServerDialog"));
    setWindowTitle(QStringLiteral("Přenést katalog na server"));
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
    layout->addLayout(form);

    toServer_ = new QRadioButton(QStringLiteral("Z tohoto katalogu na server"), this);
    toServer_->setObjectName(QStringLiteral("toServerButton"));
    toServer_->setChecked(true);
    fromServer_ = new QRadioButton(QStringLiteral("Ze serveru do tohoto katalogu"), this);
    fromServer_->setObjectName(QStringLiteral("fromServerButton"));
    layout->addWidget(toServer_);
    layout->addWidget(fromServer_);
    auto *note = new QLabel(QStringLiteral("Katalog se přenese jen do nového nebo prázdného katalogu, "
                                           "celý, nebo vůbec. Heslo se nikam neukládá."),
                            this);
    note->setWordWrap(true);
    layout->addWidget(note);

    auto *buttons = new QDialogButtonBox(this);
    QPushButton *copy = buttons->addButton(QStringLiteral("Přenést"), QDialogButtonBox::AcceptRole);
    copy->setObjectName(QStringLiteral("copyButton"));
    copy->setDefault(true);
    buttons->addButton(QStringLiteral("Storno"), QDialogButtonBox::RejectRole);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
    for (QLineEdit *edit : {host_, database_})
        connect(edit, &QLineEdit::textChanged, this, &ServerDialog::check);
    check();
}

void ServerDialog::check()
{
    findChild<QPushButton *>(QStringLiteral("copyButton"))
        ->setEnabled(!host_->text().trimmed().isEmpty() && !database_->text().trimmed().isEmpty());
}

std::string ServerDialog::uri() const
{
    // A folder is a local server's socket: libpq takes it as the host
    // parameter, and a port after it (FOLDER:PORT) as the port parameter.
    QString host = host_->text().trimmed();
    const QString user = user_->text().trimmed();
    QString uri = QStringLiteral("postgresql://");
    if (!user.isEmpty())
        uri += encoded(user) + QLatin1Char('@');
    const bool socket = host.startsWith(QLatin1Char('/'));
    if (!socket)
        uri += host;
    uri += QLatin1Char('/') + encoded(database_->text().trimmed());
    if (socket) {
        const qsizetype colon = host.lastIndexOf(QLatin1Char(':'));
        const QString port = colon > host.lastIndexOf(QLatin1Char('/')) ? host.mid(colon + 1) : QString();
        if (!port.isEmpty())
            host.truncate(colon);
        uri += QStringLiteral("?host=") + encoded(host) + (port.isEmpty() ? QString() : QStringLiteral("&port=") + encoded(port));
    }
    return uri.toStdString();
}

std::string ServerDialog::password() const { return password_->text().toStdString(); }

bool ServerDialog::toServer() const { return toServer_->isChecked(); }

} // namespace zeplo::transfer
