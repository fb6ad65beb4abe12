#pragma once

#include <filesystem>
#include <memory>

#include <QDialog>

#include "books/files/BookFile.h"

class QComboBox;
class QDialogButtonBox;
class QLabel;
class QTableWidget;

namespace zeplo::transfer {

// Shows what an import of a file would store before anything is stored: how
// the file is read (the encoding and separator of a CSV file, which the user
// may change, or a workbook's first sheet), each file column with the catalogue
// column it goes to ("nepoužít" for none), which the user may change, and the
// first rows as they will be stored. Accepted, it hands over the file with
// the mapping chosen.
class ImportDialog : public QDialog {
    Q_OBJECT
public:
    // A workbook that cannot be read fails here; a CSV file that cannot be
    // read as found shows why, and may be read otherwise.
    explicit ImportDialog(const std::filesystem::path &file, QWidget *parent = nullptr);
    ~ImportDialog() override;

    std::unique_ptr<tool::BookFile> takeFile() { return std::move(file_); }

    static constexpr int kPreviewRows = 20;

private:
    void open(const tool::ReadOptions &options);
    void readAnotherWay();
    void fillMapping();
    void mappingChanged();
    void showPreview();
    void showProblem(const QString &problem);

    std::filesystem::path path_;
    std::unique_ptr<tool::BookFile> file_;
    QLabel *formatLabel_;
    QComboBox *encodingBox_ = nullptr;
    QComboBox *separatorBox_ = nullptr;
    QTableWidget *mappingTable_;
    QTableWidget *previewTable_;
    QLabel *problemLabel_;
    QDialogButtonBox *buttons_;
};

} // namespace zeplo::transfer
