#pragma once

#include <QDialog>

class QLabel;
class QTimer;

namespace zeplo {

// The splash window: the program's picture and name, shown modally at start
// and closed by its timer two seconds after it was created.
class SplashWindow : public QDialog {
    Q_OBJECT

public:
    explicit SplashWindow(QWidget *parent = nullptr);

    void closeByTimer();

    // How long the splash stays, in milliseconds: two seconds unless a test
    // that only needs the timer's effect shortens it.
    static int displayTime();
    static void setDisplayTime(int milliseconds);

protected:
    // Only its timer and its close box close it: not Esc.
    void keyPressEvent(QKeyEvent *event) override;

private:
    QLabel *picture_;
    QLabel *nameLabel_;
    QTimer *timer_;
};

} // namespace zeplo
