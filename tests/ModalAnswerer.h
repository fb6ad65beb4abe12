#pragma once

#include <QObject>
#include <QStringList>
#include <QTimer>

class QWidget;

// Answers modal windows as they appear, the way a user would: records each
// one's title and text, then presses the button whose text is the next
// answer (the default button when no answer is left). Non-message dialogs are
// closed with done(0) unless `leaveOthers` is set.
class ModalAnswerer : public QObject {
public:
    explicit ModalAnswerer(QStringList answers = {}, bool leaveOthers = false);
    ~ModalAnswerer() override;

    QStringList titles;
    QStringList texts;
    QStringList buttons; // per message box, its buttons' texts joined by "|"
    int count() const { return int(titles.size()); }

private:
    void poll();
    QStringList answers_;
    bool leaveOthers_;
    QTimer timer_;
    QWidget *last_ = nullptr;
};
