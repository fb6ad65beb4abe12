#pragma once

#include <QDialog>

class QLabel;
class QPushButton;

namespace zeplo {

// The About window: the program's name and version, its icon, and the
// maker's web and e-mail addresses.
class AboutWindow : public QDialog {
    Q_OBJECT

public:
    explicit AboutWindow(QWidget *parent = nullptr);

    void closeWindow();
    void openWebPage();
    void highlightLink();
    void dimLink();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    QLabel *nameLabel_;
    QLabel *picture_;
    QPushButton *okButton_;
    QLabel *webLink_;
    QLabel *mailLabel_;

    void setLinkColour(const QColor &colour);
};

} // namespace zeplo
