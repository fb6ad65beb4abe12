#pragma once

#include <functional>
#include <memory>

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include "engine/ChangeWatch.h"
#include "engine/DataSource.h"

namespace zeplo {

// Keeps the rows the main window shows as they are stored, without a command
// of the user's: told by the catalogue's watch that another program changed
// books shown (or books it did not name), it reads the rows on screen again
// in one go, at most once a second, and never while a command waits for the
// server, while a row is edited or added, or while `mayRead` says no (the
// report walks the list); what could not be read then is read as soon as it
// may. The list's membership, order, position and count stay as they are
// until the user's next list command. A re-read that fails says nothing and
// changes nothing: it was not the user's command.
class FreshRows final : public QObject, public DataLink {
    Q_OBJECT
public:
    static constexpr int kLeastApartMs = 1000;

    FreshRows(DataSource *source, std::function<bool()> mayRead, QObject *parent = nullptr);
    ~FreshRows() override;

    void setWatch(std::unique_ptr<ChangeWatch> watch);
    ChangeWatch *watch() const { return watch_.get(); }
    // The main window is active or not.
    void setLooking(bool looking);

    // For tests: the rows on screen read again so far, and whether a re-read waits its turn.
    quint64 rereads() const { return rereads_; }
    bool pending() const { return pending_; }

    void dataEvent(DataEvent event, Field *field) override;

private:
    void heard(const OutsideChange &news);
    void readWhenAllowed();

    std::function<bool()> mayRead_;
    std::unique_ptr<ChangeWatch> watch_;
    QTimer pace_;
    QElapsedTimer lastRead_;
    bool pending_ = false;
    quint64 rereads_ = 0;
};

} // namespace zeplo
