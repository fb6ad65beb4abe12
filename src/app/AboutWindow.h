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

    QLabel *Label5;
    QLabel *Image1;
    QPushButton *Button1;
    QLabel *Label7;
    QLabel *Label8;

    void Button1Click();
    void Label7Click();
    void Label7MouseMove();
    void FormMouseMove();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    void setLinkColour(const QColor &colour);
};

} // namespace zeplo
