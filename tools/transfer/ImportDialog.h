#pragma once

#include <memory>

#include <QDialog>

#include "books/files/BookFile.h"

class QComboBox;
class QDialogButtonBox;
class QLabel;
class QTableWidget;

namespace zeplo::transfer {

// Shows what an import of a file would store before anything is stored: how
// the file is read (its encoding and separator, or its sheet), each file
// column with the catalogue column it goes to ("nepoužít" for none), which the
// user may change, and the first rows as they will be stored. Accepted, it
// hands over the file with the mapping chosen.
class ImportDialog : public QDialog {
    Q_OBJECT
public:
    ImportDialog(std::unique_ptr<tool::BookFile> file, QWidget *parent = nullptr);
    ~ImportDialog() override;

    std::unique_ptr<tool::BookFile> takeFile() { return std::move(file_); }

    static constexpr int kPreviewRows = 20;

private:
    void mappingChanged();
    void showPreview();

    std::unique_ptr<tool::BookFile> file_;
    QLabel *fileLabel_;
    QLabel *formatLabel_;
    QTableWidget *mappingTable_;
    QTableWidget *previewTable_;
    QLabel *problemLabel_;
    QDialogButtonBox *buttons_;
};

} // namespace zeplo::transfer
