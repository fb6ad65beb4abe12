#pragma once

#include <iterator>

#include <sqlite3.h>

// A disk that answers a chosen call with an error. While the object lives,
// SQLite opens every file through a layer over its default one, which passes
// each call on, except that once armed it fails the n-th call of one kind
// from then on, as a disk that is full, gone or failing would: the catalogue
// code under test and the tool open their files through it unchanged.
//
// Every call of the file system and of its files that can report a failure
// can be failed. The rest tell a size, flags or the time slept, or wait for
// the shared memory (xSectorSize, xDeviceCharacteristics, xShmBarrier,
// xRandomness, xSleep, xGetLastError and the loading of extensions), and have
// no failure to give. A close, an unlock or an unmap that fails still lets
// go, as the system's own calls do.
class FaultyDisk {
public:
    enum class Call {
        // sqlite3_vfs
        Open, Delete, Access, FullPathname, CurrentTime,
        // sqlite3_io_methods
        Close, Read, Write, Truncate, Sync, FileSize, Lock, Unlock, CheckReservedLock, FileControl, ShmMap,
        ShmLock, ShmUnmap, Fetch, Unfetch,
    };
    static constexpr Call kCalls[] = {
        Call::Open, Call::Delete, Call::Access, Call::FullPathname, Call::CurrentTime,
        Call::Close, Call::Read, Call::Write, Call::Truncate, Call::Sync, Call::FileSize, Call::Lock, Call::Unlock,
        Call::CheckReservedLock, Call::FileControl, Call::ShmMap, Call::ShmLock, Call::ShmUnmap, Call::Fetch,
        Call::Unfetch};
    static constexpr int kCallKinds = int(std::size(kCalls));
    static const char *name(Call call);
    // The error a disk gives for such a call (SQLITE_IOERR_WRITE for a write...).
    static int ioError(Call call);

    FaultyDisk();    // becomes SQLite's default file system
    ~FaultyDisk();   // the one before comes back
    FaultyDisk(const FaultyDisk &) = delete;
    FaultyDisk &operator=(const FaultyDisk &) = delete;

    // Once: the n-th call of `call` from now (1 is the next one) fails with
    // `error`. UntilFreed: so does every later call of that kind, as a disk
    // that stays full, until free().
    enum class Persistence { Once, UntilFreed };
    void arm(Call call, int n, int error, Persistence persistence = Persistence::Once);
    void free();   // the calls pass again
    void disarm() { free(); }
    // Whether the armed call was reached and failed.
    bool fired() const;
    // Calls of `call` made since the last arm() or count().
    int calls(Call call) const;
    // Starts counting the calls without failing any.
    void count();
};
