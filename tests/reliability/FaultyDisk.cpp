#include "FaultyDisk.h"

#include <stdexcept>

namespace {

// One disk at a time: SQLite's calls find it here.
struct State {
    sqlite3_vfs *real = nullptr;
    sqlite3_vfs vfs{};
    bool armed = false;
    FaultyDisk::Call call = FaultyDisk::Call::Write;
    int left = 0;   // calls of that kind to pass before the failing one
    int error = SQLITE_OK;
    bool fired = false;
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
int fault(FaultyDisk::Call call)
{
    if (!state.armed || state.fired || call != state.call)
        return SQLITE_OK;
    if (--state.left > 0)
        return SQLITE_OK;
    state.fired = true;
    return state.error;
}

int fileClose(sqlite3_file *f)
{
    const int rc = real(f)->pMethods->xClose(real(f));
    f->pMethods = nullptr;
    return rc;
}
int fileRead(sqlite3_file *f, void *buffer, int amount, sqlite3_int64 offset)
{
    if (const int rc = fault(FaultyDisk::Call::Read))
        return rc;
    return real(f)->pMethods->xRead(real(f), buffer, amount, offset);
}
int fileWrite(sqlite3_file *f, const void *buffer, int amount, sqlite3_int64 offset)
{
    if (const int rc = fault(FaultyDisk::Call::Write))
        return rc;
    return real(f)->pMethods->xWrite(real(f), buffer, amount, offset);
}
int fileTruncate(sqlite3_file *f, sqlite3_int64 size)
{
    if (const int rc = fault(FaultyDisk::Call::Truncate))
        return rc;
    return real(f)->pMethods->xTruncate(real(f), size);
}
int fileSync(sqlite3_file *f, int flags)
{
    if (const int rc = fault(FaultyDisk::Call::Sync))
        return rc;
    return real(f)->pMethods->xSync(real(f), flags);
}
int fileSize(sqlite3_file *f, sqlite3_int64 *size)
{
    if (const int rc = fault(FaultyDisk::Call::FileSize))
        return rc;
    return real(f)->pMethods->xFileSize(real(f), size);
}
int fileLock(sqlite3_file *f, int level)
{
    if (const int rc = fault(FaultyDisk::Call::Lock))
        return rc;
    return real(f)->pMethods->xLock(real(f), level);
}
int fileUnlock(sqlite3_file *f, int level) { return real(f)->pMethods->xUnlock(real(f), level); }
int fileCheckReservedLock(sqlite3_file *f, int *out) { return real(f)->pMethods->xCheckReservedLock(real(f), out); }
int fileControl(sqlite3_file *f, int op, void *arg) { return real(f)->pMethods->xFileControl(real(f), op, arg); }
int fileSectorSize(sqlite3_file *f) { return real(f)->pMethods->xSectorSize(real(f)); }
int fileDeviceCharacteristics(sqlite3_file *f) { return real(f)->pMethods->xDeviceCharacteristics(real(f)); }
int fileShmMap(sqlite3_file *f, int region, int size, int extend, void volatile **out)
{
    return real(f)->pMethods->xShmMap(real(f), region, size, extend, out);
}
int fileShmLock(sqlite3_file *f, int offset, int n, int flags) { return real(f)->pMethods->xShmLock(real(f), offset, n, flags); }
void fileShmBarrier(sqlite3_file *f) { real(f)->pMethods->xShmBarrier(real(f)); }
int fileShmUnmap(sqlite3_file *f, int deleteFlag) { return real(f)->pMethods->xShmUnmap(real(f), deleteFlag); }
int fileFetch(sqlite3_file *f, sqlite3_int64 offset, int amount, void **out)
{
    return real(f)->pMethods->xFetch(real(f), offset, amount, out);
}
int fileUnfetch(sqlite3_file *f, sqlite3_int64 offset, void *p) { return real(f)->pMethods->xUnfetch(real(f), offset, p); }

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
    const int rc = state.real->xOpen(state.real, name, f->real, flags, outFlags);
    file->pMethods = f->real->pMethods ? methodsFor(f->real->pMethods->iVersion) : nullptr;
    return rc;
}
} // namespace

const char *FaultyDisk::name(Call call)
{
    switch (call) {
    case Call::Write: return "write";
    case Call::Sync: return "sync";
    case Call::Truncate: return "truncate";
    case Call::Read: return "read";
    case Call::FileSize: return "file size";
    case Call::Lock: return "lock";
    }
    return "?";
}

int FaultyDisk::ioError(Call call)
{
    switch (call) {
    case Call::Write: return SQLITE_IOERR_WRITE;
    case Call::Sync: return SQLITE_IOERR_FSYNC;
    case Call::Truncate: return SQLITE_IOERR_TRUNCATE;
    case Call::Read: return SQLITE_IOERR_READ;
    case Call::FileSize: return SQLITE_IOERR_FSTAT;
    case Call::Lock: return SQLITE_IOERR_LOCK;
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
    // The rest of the default file system's calls, which do not depend on
    // the layer they are called through, stay as they are.
    sqlite3_vfs &vfs = state.vfs;
    vfs = *state.real;
    vfs.pNext = nullptr;
    vfs.szOsFile = int(sizeof(File)) + state.real->szOsFile;
    vfs.zName = "zeplo-faulty-disk";
    vfs.xOpen = vfsOpen;
    if (sqlite3_vfs_register(&vfs, 1) != SQLITE_OK)
        throw std::runtime_error("SQLite took no file system layer");
}

FaultyDisk::~FaultyDisk()
{
    sqlite3_vfs_unregister(&state.vfs);
    sqlite3_vfs_register(state.real, 1);
    state = State{};
}

void FaultyDisk::arm(Call call, int n, int error)
{
    state.armed = true;
    state.call = call;
    state.left = n;
    state.error = error;
    state.fired = false;
}

void FaultyDisk::disarm()
{
    state.armed = false;
}

bool FaultyDisk::fired() const
{
    return state.fired;
}
