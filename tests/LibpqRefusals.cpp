#include "LibpqRefusals.h"

#include <atomic>
#include <mutex>

#include <libpq-fe.h>

namespace {

std::atomic<bool> counting{false};
std::atomic<libpq_refusals::Kind> armedKind{libpq_refusals::Kind::Failure};
std::atomic<int> armedAt{0};
std::atomic<bool> madeRefusal{false};
std::mutex callsMutex;
std::string made;
int counted = 0;

// Whether the call named by `letter` is the one to refuse.
bool refuse(char letter)
{
    if (!counting.load())
        return false;
    if (armedKind.load() == libpq_refusals::Kind::FullBuffer && letter != 'd' && letter != 'c')
        return false;
    const std::lock_guard lock(callsMutex);
    made += letter;
    if (++counted != armedAt.load())
        return false;
    madeRefusal = true;
    return true;
}

// A refusal of a call is its failure value, or for a full buffer its "not now".
bool fullBuffer()
{
    return armedKind.load() == libpq_refusals::Kind::FullBuffer;
}

} // namespace

namespace libpq_refusals {

void arm(int n, Kind kind)
{
    const std::lock_guard lock(callsMutex);
    made.clear();
    counted = 0;
    madeRefusal = false;
    armedAt = n;
    armedKind = kind;
    counting = true;
}

void disarm()
{
    counting = false;
    armedAt = 0;
}

bool refused()
{
    return madeRefusal.load();
}

std::string calls()
{
    const std::lock_guard lock(callsMutex);
    return made;
}

} // namespace libpq_refusals

// The linker sends the program's calls to __wrap_X and the library's own X is
// __real_X.
extern "C" {

int __real_PQsendQueryParams(PGconn *, const char *, int, const Oid *, const char *const *, const int *, const int *,
                             int);
int __real_PQsendPrepare(PGconn *, const char *, const char *, int, const Oid *);
int __real_PQsendQueryPrepared(PGconn *, const char *, int, const char *const *, const int *, const int *, int);
int __real_PQsendQuery(PGconn *, const char *);
int __real_PQpipelineSync(PGconn *);
int __real_PQflush(PGconn *);
int __real_PQconsumeInput(PGconn *);
int __real_PQenterPipelineMode(PGconn *);
int __real_PQexitPipelineMode(PGconn *);
int __real_PQsetSingleRowMode(PGconn *);
int __real_PQputCopyData(PGconn *, const char *, int);
int __real_PQputCopyEnd(PGconn *, const char *);

int __wrap_PQsendQueryParams(PGconn *conn, const char *command, int nParams, const Oid *paramTypes,
                             const char *const *paramValues, const int *paramLengths, const int *paramFormats,
                             int resultFormat)
{
    return refuse('q') ? 0
                       : __real_PQsendQueryParams(conn, command, nParams, paramTypes, paramValues, paramLengths,
                                                  paramFormats, resultFormat);
}

int __wrap_PQsendPrepare(PGconn *conn, const char *name, const char *query, int nParams, const Oid *paramTypes)
{
    return refuse('p') ? 0 : __real_PQsendPrepare(conn, name, query, nParams, paramTypes);
}

int __wrap_PQsendQueryPrepared(PGconn *conn, const char *name, int nParams, const char *const *paramValues,
                               const int *paramLengths, const int *paramFormats, int resultFormat)
{
    return refuse('e') ? 0
                       : __real_PQsendQueryPrepared(conn, name, nParams, paramValues, paramLengths, paramFormats,
                                                    resultFormat);
}

int __wrap_PQsendQuery(PGconn *conn, const char *query)
{
    return refuse('Q') ? 0 : __real_PQsendQuery(conn, query);
}

int __wrap_PQpipelineSync(PGconn *conn)
{
    return refuse('S') ? 0 : __real_PQpipelineSync(conn);
}

int __wrap_PQflush(PGconn *conn)
{
    return refuse('f') ? -1 : __real_PQflush(conn);
}

int __wrap_PQconsumeInput(PGconn *conn)
{
    return refuse('i') ? 0 : __real_PQconsumeInput(conn);
}

int __wrap_PQenterPipelineMode(PGconn *conn)
{
    return refuse('P') ? 0 : __real_PQenterPipelineMode(conn);
}

int __wrap_PQexitPipelineMode(PGconn *conn)
{
    return refuse('X') ? 0 : __real_PQexitPipelineMode(conn);
}

int __wrap_PQsetSingleRowMode(PGconn *conn)
{
    return refuse('1') ? 0 : __real_PQsetSingleRowMode(conn);
}

int __wrap_PQputCopyData(PGconn *conn, const char *buffer, int nbytes)
{
    return refuse('d') ? (fullBuffer() ? 0 : -1) : __real_PQputCopyData(conn, buffer, nbytes);
}

int __wrap_PQputCopyEnd(PGconn *conn, const char *errormsg)
{
    return refuse('c') ? (fullBuffer() ? 0 : -1) : __real_PQputCopyEnd(conn, errormsg);
}

} // extern "C"
