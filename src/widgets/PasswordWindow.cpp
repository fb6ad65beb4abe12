#include "widgets/PasswordWindow.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace zeplo {

namespace {

QLabel *shown(const std::string &text, const char *name, QWidget *parent)
{
    auto *label = new QLabel(QString::fromStdString(text), parent);
    label->setObjectName(QLatin1String(name));
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    return label;
}

// A local server's socket folder is its address too; a port is said apart.
std::string serverText(const ServerAccount &account)
{
    return account.host + ", port " + account.port;
}

} // namespace

PasswordWindow::PasswordWindow(const ServerAccount &account, const QString &keyringProblem, QWidget *parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("PasswordWindow"));
    setWindowTitle(QStringLiteral("Heslo k serveru katalogu"));
    auto *layout = new QVBoxLayout(this);
    auto *intro = new QLabel(QStringLiteral("Server katalogu žádá heslo."), this);
    layout->addWidget(intro);

    auto *form = new QFormLayout;
    form->addRow(QStringLiteral("Server:"), shown(serverText(account), "serverLabel", this));
    form->addRow(QStringLiteral("Databáze:"), shown(account.database, "databaseLabel", this));
    form->addRow(QStringLiteral("Uživatel:"), shown(account.user, "userLabel", this));
    password_ = new QLineEdit(this);
    password_->setObjectName(QStringLiteral("passwordEdit"));
    password_->setEchoMode(QLineEdit::Password);
    form->addRow(QStringLiteral("Heslo:"), password_);
    layout->addLayout(form);

    problem_ = new QLabel(this);
    problem_->setObjectName(QStringLiteral("problemLabel"));
    problem_->setStyleSheet(QStringLiteral("color: #b00000"));
    problem_->setVisible(false);
    layout->addWidget(problem_);

    remember_ = new QCheckBox(QStringLiteral("Zapamatovat heslo"), this);
    remember_->setObjectName(QStringLiteral("rememberBox"));
    layout->addWidget(remember_);
    if (!keyringProblem.isEmpty()) {
        remember_->setEnabled(false);
        remember_->setToolTip(keyringProblem);
        auto *why = new QLabel(keyringProblem, this);
        why->setObjectName(QStringLiteral("keyringNote"));
        why->setWordWrap(true);
        layout->addWidget(why);
    }

    auto *buttons = new QDialogButtonBox(this);
    ok_ = buttons->addButton(QStringLiteral("OK"), QDialogButtonBox::AcceptRole);
    ok_->setObjectName(QStringLiteral("okButton"));
    ok_->setDefault(true);
    QPushButton *cancel = buttons->addButton(QStringLiteral("Zrušit"), QDialogButtonBox::RejectRole);
    cancel->setObjectName(QStringLiteral("cancelButton"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
    // An empty password is no answer: the server would only ask again.
    ok_->setEnabled(false);
    connect(password_, &QLineEdit::textChanged, this, [this](const QString &text) { ok_->setEnabled(!text.isEmpty()); });
    layout->setSizeConstraint(QLayout::SetFixedSize);
    password_->setFocus();
}

QString PasswordWindow::password() const { return password_->text(); }

bool PasswordWindow::remember() const { return remember_->isEnabled() && remember_->isChecked(); }

void PasswordWindow::setRemember(bool remember) { remember_->setChecked(remember && remember_->isEnabled()); }

void PasswordWindow::refused()
{
    problem_->setText(QStringLiteral("Heslo nebylo přijato."));
    problem_->setVisible(true);
    password_->clear();
    password_->setFocus();
}

} // namespace zeplo
