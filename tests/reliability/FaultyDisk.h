#pragma once

#include <sqlite3.h>

// A disk that answers one chosen call with an error. While the object lives,
// SQLite opens every file through a layer over its default one, which passes
// each call on, except that once armed it fails the n-th call of one kind
// from then on, as a disk that is full, gone or failing would: the catalogue
// code under test and the tool open their files through it unchanged.
class FaultyDisk {
public:
    enum class Call { Write, Sync, Truncate, Read, FileSize, Lock };
    static constexpr Call kCalls[] = {Call::Write, Call::Sync, Call::Truncate, Call::Read, Call::FileSize, Call::Lock};
    static const char *name(Call call);
    // The error a disk gives for such a call (SQLITE_IOERR_WRITE for a write...).
    static int ioError(Call call);

    FaultyDisk();    // becomes SQLite's default file system
    ~FaultyDisk();   // the one before comes back
    FaultyDisk(const FaultyDisk &) = delete;
    FaultyDisk &operator=(const FaultyDisk &) = delete;

    // Fails the n-th call of `call` from now (1 is the next one) with `error`.
    void arm(Call call, int n, int error);
    void disarm();
    // Whether the armed call was reached and failed.
    bool fired() const;
};
