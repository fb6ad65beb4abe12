#pragma once

#include <QDialog>

class QComboBox;
class QLabel;
class QPushButton;

namespace zeplo {
class FieldCheckBox;
class FieldEdit;
class FieldMemo;
class MainWindow;

// The record editor: one book added or changed, its controls bound to the
// main window's data source. It is closed only by its two buttons.
class BookEditor : public QDialog {
    Q_OBJECT
public:
    explicit BookEditor(MainWindow *mainWindow);

    QLabel *Label3;
    FieldEdit *DBEdit3;
    QLabel *Label1;
    FieldEdit *DBEdit1;
    QLabel *Label2;
    FieldEdit *DBEdit2;
    QComboBox *ComboBox1;
    QLabel *Label6;
    FieldEdit *DBEdit5;
    FieldCheckBox *DBCheckBox1;
    FieldCheckBox *DBCheckBox2;
    QLabel *Label8;
    FieldMemo *DBMemo1;
    QLabel *Label11;
    FieldMemo *DBMemo3;
    QPushButton *BitBtn1;
    QPushButton *BitBtn2;

    void FormActivate();
    void ComboBox1Change();
    void BitBtn2Click();
    void BitBtn1Click();

public slots:
    void reject() override;   // Esc does nothing: neither button answers it

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    void finish();
    MainWindow *main_;
    bool activated_ = false;
    bool closing_ = false;
};

} // namespace zeplo
