#pragma once

#include <memory>

#include <QSocketNotifier>

#include "engine/ChangeWatch.h"
#include "engine/PgConnection.h"

namespace zeplo {

class PgEngine;

// Listens for the notices the catalogue's triggers send when books change
// (schema::kChangesChannel), on a session of its own that sits idle until one
// comes: the interface's event loop watches its socket, so nothing polls and
// nothing is sent to the server while nothing changes. LISTEN needs no right,
// so a role that may only read hears them too. The program's own writes are
// not news: notices from the engine's own session are passed over.
//
// A catalogue without the triggers sends nothing: then the watch keeps no
// session at all. A listening session that is lost (a server restarted) is
// made again by resume(), after the user's next command has reached the server.
class PgChangeWatch final : public ChangeWatch {
public:
    PgChangeWatch(const std::shared_ptr<PgEngine> &engine, const QString &uri);
    ~PgChangeWatch() override;

    void resume() override;
    bool watching() const override { return notifier_ != nullptr; }

private:
    // Connects and listens; true when it does. A failure is silent.
    bool listen();
    void readNotices();
    void stop();

    std::weak_ptr<PgEngine> engine_;
    QString uri_;
    std::unique_ptr<PgConnection> session_;
    QSocketNotifier *notifier_ = nullptr;
    bool lost_ = false;   // listening once, and it may be taken up again
};

} // namespace zeplo
