// crash-saver <base folder> <first k> [--named-temporaries]
//
// Starts like the application (reads the state file once), then saves
// CrashSnapshots::at(k), at(k + 1), ... through the real PersistenceStore
// until it is killed. Reports on stdout, one line each:
//   loaded <k>    what the start read (0: nothing usable)
//   handed <k>    before handing snapshot k to the store
//   durable <k>   after every save up to k is on disk
// --named-temporaries makes unnamed temporary files (O_TMPFILE) unavailable,
// as on NFS, so each write goes through a named file beside the state file.

#include "state/PersistenceStore.h"

#include "CrashSnapshots.h"

#include <QByteArray>
#include <QString>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <dlfcn.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <unistd.h>

using namespace pendrel;
using namespace pendrel::test;

namespace {

bool refuseUnnamedTemporaries = false;

void report(const char *what, int k)
{
    char line[64];
    const int size = std::snprintf(line, sizeof line, "%s %d\n", what, k);
    // One write per line: the test reads whatever reached the pipe before the kill.
    if (::write(STDOUT_FILENO, line, std::size_t(size)) != size)
        std::_Exit(3);
}

} // namespace

// Qt opens its temporary files through open64; this definition takes its
// place and answers O_TMPFILE the way a file system without it does, which
// makes Qt fall back to a named temporary file.
extern "C" int open64(const char *path, int flags, ...)
{
    using Open = int (*)(const char *, int, ...);
    static const auto next = reinterpret_cast<Open>(dlsym(RTLD_NEXT, "open64"));
    if (refuseUnnamedTemporaries && (flags & O_TMPFILE) == O_TMPFILE) {
        errno = EOPNOTSUPP;
        return -1;
    }
    mode_t mode = 0;
    if ((flags & O_CREAT) || (flags & O_TMPFILE) == O_TMPFILE) {
        va_list args;
        va_start(args, flags);
        mode = mode_t(va_arg(args, int));
        va_end(args);
    }
    return next(path, flags, mode);
}

int main(int argc, char **argv)
{
    if (argc < 3 || argc > 4 || (argc == 4 && QByteArray(argv[3]) != "--named-temporaries")) {
        std::fprintf(stderr, "usage: crash-saver <base folder> <first k> [--named-temporaries]\n");
        return 2;
    }
    // Never outlive a test that died without killing us.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() == 1)
        return 2;
    refuseUnnamedTemporaries = argc == 4;

    const QString base = QString::fromLocal8Bit(argv[1]);
    const int first = QByteArray(argv[2]).toInt();
    const CrashSnapshots snapshots;
    PersistenceStore store(base, QStringLiteral("com.pendrel.publisher.dev"));
    store.setLogSink([](const QString &line) {
        // A failed save would make the durable lines untrue.
        std::fprintf(stderr, "%s\n", qPrintable(line));
        std::_Exit(4);
    });

    report("loaded", CrashSnapshots::carried(store.loadStateNow()));
    for (int k = first; k < first + 1000000; ++k) {
        PersistedState state = snapshots.at(k);
        report("handed", k);
        store.saveState(state.settings, state.pendingClip, state.jobs);
        if (k % 2 == 0) {
            // Three in a row: the second waits while the first is written,
            // and the third replaces it.
            for (int more = 0; more < 2; ++more) {
                state = snapshots.at(++k);
                report("handed", k);
                store.saveState(state.settings, state.pendingClip, state.jobs);
            }
        }
        store.waitForPendingSaves();
        report("durable", k);
    }
    return 0;
}
