#pragma once

#include <QDialog>

#include <functional>

class QLabel;
class QProgressBar;
class QPushButton;

namespace zeplo {

// The small window shown while a report is printed: how far the printing has
// got, and a button that stops it.
class PrintProgressWindow : public QDialog {
public:
    explicit PrintProgressWindow(QWidget *parent = nullptr);

    // Told when "Cancel" is pressed or the window is closed.
    std::function<void()> onCancel;

    // A progress notice in percent: only every fifth percent moves the bar,
    // and each such step lets the message loop run.
    void setProgress(int percent);
    bool cancelled() const { return cancelled_; }

protected:
    void closeEvent(QCloseEvent *event) override;
    void reject() override;

private:
    QProgressBar *progressBar_;
    QLabel *percentLabel_;
    QPushButton *cancelButton_;
    void cancel();
    bool cancelled_ = false;
};

} // namespace zeplo
