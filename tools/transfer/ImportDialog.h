#pragma once

#include <filesystem>
#include <memory>
#include <vector>

#include <QDialog>

#include "books/files/BookFile.h"

class QComboBox;
class QDialogButtonBox;
class QGridLayout;
class QLabel;
class QPushButton;
class QTableWidget;

namespace zeplo::transfer {

// Shows what an import of a file would store before anything is stored: how
// the file is read (the encoding and separator of a CSV file, which the user
// may change, or a workbook's first sheet), each file column with the catalogue
// column it goes to ("nepoužít" for none), which the user may change, and the
// first books as they will be stored, under the catalogue's Czech names.
// Accepted, it hands over the file with the mapping chosen; it cannot be
// accepted while the preview shows a book that would be refused.
//
// Each file column is a drop-down of its own, named after the column, so that
// a screen reader reads every row of the mapping: a label and a drop-down
// whose text is the choice, in a list that scrolls only downwards.
class ImportDialog : public QDialog {
    Q_OBJECT
public:
    // A workbook that cannot be read fails here; a CSV file that cannot be
    // read as found shows why, and may be read otherwise.
    explicit ImportDialog(const std::filesystem::path &file, QWidget *parent = nullptr);
    ~ImportDialog() override;

    std::unique_ptr<tool::BookFile> takeFile() { return std::move(file_); }

    static constexpr int kPreviewRows = 20;
    // The file columns the mapping lists; a file of more keeps the rest as
    // their names say (and says so).
    static constexpr int kMostListedColumns = 200;

private:
    void readFile(const tool::ReadOptions &options);
    void readAnotherWay();
    void fillMapping();
    void mappingChanged(int fileColumn);
    void showPreview();
    void showProblem(const QString &problem);

    std::filesystem::path path_;
    std::unique_ptr<tool::BookFile> file_;
    QLabel *formatLabel_;
    QComboBox *encodingBox_ = nullptr;
    QComboBox *separatorBox_ = nullptr;
    QWidget *mapping_;
    QGridLayout *mappingGrid_;
    std::vector<QComboBox *> targets_;
    QLabel *unlistedLabel_;
    QTableWidget *previewTable_;
    QLabel *problemLabel_;
    QPushButton *importButton_;
};

} // namespace zeplo::transfer
