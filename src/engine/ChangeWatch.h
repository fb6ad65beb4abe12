#pragma once

#include <memory>
#include <vector>

#include <QObject>
#include <QString>

namespace zeplo {

// What another program changed in the catalogue: the keys of the books it
// named, or (`many`) books it did not name one by one.
struct OutsideChange {
    std::vector<qint64> keys;
    bool many = false;

    bool empty() const { return !many && keys.empty(); }
    // The news of `text`, a notice's payload: keys separated by commas, or
    // anything else for many.
    static OutsideChange fromNotice(const QString &text);
    void add(const OutsideChange &other);
};

// Tells the program when another program has changed the catalogue, at no
// cost while nothing changes: the server's catalogue notifies its listeners
// (PgChangeWatch), a catalogue file is looked at about once a second while
// the program is in front (SqliteChangeWatch). A watch runs on the thread of
// the interface, from its event loop; changed() comes from there too.
class ChangeWatch : public QObject {
    Q_OBJECT
public:
    // The program is in front (its main window is active) or not; a watch
    // that has to look for changes looks only while it is.
    virtual void setLooking(bool looking) { Q_UNUSED(looking); }
    // Called after a command of the user's has reached the catalogue: a watch
    // that lost its way to it takes it up again (then it says `many`, as it
    // may have missed changes meanwhile).
    virtual void resume() {}
    // Whether it hears of changes now.
    virtual bool watching() const = 0;
    // How often it has looked at the catalogue or heard from it, for tests.
    quint64 looks() const { return looks_; }

signals:
    void changed(const zeplo::OutsideChange &news);

protected:
    quint64 looks_ = 0;
};

} // namespace zeplo
