#include "FaultyDisk.h"

#include <array>
#include <stdexcept>

namespace {

using Call = FaultyDisk::Call;

// One disk at a time: SQLite's calls find it here.
struct State {
    sqlite3_vfs *real = nullptr;
    sqlite3_vfs vfs{};
    bool armed = false;
    Call call = Call::Write;
    int left = 0;   // calls of that kind to pass before the failing one
    int error = SQLITE_OK;
    bool sticky = false;
    bool fired = false;
    std::array<int, FaultyDisk::kCallKinds> counts{};
} state;

struct File {
    sqlite3_file base;
    sqlite3_file *real;   // the default file system's, allocated right after this one
};

sqlite3_file *real(sqlite3_file *file)
{
    return reinterpret_cast<File *>(file)->real;
}

// The error for this call, or SQLITE_OK to pass it on.
int fault(Call call)
{
    ++state.counts[std::size_t(call)];
    if (!state.armed || call != state.call)
        return SQLITE_OK;
    if (state.fired)
        return state.sticky ? state.error : SQLITE_OK;
    if (--state.left > 0)
        return SQLITE_OK;
    state.fired = true;
    return state.error;
}

// A call that lets go of something does so whatever it reports.
int letGo(Call call, int rc)
{
    const int failed = fault(call);
    return failed ? failed : rc;
}

int fileClose(sqlite3_file *f)
{
    const int rc = real(f)->pMethods->xClose(real(f));
    f->pMethods = nullptr;
    return letGo(Call::Close, rc);
}
int fileRead(sqlite3_file *f, void *buffer, int amount, sqlite3_int64 offset)
{
    if (const int rc = fault(Call::Read))
        return rc;
    return real(f)->pMethods->xRead(real(f), buffer, amount, offset);
}
int fileWrite(sqlite3_file *f, const void *buffer, int amount, sqlite3_int64 offset)
{
    if (const int rc = fault(Call::Write))
        return rc;
    return real(f)->pMethods->xWrite(real(f), buffer, amount, offset);
}
int fileTruncate(sqlite3_file *f, sqlite3_int64 size)
{
    if (const int rc = fault(Call::Truncate))
        return rc;
    return real(f)->pMethods->xTruncate(real(f), size);
}
int fileSync(sqlite3_file *f, int flags)
{
    if (const int rc = fault(Call::Sync))
        return rc;
    return real(f)->pMethods->xSync(real(f), flags);
}
int fileSize(sqlite3_file *f, sqlite3_int64 *size)
{
    if (const int rc = fault(Call::FileSize))
        return rc;
    return real(f)->pMethods->xFileSize(real(f), size);
}
int fileLock(sqlite3_file *f, int level)
{
    if (const int rc = fault(Call::Lock))
        return rc;
    return real(f)->pMethods->xLock(real(f), level);
}
int fileUnlock(sqlite3_file *f, int level)
{
    return letGo(Call::Unlock, real(f)->pMethods->xUnlock(real(f), level));
}
int fileCheckReservedLock(sqlite3_file *f, int *out)
{
    if (const int rc = fault(Call::CheckReservedLock))
        return rc;
    return real(f)->pMethods->xCheckReservedLock(real(f), out);
}
int fileControl(sqlite3_file *f, int op, void *arg)
{
    if (const int rc = fault(Call::FileControl))
        return rc;
    return real(f)->pMethods->xFileControl(real(f), op, arg);
}
int fileSectorSize(sqlite3_file *f) { return real(f)->pMethods->xSectorSize(real(f)); }
int fileDeviceCharacteristics(sqlite3_file *f) { return real(f)->pMethods->xDeviceCharacteristics(real(f)); }
int fileShmMap(sqlite3_file *f, int region, int size, int extend, void volatile **out)
{
    if (const int rc = fault(Call::ShmMap))
        return rc;
    return real(f)->pMethods->xShmMap(real(f), region, size, extend, out);
}
int fileShmLock(sqlite3_file *f, int offset, int n, int flags)
{
    if (flags & SQLITE_SHM_UNLOCK)
        return letGo(Call::ShmLock, real(f)->pMethods->xShmLock(real(f), offset, n, flags));
    if (const int rc = fault(Call::ShmLock))
        return rc;
    return real(f)->pMethods->xShmLock(real(f), offset, n, flags);
}
void fileShmBarrier(sqlite3_file *f) { real(f)->pMethods->xShmBarrier(real(f)); }
int fileShmUnmap(sqlite3_file *f, int deleteFlag)
{
    return letGo(Call::ShmUnmap, real(f)->pMethods->xShmUnmap(real(f), deleteFlag));
}
int fileFetch(sqlite3_file *f, sqlite3_int64 offset, int amount, void **out)
{
    if (const int rc = fault(Call::Fetch))
        return rc;
    return real(f)->pMethods->xFetch(real(f), offset, amount, out);
}
int fileUnfetch(sqlite3_file *f, sqlite3_int64 offset, void *p)
{
    if (const int rc = fault(Call::Unfetch))
        return rc;
    return real(f)->pMethods->xUnfetch(real(f), offset, p);
}

// The methods of a file, at the version of the real file's: SQLite calls the
// later ones only where the version has them.
const sqlite3_io_methods *methodsFor(int version)
{
    static const sqlite3_io_methods methods[] = {
        {1, fileClose, fileRead, fileWrite, fileTruncate, fileSync, fileSize, fileLock, fileUnlock,
         fileCheckReservedLock, fileControl, fileSectorSize, fileDeviceCharacteristics, nullptr, nullptr, nullptr,
         nullptr, nullptr, nullptr},
        {2, fileClose, fileRead, fileWrite, fileTruncate, fileSync, fileSize, fileLock, fileUnlock,
         fileCheckReservedLock, fileControl, fileSectorSize, fileDeviceCharacteristics, fileShmMap, fileShmLock,
         fileShmBarrier, fileShmUnmap, nullptr, nullptr},
        {3, fileClose, fileRead, fileWrite, fileTruncate, fileSync, fileSize, fileLock, fileUnlock,
         fileCheckReservedLock, fileControl, fileSectorSize, fileDeviceCharacteristics, fileShmMap, fileShmLock,
         fileShmBarrier, fileShmUnmap, fileFetch, fileUnfetch},
    };
    return &methods[version < 1 ? 0 : version > 3 ? 2 : version - 1];
}

int vfsOpen(sqlite3_vfs *, sqlite3_filename name, sqlite3_file *file, int flags, int *outFlags)
{
    auto *f = reinterpret_cast<File *>(file);
    f->real = reinterpret_cast<sqlite3_file *>(f + 1);
    f->real->pMethods = nullptr;
    file->pMethods = nullptr;
    if (const int rc = fault(Call::Open))
        return rc;
    const int rc = state.real->xOpen(state.real, name, f->real, flags, outFlags);
    file->pMethods = f->real->pMethods ? methodsFor(f->real->pMethods->iVersion) : nullptr;
    return rc;
}
int vfsDelete(sqlite3_vfs *, const char *name, int syncDirectory)
{
    if (const int rc = fault(Call::Delete))
        return rc;
    return state.real->xDelete(state.real, name, syncDirectory);
}
int vfsAccess(sqlite3_vfs *, const char *name, int flags, int *out)
{
    if (const int rc = fault(Call::Access))
        return rc;
    return state.real->xAccess(state.real, name, flags, out);
}
int vfsFullPathname(sqlite3_vfs *, const char *name, int size, char *out)
{
    if (const int rc = fault(Call::FullPathname))
        return rc;
    return state.real->xFullPathname(state.real, name, size, out);
}
int vfsCurrentTime(sqlite3_vfs *, double *out)
{
    if (const int rc = fault(Call::CurrentTime))
        return rc;
    return state.real->xCurrentTime(state.real, out);
}
int vfsCurrentTimeInt64(sqlite3_vfs *, sqlite3_int64 *out)
{
    if (const int rc = fault(Call::CurrentTime))
        return rc;
    return state.real->xCurrentTimeInt64(state.real, out);
}
} // namespace

const char *FaultyDisk::name(Call call)
{
    switch (call) {
    case Call::Open: return "open";
    case Call::Delete: return "delete";
    case Call::Access: return "access";
    case Call::FullPathname: return "full path name";
    case Call::CurrentTime: return "current time";
    case Call::Close: return "close";
    case Call::Read: return "read";
    case Call::Write: return "write";
    case Call::Truncate: return "truncate";
    case Call::Sync: return "sync";
    case Call::FileSize: return "file size";
    case Call::Lock: return "lock";
    case Call::Unlock: return "unlock";
    case Call::CheckReservedLock: return "check reserved lock";
    case Call::FileControl: return "file control";
    case Call::ShmMap: return "shared memory map";
    case Call::ShmLock: return "shared memory lock";
    case Call::ShmUnmap: return "shared memory unmap";
    case Call::Fetch: return "fetch";
    case Call::Unfetch: return "unfetch";
    }
    return "?";
}

int FaultyDisk::ioError(Call call)
{
    switch (call) {
    case Call::Open: return SQLITE_CANTOPEN;
    case Call::Delete: return SQLITE_IOERR_DELETE;
    case Call::Access: return SQLITE_IOERR_ACCESS;
    case Call::FullPathname: return SQLITE_CANTOPEN_FULLPATH;
    case Call::CurrentTime: return SQLITE_ERROR;
    case Call::Close: return SQLITE_IOERR_CLOSE;
    case Call::Read: return SQLITE_IOERR_READ;
    case Call::Write: return SQLITE_IOERR_WRITE;
    case Call::Truncate: return SQLITE_IOERR_TRUNCATE;
    case Call::Sync: return SQLITE_IOERR_FSYNC;
    case Call::FileSize: return SQLITE_IOERR_FSTAT;
    case Call::Lock: return SQLITE_IOERR_LOCK;
    case Call::Unlock: return SQLITE_IOERR_UNLOCK;
    case Call::CheckReservedLock: return SQLITE_IOERR_CHECKRESERVEDLOCK;
    case Call::FileControl: return SQLITE_IOERR;
    case Call::ShmMap: return SQLITE_IOERR_SHMMAP;
    case Call::ShmLock: return SQLITE_IOERR_SHMLOCK;
    case Call::ShmUnmap: return SQLITE_IOERR_SHMOPEN;
    case Call::Fetch:
    case Call::Unfetch: return SQLITE_IOERR_MMAP;
    }
    return SQLITE_IOERR;
}

FaultyDisk::FaultyDisk()
{
    if (state.real)
        throw std::logic_error("one faulty disk at a time");
    sqlite3_initialize();
    state = State{};
    state.real = sqlite3_vfs_find(nullptr);
    // The calls that have no failure to give pass to the default file system as they are.
    sqlite3_vfs &vfs = state.vfs;
    vfs = *state.real;
    vfs.pNext = nullptr;
    vfs.szOsFile = int(sizeof(File)) + state.real->szOsFile;
    vfs.zName = "zeplo-faulty-disk";
    vfs.xOpen = vfsOpen;
    vfs.xDelete = vfsDelete;
    vfs.xAccess = vfsAccess;
    vfs.xFullPathname = vfsFullPathname;
    vfs.xCurrentTime = vfsCurrentTime;
    if (vfs.iVersion >= 2 && state.real->xCurrentTimeInt64)
        vfs.xCurrentTimeInt64 = vfsCurrentTimeInt64;
    if (sqlite3_vfs_register(&vfs, 1) != SQLITE_OK)
        throw std::runtime_error("SQLite took no file system layer");
}

FaultyDisk::~FaultyDisk()
{
    sqlite3_vfs_unregister(&state.vfs);
    sqlite3_vfs_register(state.real, 1);
    state = State{};
}

void FaultyDisk::arm(Call call, int n, int error, Persistence persistence)
{
    state.armed = true;
    state.call = call;
    state.left = n;
    state.error = error;
    state.sticky = persistence == Persistence::UntilFreed;
    state.fired = false;
    state.counts.fill(0);
}

void FaultyDisk::free()
{
    state.armed = false;
}

void FaultyDisk::count()
{
    state.armed = false;
    state.fired = false;
    state.counts.fill(0);
}

bool FaultyDisk::fired() const
{
    return state.fired;
}

int FaultyDisk::calls(Call call) const
{
    return state.counts[std::size_t(call)];
}
