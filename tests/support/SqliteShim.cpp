#include "support/SqliteShim.h"

#include <sqlite3.h>

#include <QFile>
#include <QFileInfo>
#include <cstring>
#include <mutex>

namespace {

sqlite3_vfs* g_base = nullptr;
sqlite3_vfs g_shim;
std::mutex g_mutex;
QByteArray g_failWrite;  // the database file whose next write fails
std::function<void(const SqliteShim::JournalDelete&)> g_onDelete;

struct ShimFile {
    sqlite3_file base;  // first: SQLite sees a ShimFile as a sqlite3_file
    sqlite3_file* real;
    const char* path;  // SQLite keeps the name alive until the file is closed
    bool mainDatabase;
};

sqlite3_file* Real(sqlite3_file* f) { return reinterpret_cast<ShimFile*>(f)->real; }

QByteArray Canonical(const QString& path) {
    return QFile::encodeName(QFileInfo(path).absoluteFilePath());
}

QByteArray ReadAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

int Close(sqlite3_file* f) {
    sqlite3_file* real = Real(f);
    const int rc = real->pMethods ? real->pMethods->xClose(real) : SQLITE_OK;
    f->pMethods = nullptr;
    return rc;
}
int Read(sqlite3_file* f, void* b, int n, sqlite3_int64 o) {
    return Real(f)->pMethods->xRead(Real(f), b, n, o);
}
int Write(sqlite3_file* f, const void* b, int n, sqlite3_int64 o) {
    auto* shim = reinterpret_cast<ShimFile*>(f);
    if (shim->mainDatabase) {
        std::lock_guard lock(g_mutex);
        if (!g_failWrite.isEmpty() && g_failWrite == Canonical(QFile::decodeName(shim->path))) {
            g_failWrite.clear();
            return SQLITE_IOERR_WRITE;
        }
    }
    return Real(f)->pMethods->xWrite(Real(f), b, n, o);
}
int Truncate(sqlite3_file* f, sqlite3_int64 s) {
    return Real(f)->pMethods->xTruncate(Real(f), s);
}
int Sync(sqlite3_file* f, int flags) { return Real(f)->pMethods->xSync(Real(f), flags); }
int FileSize(sqlite3_file* f, sqlite3_int64* s) {
    return Real(f)->pMethods->xFileSize(Real(f), s);
}
int Lock(sqlite3_file* f, int l) { return Real(f)->pMethods->xLock(Real(f), l); }
int Unlock(sqlite3_file* f, int l) { return Real(f)->pMethods->xUnlock(Real(f), l); }
int CheckReservedLock(sqlite3_file* f, int* r) {
    return Real(f)->pMethods->xCheckReservedLock(Real(f), r);
}
int FileControl(sqlite3_file* f, int op, void* arg) {
    return Real(f)->pMethods->xFileControl(Real(f), op, arg);
}
int SectorSize(sqlite3_file* f) { return Real(f)->pMethods->xSectorSize(Real(f)); }
int DeviceCharacteristics(sqlite3_file* f) {
    return Real(f)->pMethods->xDeviceCharacteristics(Real(f));
}
int ShmMap(sqlite3_file* f, int i, int s, int e, void volatile** p) {
    return Real(f)->pMethods->xShmMap(Real(f), i, s, e, p);
}
int ShmLock(sqlite3_file* f, int o, int n, int flags) {
    return Real(f)->pMethods->xShmLock(Real(f), o, n, flags);
}
void ShmBarrier(sqlite3_file* f) { Real(f)->pMethods->xShmBarrier(Real(f)); }
int ShmUnmap(sqlite3_file* f, int d) { return Real(f)->pMethods->xShmUnmap(Real(f), d); }
int Fetch(sqlite3_file* f, sqlite3_int64 o, int n, void** p) {
    return Real(f)->pMethods->xFetch(Real(f), o, n, p);
}
int Unfetch(sqlite3_file* f, sqlite3_int64 o, void* p) {
    return Real(f)->pMethods->xUnfetch(Real(f), o, p);
}

const sqlite3_io_methods kMethods = {3,        Close,     Read,         Write,
                                     Truncate, Sync,      FileSize,     Lock,
                                     Unlock,   CheckReservedLock, FileControl,  SectorSize,
                                     DeviceCharacteristics, ShmMap, ShmLock, ShmBarrier,
                                     ShmUnmap, Fetch,     Unfetch};

int Open(sqlite3_vfs*, const char* name, sqlite3_file* f, int flags, int* outFlags) {
    auto* shim = reinterpret_cast<ShimFile*>(f);
    shim->real = reinterpret_cast<sqlite3_file*>(shim + 1);
    shim->path = name;
    shim->mainDatabase = (flags & SQLITE_OPEN_MAIN_DB) != 0 && name;
    const int rc = g_base->xOpen(g_base, name, shim->real, flags, outFlags);
    // The real file's own methods decide which of ours SQLite may call.
    f->pMethods = shim->real->pMethods ? &kMethods : nullptr;
    return rc;
}

int Delete(sqlite3_vfs*, const char* name, int syncDir) {
    std::function<void(const SqliteShim::JournalDelete&)> seen;
    {
        std::lock_guard lock(g_mutex);
        seen = g_onDelete;
    }
    const QString journal = QFile::decodeName(name);
    if (seen && journal.endsWith(QLatin1String("-journal"))) {
        SqliteShim::JournalDelete d;
        d.database = journal.chopped(int(std::strlen("-journal")));
        d.databaseBytes = ReadAll(d.database);
        d.journalBytes = ReadAll(journal);
        d.syncsFolder = syncDir != 0;
        seen(d);
    }
    return g_base->xDelete(g_base, name, syncDir);
}

int Access(sqlite3_vfs*, const char* n, int f, int* r) { return g_base->xAccess(g_base, n, f, r); }
int FullPathname(sqlite3_vfs*, const char* n, int size, char* out) {
    return g_base->xFullPathname(g_base, n, size, out);
}
void* DlOpen(sqlite3_vfs*, const char* n) { return g_base->xDlOpen(g_base, n); }
void DlError(sqlite3_vfs*, int n, char* m) { g_base->xDlError(g_base, n, m); }
void (*DlSym(sqlite3_vfs*, void* h, const char* s))(void) { return g_base->xDlSym(g_base, h, s); }
void DlClose(sqlite3_vfs*, void* h) { g_base->xDlClose(g_base, h); }
int Randomness(sqlite3_vfs*, int n, char* out) { return g_base->xRandomness(g_base, n, out); }
int Sleep(sqlite3_vfs*, int us) { return g_base->xSleep(g_base, us); }
int CurrentTime(sqlite3_vfs*, double* t) { return g_base->xCurrentTime(g_base, t); }
int GetLastError(sqlite3_vfs*, int n, char* m) { return g_base->xGetLastError(g_base, n, m); }
int CurrentTimeInt64(sqlite3_vfs*, sqlite3_int64* t) {
    return g_base->xCurrentTimeInt64(g_base, t);
}
int SetSystemCall(sqlite3_vfs*, const char* n, sqlite3_syscall_ptr p) {
    return g_base->xSetSystemCall(g_base, n, p);
}
sqlite3_syscall_ptr GetSystemCall(sqlite3_vfs*, const char* n) {
    return g_base->xGetSystemCall(g_base, n);
}
const char* NextSystemCall(sqlite3_vfs*, const char* n) {
    return g_base->xNextSystemCall(g_base, n);
}

}  // namespace

bool SqliteShim::Install() {
    if (g_base) return true;
    g_base = sqlite3_vfs_find(nullptr);
    if (!g_base || g_base->iVersion < 3) return false;
    g_shim = sqlite3_vfs{3,
                         int(sizeof(ShimFile)) + g_base->szOsFile,
                         g_base->mxPathname,
                         nullptr,
                         "cafe-test-shim",
                         nullptr,
                         Open,
                         Delete,
                         Access,
                         FullPathname,
                         DlOpen,
                         DlError,
                         DlSym,
                         DlClose,
                         Randomness,
                         Sleep,
                         CurrentTime,
                         GetLastError,
                         CurrentTimeInt64,
                         SetSystemCall,
                         GetSystemCall,
                         NextSystemCall};
    return sqlite3_vfs_register(&g_shim, 1) == SQLITE_OK;
}

void SqliteShim::FailNextWrite(const QString& databasePath) {
    std::lock_guard lock(g_mutex);
    g_failWrite = Canonical(databasePath);
}

bool SqliteShim::WriteFailurePending() {
    std::lock_guard lock(g_mutex);
    return !g_failWrite.isEmpty();
}

void SqliteShim::OnJournalDelete(std::function<void(const JournalDelete&)> seen) {
    std::lock_guard lock(g_mutex);
    g_onDelete = std::move(seen);
}
