// The transfer window's catalogue: its line at the top with "Změnit…", which
// chooses the catalogue this window and the desktop menu's Zeplo open (the
// user's setting), and the offer to open Zeplo on a server after a copy there.

#include <filesystem>

#include <QDir>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

#include "ServerDialog.h"
#include "TransferWindow.h"
#include "books/Commands.h"
#include "books/DesktopCatalogue.h"
#include "engine/PgConnection.h"
#include "TransferMessages.h"
#include "widgets/ServerLogIn.h"

namespace zeplo::transfer {

namespace {

QAction *choice(QMenu *menu, const QString &caption, const char *name)
{
    QAction *action = menu->addAction(caption);
    action->setObjectName(QLatin1String(name));
    return action;
}

bool ask(QWidget *parent, const QString &question)
{
    QMessageBox box(QMessageBox::Question, QStringLiteral("Zeplo – převod knih"), question, QMessageBox::NoButton,
                    parent);
    QPushButton *yes = box.addButton(QStringLiteral("&Ano"), QMessageBox::YesRole);
    box.setDefaultButton(box.addButton(QStringLiteral("&Ne"), QMessageBox::NoRole));
    box.exec();
    return box.clickedButton() == yes;
}

} // namespace

std::string logInForTransfer(const std::string &uri, const std::string &given)
{
    const QString password = logInToServer(QString::fromStdString(uri), [&](const QString &asked) {
        PgSessionSettings settings;
        settings.applicationName = "zeplo-transfer";
        settings.password = asked.isEmpty() ? QString::fromStdString(given) : asked;
        PgConnection session(QString::fromStdString(uri), settings);
    });
    return password.isEmpty() ? given : password.toStdString();
}

void TransferWindow::addCatalogueLine(QVBoxLayout *layout)
{
    auto *line = new QHBoxLayout;
    catalogueLabel_ = new QLabel(QStringLiteral("Katalog: %1").arg(catalogueName_), this);
    catalogueLabel_->setObjectName(QStringLiteral("catalogueLabel"));
    catalogueLabel_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    catalogueLabel_->setWordWrap(true);
    QFont bold = catalogueLabel_->font();
    bold.setBold(true);
    catalogueLabel_->setFont(bold);
    line->addWidget(catalogueLabel_, 1);

    changeButton_ = new QPushButton(QStringLiteral("Změnit…"), this);
    changeButton_->setObjectName(QStringLiteral("changeCatalogueButton"));
    auto *menu = new QMenu(changeButton_);
    menu->setObjectName(QStringLiteral("catalogueMenu"));
    connect(choice(menu, QStringLiteral("&Katalog ve složce…"), "chooseFolderAction"), &QAction::triggered, this,
            showingFailure(this, [this] { askForFolder(false); }));
    connect(choice(menu, QStringLiteral("&Nový prázdný katalog ve složce…"), "newFolderAction"), &QAction::triggered,
            this, showingFailure(this, [this] { askForFolder(true); }));
    connect(choice(menu, QStringLiteral("Katalog na &serveru…"), "chooseServerAction"), &QAction::triggered, this,
            showingFailure(this, [this] { askForCatalogueServer(); }));
    changeButton_->setMenu(menu);
    line->addWidget(changeButton_, 0, Qt::AlignTop);
    layout->addLayout(line);

    openOnServerButton_ = new QPushButton(QStringLiteral("Otevírat Zeplo na tomto serveru"), this);
    openOnServerButton_->setObjectName(QStringLiteral("openOnServerButton"));
    openOnServerButton_->setVisible(false);
    connect(openOnServerButton_, &QPushButton::clicked, this, showingFailure(this, [this] { openOnServer(); }));
}

void TransferWindow::askForFolder(bool makeNew)
{
    const QString folder = QFileDialog::getExistingDirectory(
        this, makeNew ? QStringLiteral("Složka pro nový katalog") : QStringLiteral("Složka s katalogem"),
        QDir::homePath());
    if (!folder.isEmpty())
        chooseFolder(folder, makeNew);
}

void TransferWindow::chooseFolder(const QString &folder, bool makeNew)
{
    const std::string where = QDir(folder).absolutePath().toStdString();
    const std::unique_ptr<tool::CatalogueStore> store = tool::openCatalogue(where);
    if (makeNew) {
        if (store->exists())
            tool::fail("Ve složce " + where + " už katalog je. Zvolte ho jako katalog ve složce, nebo vyberte "
                       "jinou složku.");
        tool::createCatalogue(*store);
    } else if (!store->exists()) {
        tool::fail("Ve složce " + where + " žádný katalog (soubor zeplo.db) není.");
    }
    useCatalogue(where, {});
}

void TransferWindow::askForCatalogueServer()
{
    ServerDialog dialog(this, ServerDialog::Purpose::Choose);
    if (dialog.exec() != QDialog::Accepted)
        return;
    try {
        chooseServer(dialog.uri(), logInForTransfer(dialog.uri(), dialog.password()));
    } catch (const LogInCancelled &) {
        // Zrušit in the password window: the catalogue stays as it was.
    }
}

void TransferWindow::chooseServer(const std::string &uri, const std::string &password)
{
    const std::unique_ptr<tool::CatalogueStore> store = tool::openProgramCatalogue(uri, password);
    if (!store->exists()) {
        if (!ask(this, QStringLiteral("Na serveru %1 zatím katalog není. Založit tam nový, prázdný?\n"
                                      "(Stávající katalog tam přenesete tlačítkem "
                                      "„Přenést katalog na server…“.)")
                           .arg(QString::fromStdString(store->name()))))
            return;
        tool::createCatalogue(*store);
    }
    useCatalogue(uri, password);
}

void TransferWindow::openOnServer()
{
    useCatalogue(copiedServer_, copiedPassword_);
    openOnServerButton_->setVisible(false);
}

void TransferWindow::useCatalogue(const std::string &where, const std::string &password)
{
    std::unique_ptr<tool::CatalogueStore> store = tool::openProgramCatalogue(where, password);
    tool::setDesktopCatalogue(where);
    catalogue_ = std::move(store);
    catalogueName_ = QString::fromStdString(catalogue_->name());
    catalogueLabel_->setText(QStringLiteral("Katalog: %1").arg(catalogueName_));
    statusLabel_->setText(QStringLiteral("Zeplo se z nabídky bude otevírat na tomto katalogu."));
}

void TransferWindow::offerServer(bool copied)
{
    openOnServerButton_->setVisible(copied && !copiedServer_.empty());
}

} // namespace zeplo::transfer
