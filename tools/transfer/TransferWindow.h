#pragma once

#include <memory>
#include <string>

#include <QWidget>

#include "BackgroundWork.h"

class QLabel;
class QProgressBar;
class QPushButton;

namespace zeplo::tool {
class CatalogueStore;
}

namespace zeplo::transfer {

// The window of "Zeplo – převod knih": loads books into the catalogue from a
// spreadsheet file, saves them to one, and copies the catalogue to a server
// and back, each through the same commands as the catalogue tool. The work
// runs off the interface thread with a progress bar and a cancel button;
// whatever fails or is cancelled leaves the catalogue as it was.
class TransferWindow : public QWidget {
    Q_OBJECT
public:
    // `catalogue`: a catalogue file (a folder stands for its zeplo.db) or a server URI.
    explicit TransferWindow(const QString &catalogue, QWidget *parent = nullptr);
    ~TransferWindow() override;

    // The three commands, each after its file dialog; the tests call them with the file.
    void importFile(const QString &path);
    void exportFile(const QString &path);
    void copyWithServer(const std::string &uri, const std::string &password, bool toServer);

    bool working() const { return work_.running(); }
    BackgroundWork &work() { return work_; }

signals:
    // A command has ended: done, failed (its message shown) or cancelled.
    void workEnded();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void chooseImportFile();
    void chooseExportFile();
    void askForServer();
    void run(const QString &what, BackgroundWork::Job job);
    void showProgress(int stage, qulonglong done, qulonglong total);
    void ended(bool ok, bool cancelled, const QString &text);

    std::unique_ptr<tool::CatalogueStore> catalogue_;
    QString catalogueName_;
    QLabel *catalogueLabel_;
    QPushButton *importButton_;
    QPushButton *exportButton_;
    QPushButton *serverButton_;
    QLabel *statusLabel_;
    QProgressBar *progressBar_;
    QPushButton *cancelButton_;
    BackgroundWork work_;
    bool closeWhenEnded_ = false;   // closed while work ran: goes once it has ended
};

// "Načteno 812 knih.", "Načtena 1 kniha.", "Načteny 3 knihy."
QString loadedSentence(qulonglong count);

} // namespace zeplo::transfer
