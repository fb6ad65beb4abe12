#pragma once

#include <QMainWindow>
#include <QString>

class QAction;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenuBar;
class QMenu;
class QPushButton;
namespace zeplo {

class FieldCheckBox;
class DataGrid;
class FieldMemo;
class BookListReport;
class DataSource;
class ResultSet;

// State shared by the main window's commands and the record editor for the
// whole run: the three clauses of the main query, the editor mode and whether
// the first activation has happened.
namespace Unit1 {
extern QString selectClause;
extern QString filterClause;
extern QString orderClause;
extern QString editorMode;
extern bool firstActivationDone;

extern const QString kBaseQuery;
extern const QString kCountQuery;

// An editable genre box: the genre list, empty, at most 10 typed characters.
void setUpGenreBox(QComboBox *box);
}

// The colour of an inactive caption's gradient, which the main window and its
// count panel are painted in.
QColor inactiveCaptionGradient();

class MainWindow : public QMainWindow {
    Q_OBJECT
public:
    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

    ResultSet *Query1;
    ResultSet *Query2;
    DataSource *DataSource1;

    DataGrid *DBGrid1;
    QLabel *Panel1;
    QLabel *Label1;
    FieldMemo *DBMemo1;
    QLabel *Label3;
    FieldMemo *DBMemo3;
    QPushButton *Button7;
    QPushButton *Button6;
    QPushButton *Button8;
    QPushButton *BitBtn1;
    FieldCheckBox *DBCheckBox2;
    FieldCheckBox *DBCheckBox1;
    QLabel *Label4;
    QLineEdit *Edit2;
    QPushButton *Button10;
    QLineEdit *Edit1;
    QPushButton *Button1;
    QComboBox *ComboBox1;
    QPushButton *Button11;
    QPushButton *Button13;
    QPushButton *Button9;
    QPushButton *Button14;
    QPushButton *Button15;
    QPushButton *Button16;
    QPushButton *Button17;
    QGroupBox *GroupBox1;
    QPushButton *Button5;
    QPushButton *Button2;
    QPushButton *Button3;
    QPushButton *Button12;
    QPushButton *Button4;

    QMenuBar *MainMenu1;
    QMenu *Program1;
    QAction *Tisk1;
    QAction *Zavrit1;
    QAction *About1;

    // The report holder; start-up hands it over once it exists.
    void setReport(BookListReport *report) { report_ = report; }

    // Handlers.
    void FormCreate();
    void FormActivate();
    void RefreshCount();
    void ComposeMainQuery();
    void Button1Click();
    void Button10Click();
    void Button11Click();
    void Button13Click();
    void Button14Click();
    void Button15Click();
    void Button16Click();
    void Button17Click();
    void Button9Click();
    void Button2Click();
    void Button3Click();
    void Button5Click();
    void Button12Click();
    void Button4Click();
    void Button8Click();
    void Button7Click();
    void Button6Click();
    void BitBtn1Click();
    void Tisk1Click();
    void Zavrit1Click();
    void About1Click();

protected:
    bool event(QEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    void createControls();
    void applyTabOrder();
    void connectHandlers();
    void setFilter(const QString &filter);
    void setOrder(const QString &order, bool recordButtonsEnabled);
    void openEditor(const QString &mode);

    BookListReport *report_ = nullptr;
    // Whether the window that had the focus before this one was a non-modal
    // window of this program (the report preview).
    bool cameFromPreview_ = false;
};

} // namespace zeplo
