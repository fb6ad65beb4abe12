#pragma once

#include <optional>

#include <QMainWindow>
#include <QString>

#include "app/BookEditor.h"
#include "widgets/WaitCursor.h"

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
class FreshRows;
class BookListReport;
class DataSource;
class ResultSet;

// The colour of an inactive caption's gradient, which the main window and its
// count panel are painted in.
QColor inactiveCaptionGradient();

class MainWindow : public QMainWindow {
    Q_OBJECT
public:
    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

    // The list the grid shows; the report walks it.
    ResultSet *books() const { return books_; }

    // The report holder; start-up hands it over once it exists. While it
    // walks the list, the window refuses whatever would move or change it.
    void setReport(BookListReport *report);

    // The filter and order clauses of the list as the last command set them.
    const QString &filter() const { return filter_; }
    const QString &order() const { return order_; }

    // Whether the first activation (the splash and the first count) has
    // happened; a window that needs no splash can say it has.
    bool firstActivationDone() const { return firstActivationDone_; }
    void skipSplash() { firstActivationDone_ = true; }

    // Commands, one per user action.
    void activated();
    void refreshCount();
    void searchByTitle();
    void searchByAuthor();
    void searchByGenre();
    void showLent();
    void showRead();
    void showUnread();
    void showOwned();
    void showNotOwned();
    void showAll();
    void sortByTitle();
    void sortByGenre();
    void sortByAuthor();
    void sortByYear();
    void clearSort();
    void deleteRecord();
    void addRecord();
    void editRecord();
    void closeProgram();
    void printList();
    void showAbout();

signals:
    // An action was refused because the report is walking the list.
    void actionRefused();

protected:
    bool event(QEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    void createControls();
    void applyTabOrder();
    void connectHandlers();
    void reopenList();
    void setFilter(const QString &filter);
    void setOrder(const QString &order, bool recordButtonsEnabled);
    void openEditor(BookEditor::Mode mode);
    // True, after the beep, while the report walks the list.
    bool refusedDuringWalk();
    bool isGridInput(QObject *watched, QEvent *event) const;

    ResultSet *books_;
    ResultSet *counter_;
    DataSource *source_;
    FreshRows *freshRows_;   // the rows on screen as stored, after others' changes

    DataGrid *grid_;
    QLabel *countPanel_;
    QLabel *descriptionLabel_;
    FieldMemo *descriptionMemo_;
    QLabel *lentLabel_;
    FieldMemo *lentMemo_;
    QPushButton *addButton_;
    QPushButton *editButton_;
    QPushButton *deleteButton_;
    QPushButton *quitButton_;
    FieldCheckBox *readCheck_;
    FieldCheckBox *ownedCheck_;
    QLabel *searchLabel_;
    QLineEdit *authorEdit_;
    QPushButton *authorSearchButton_;
    QLineEdit *titleEdit_;
    QPushButton *titleSearchButton_;
    QComboBox *genreBox_;
    QPushButton *genreSearchButton_;
    QPushButton *lentButton_;
    QPushButton *allButton_;
    QPushButton *readButton_;
    QPushButton *unreadButton_;
    QPushButton *ownedButton_;
    QPushButton *notOwnedButton_;
    QGroupBox *sortGroup_;
    QPushButton *authorSortButton_;
    QPushButton *titleSortButton_;
    QPushButton *genreSortButton_;
    QPushButton *yearSortButton_;
    QPushButton *noSortButton_;

    QMenuBar *menu_;
    QMenu *programMenu_;
    QAction *printAction_;
    QAction *closeAction_;
    QAction *aboutAction_;

    QString filter_;
    QString order_;
    bool firstActivationDone_ = false;

    BookListReport *report_ = nullptr;
    std::optional<WaitCursor> walkCursor_;   // while the report walks the list
    // Whether the window that had the focus before this one was the report preview.
    bool cameFromPreview_ = false;
};

} // namespace zeplo
