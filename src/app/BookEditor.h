#pragma once

#include <QDialog>

class QComboBox;
class QLabel;
class QPushButton;

namespace zeplo {
class FieldCheckBox;
class FieldEdit;
class FieldMemo;
class DataSource;
class ResultSet;

// The record editor: one book added or changed, its controls bound to the
// data source it is given. It is closed only by its two buttons.
class BookEditor : public QDialog {
    Q_OBJECT
public:
    // Changing the current book, or appending a new one.
    enum class Mode { Edit, New };

    // Works on the result set behind `source`; `parent` is the window it
    // stands over.
    BookEditor(Mode mode, DataSource *source, QWidget *parent = nullptr);

    Mode mode() const { return mode_; }

    void startEditing();
    void takeChosenGenre();
    void confirm();
    void discard();

signals:
    // A book was stored or the list was read again: the count may differ.
    void recordsChanged();

public slots:
    void reject() override;   // Esc does nothing: neither button answers it

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    void finish();
    ResultSet *books() const;

    QLabel *authorLabel_;
    FieldEdit *authorEdit_;
    QLabel *titleLabel_;
    FieldEdit *titleEdit_;
    QLabel *genreLabel_;
    FieldEdit *genreEdit_;
    QComboBox *genreBox_;
    QLabel *yearLabel_;
    FieldEdit *yearEdit_;
    FieldCheckBox *ownedCheck_;
    FieldCheckBox *readCheck_;
    QLabel *descriptionLabel_;
    FieldMemo *descriptionMemo_;
    QLabel *lentLabel_;
    FieldMemo *lentMemo_;
    QPushButton *cancelButton_;
    QPushButton *okButton_;

    Mode mode_;
    DataSource *source_;
    bool activated_ = false;
    bool closing_ = false;
};

} // namespace zeplo
