#pragma once

#include <QDialog>

class QComboBox;
class QLabel;
class QPushButton;
class TDBCheckBox;
class TDBEdit;
class TDBMemo;
class TForm1;

// The record editor: one book added or changed, its controls bound to the
// main window's data source. It is closed only by its two buttons.
class TForm5 : public QDialog {
    Q_OBJECT
public:
    explicit TForm5(TForm1 *mainWindow);

    QLabel *Label3;
    TDBEdit *DBEdit3;
    QLabel *Label1;
    TDBEdit *DBEdit1;
    QLabel *Label2;
    TDBEdit *DBEdit2;
    QComboBox *ComboBox1;
    QLabel *Label6;
    TDBEdit *DBEdit5;
    TDBCheckBox *DBCheckBox1;
    TDBCheckBox *DBCheckBox2;
    QLabel *Label8;
    TDBMemo *DBMemo1;
    QLabel *Label11;
    TDBMemo *DBMemo3;
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
    TForm1 *main_;
    bool activated_ = false;
    bool closing_ = false;
};
