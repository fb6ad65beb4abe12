#pragma once

#include <memory>

#include <QTimer>

#include "engine/ChangeWatch.h"

namespace zeplo {

class SqliteEngine;

// Looks whether another connection has committed to the catalogue file, about
// once a second while the program is in front: one call that reads the file's
// data version and no row of the table. The program's own writes are not news.
// A look that finds the file locked by a writer waits for nothing; the next
// one tells.
class SqliteChangeWatch final : public ChangeWatch {
public:
    static constexpr int kEveryMs = 1000;

    explicit SqliteChangeWatch(const std::shared_ptr<SqliteEngine> &engine);

    void setLooking(bool looking) override;
    bool watching() const override { return timer_.isActive(); }

private:
    void look();

    std::weak_ptr<SqliteEngine> engine_;
    QTimer timer_;
    qint64 version_ = -1;
};

} // namespace zeplo
