#include "TransferWindow.h"

#include <filesystem>
#include <random>

#include <QCloseEvent>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QShortcut>
#include <QVBoxLayout>

#include "ImportDialog.h"
#include "ServerDialog.h"
#include "TransferMessages.h"
#include "books/Commands.h"
#include "engine/Error.h"
#include "engine/ServerUri.h"
#include "widgets/ServerLogIn.h"

namespace zeplo::transfer {

namespace {

QString text(const std::string &s) { return QString::fromStdString(s); }
std::string path(const QString &s) { return QDir::toNativeSeparators(s).toStdString(); }

QString knih(qulonglong n)
{
    return QString::number(n) + (n == 1 ? QStringLiteral(" kniha") : n >= 2 && n <= 4 ? QStringLiteral(" knihy")
                                                                                     : QStringLiteral(" knih"));
}

const QString kFileFilters = QStringLiteral("Tabulky (*.csv *.ods *.xlsx);;Všechny soubory (*)");

// Asks the program's own Czech question; true for "Ano".
bool ask(QWidget *parent, const QString &question)
{
    QMessageBox box(QMessageBox::Question, windowName(), question, QMessageBox::NoButton, parent);
    QPushButton *yes = box.addButton(QStringLiteral("&Ano"), QMessageBox::YesRole);
    QPushButton *no = box.addButton(QStringLiteral("&Ne"), QMessageBox::NoRole);
    box.setDefaultButton(no);
    box.setEscapeButton(no);
    box.exec();
    return box.clickedButton() == yes;
}

// The work's failures as the window tells them: said here, on the work's
// thread, while what failed is still known by its kind.
BackgroundWork::Job inCzech(BackgroundWork::Job job)
{
    return [job = std::move(job)](tool::Progress &progress) {
        try {
            return job(progress);
        } catch (const tool::Cancelled &) {
            throw;
        } catch (const std::exception &e) {
            throw Error(failureText(e));
        }
    };
}

QPushButton *commandButton(const QString &caption, const char *name, QWidget *parent)
{
    auto *button = new QPushButton(caption, parent);
    button->setObjectName(QLatin1String(name));
    button->setMinimumHeight(36);
    return button;
}

} // namespace

QString loadedSentence(qulonglong count)
{
    const QString verb = count == 1 ? QStringLiteral("Načtena") : count >= 2 && count <= 4 ? QStringLiteral("Načteny")
                                                                                         : QStringLiteral("Načteno");
    return verb + QLatin1Char(' ') + knih(count) + QLatin1Char('.');
}

TransferWindow::TransferWindow(const QString &catalogue, QWidget *parent, const std::string &password)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("TransferWindow"));
    setWindowTitle(windowName());
    catalogue_ = tool::openProgramCatalogue(catalogue.toStdString(), password);
    catalogueName_ = text(catalogue_->name());

    auto *layout = new QVBoxLayout(this);
    addCatalogueLine(layout);

    auto *commands = new QGridLayout;
    importButton_ = commandButton(QStringLiteral("Načíst knihy ze souboru…"), "importButton", this);
    exportButton_ = commandButton(QStringLiteral("Uložit knihy do souboru…"), "exportButton", this);
    serverButton_ = commandButton(QStringLiteral("Přenést katalog na server…"), "serverButton", this);
    const QString notes[] = {
        QStringLiteral("Přidá do katalogu knihy z tabulky (CSV, .ods, .xlsx): všechny, nebo žádnou."),
        QStringLiteral("Uloží všechny knihy do nové tabulky (CSV pro tabulkové programy, .ods, .xlsx)."),
        QStringLiteral("Zkopíruje katalog na server PostgreSQL, nebo ze serveru sem.")};
    int row = 0;
    for (QPushButton *button : {importButton_, exportButton_, serverButton_}) {
        commands->addWidget(button, row, 0);
        auto *note = new QLabel(notes[row], this);
        note->setWordWrap(true);
        commands->addWidget(note, row++, 1);
    }
    commands->setColumnStretch(1, 1);
    layout->addLayout(commands);
    layout->addStretch(1);

    statusLabel_ = new QLabel(this);
    statusLabel_->setObjectName(QStringLiteral("statusLabel"));
    statusLabel_->setWordWrap(true);
    statusLabel_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(statusLabel_);
    layout->addWidget(openOnServerButton_, 0, Qt::AlignLeft);
    auto *progress = new QHBoxLayout;
    progressBar_ = new QProgressBar(this);
    progressBar_->setObjectName(QStringLiteral("progressBar"));
    cancelButton_ = new QPushButton(QStringLiteral("Zrušit"), this);
    cancelButton_->setObjectName(QStringLiteral("cancelButton"));
    progress->addWidget(progressBar_, 1);
    progress->addWidget(cancelButton_);
    layout->addLayout(progress);
    progressBar_->setVisible(false);
    cancelButton_->setVisible(false);

    connect(importButton_, &QPushButton::clicked, this, showingFailure(this, [this] { chooseImportFile(); }));
    connect(exportButton_, &QPushButton::clicked, this, showingFailure(this, [this] { chooseExportFile(); }));
    connect(serverButton_, &QPushButton::clicked, this, showingFailure(this, [this] { askForServer(); }));
    connect(cancelButton_, &QPushButton::clicked, this, [this] {
        work_.cancel();
        cancelButton_->setEnabled(false);
        statusLabel_->setText(QStringLiteral("Ruší se…"));
    });
    // Esc closes the window, as it closes the program's main window.
    connect(new QShortcut(QKeySequence(Qt::Key_Escape), this), &QShortcut::activated, this, &QWidget::close);
    connect(&work_, &BackgroundWork::progressed, this, &TransferWindow::showProgress);
    connect(&work_, &BackgroundWork::finished, this, &TransferWindow::ended);
    resize(640, 300);
}

TransferWindow::~TransferWindow() = default;

void TransferWindow::chooseImportFile()
{
    const QString file = QFileDialog::getOpenFileName(this, QStringLiteral("Načíst knihy ze souboru"),
                                                      QDir::homePath(), kFileFilters);
    if (!file.isEmpty())
        importFile(file);
}

void TransferWindow::importFile(const QString &file)
{
    ImportDialog dialog(path(file), this);
    if (dialog.exec() != QDialog::Accepted)
        return;
    std::shared_ptr<tool::BookFile> chosen = dialog.takeFile();
    run(QStringLiteral("Načítají se knihy ze souboru %1…").arg(QDir::toNativeSeparators(file)),
        [this, chosen](tool::Progress &progress) {
            return loadedSentence(tool::importBooks(*catalogue_, *chosen, progress));
        });
}

void TransferWindow::chooseExportFile()
{
    QFileDialog dialog(this, QStringLiteral("Uložit knihy do souboru"), QDir::homePath());
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setNameFilters({QStringLiteral("Tabulka CSV pro tabulkové programy (*.csv)"),
                           QStringLiteral("Sešit OpenDocument (*.ods)"), QStringLiteral("Sešit Excel (*.xlsx)")});
    // Asked once, in the program's words, by exportFile().
    dialog.setOption(QFileDialog::DontConfirmOverwrite, true);
    connect(&dialog, &QFileDialog::filterSelected, &dialog, [&dialog](const QString &filter) {
        dialog.setDefaultSuffix(filter.section(QLatin1Char('.'), -1).chopped(1));
    });
    dialog.setDefaultSuffix(QStringLiteral("csv"));
    if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty())
        exportFile(dialog.selectedFiles().constFirst());
}

void TransferWindow::exportFile(const QString &file)
{
    const QFileInfo target(file);
    if (target.exists()
        && !ask(this, QStringLiteral("Soubor %1 už existuje. Chcete ho nahradit?").arg(QDir::toNativeSeparators(file))))
        return;
    // Written beside the file under another name and put in its place when
    // complete: a failed or cancelled export leaves the old file as it was.
    const std::filesystem::path finalPath = path(target.absoluteFilePath());
    std::filesystem::path aside = finalPath;
    aside.replace_filename("." + finalPath.stem().string() + ".zeplo-" + std::to_string(std::random_device()())
                           + finalPath.extension().string());
    run(QStringLiteral("Ukládají se knihy do souboru %1…").arg(QDir::toNativeSeparators(file)),
        [this, finalPath, aside](tool::Progress &progress) {
            const std::uint64_t count = tool::exportBooks(*catalogue_, aside, true, progress);
            std::error_code ec;
            std::filesystem::rename(aside, finalPath, ec);
            if (ec) {
                std::filesystem::remove(aside);
                tool::fail("nelze zapsat " + finalPath.string() + ": " + ec.message());
            }
            return QStringLiteral("Uloženo %1 do souboru %2.").arg(knih(count), text(finalPath.string()));
        });
}

void TransferWindow::askForServer()
{
    ServerDialog dialog(this);
    if (dialog.exec() != QDialog::Accepted)
        return;
    try {
        copyWithServer(dialog.uri(), logInForTransfer(dialog.uri(), dialog.password()), dialog.toServer());
    } catch (const LogInCancelled &) {
        // Zrušit in the password window: nothing is copied.
    }
}

void TransferWindow::copyWithServer(const std::string &uri, const std::string &password, bool toServer)
{
    std::shared_ptr<tool::CatalogueStore> server = tool::openProgramCatalogue(uri, password);
    const QString shown = text(withoutPassword(uri));
    run(toServer ? QStringLiteral("Katalog se přenáší na server %1…").arg(shown)
                 : QStringLiteral("Katalog se přenáší ze serveru %1…").arg(shown),
        [this, server, shown, toServer](tool::Progress &progress) {
            if (!toServer)
                return QStringLiteral("Ze serveru přeneseno %1 do katalogu %2.")
                    .arg(knih(tool::copyBooks(*server, *catalogue_, progress)), catalogueName_);
            const std::uint64_t count = tool::copyBooks(*catalogue_, *server, progress);
            return QStringLiteral("Na server přeneseno %1. Zeplo se na něm bude otevírat z nabídky, když "
                                  "zvolíte „Otevírat Zeplo na tomto serveru“; z terminálu příkazem\n"
                                  "zeplo --catalogue '%2'")
                .arg(knih(count), shown);
        });
    if (toServer) {
        // Offered when the copy has ended well.
        copiedServer_ = uri;
        copiedPassword_ = password;
    }
}

void TransferWindow::run(const QString &what, BackgroundWork::Job job)
{
    for (QPushButton *button : {changeButton_, importButton_, exportButton_, serverButton_})
        button->setEnabled(false);
    openOnServerButton_->setVisible(false);
    copiedServer_.clear();
    copiedPassword_.clear();
    statusLabel_->setText(what);
    progressBar_->setRange(0, 0);
    progressBar_->setVisible(true);
    cancelButton_->setEnabled(true);
    cancelButton_->setVisible(true);
    setCursor(Qt::BusyCursor);
    work_.start(inCzech(std::move(job)));
}

void TransferWindow::showProgress(int stage, qulonglong done, qulonglong total)
{
    if (!work_.running())
        return;
    const auto kind = static_cast<tool::Stage>(stage);
    if (total == 0) {
        progressBar_->setRange(0, 0);
        return;
    }
    // Checking the file counts its bytes; the other stages count books.
    const int permille = static_cast<int>(done * 1000 / total);
    progressBar_->setRange(0, 1000);
    progressBar_->setValue(permille);
    progressBar_->setFormat(kind == tool::Stage::Checking
                                ? QStringLiteral("kontroluje se soubor: %p %")
                                : QStringLiteral("%1 z %2 knih").arg(done).arg(total));
}

void TransferWindow::ended(bool ok, bool cancelled, const QString &message)
{
    unsetCursor();
    progressBar_->setVisible(false);
    cancelButton_->setVisible(false);
    for (QPushButton *button : {changeButton_, importButton_, exportButton_, serverButton_})
        button->setEnabled(true);
    if (closeWhenEnded_) {
        emit workEnded();
        close();
        return;
    }
    offerServer(ok && !cancelled);
    if (ok) {
        statusLabel_->setText(message);
    } else if (cancelled) {
        statusLabel_->setText(QStringLiteral("Zrušeno. Katalog i soubory zůstaly, jak byly."));
    } else {
        statusLabel_->setText(QStringLiteral("Nepodařilo se. Katalog i soubory zůstaly, jak byly."));
        showFailure(this, message);
    }
    emit workEnded();
}

void TransferWindow::closeEvent(QCloseEvent *event)
{
    // Cancelled work rolls back before the window goes, nothing half-written
    // staying; meanwhile the window stays painted, and goes when it has ended.
    if (work_.running()) {
        work_.cancel();
        closeWhenEnded_ = true;
        event->ignore();
        return;
    }
    event->accept();
}

} // namespace zeplo::transfer
