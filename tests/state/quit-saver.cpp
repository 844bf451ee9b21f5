// quit-saver <base folder> <author name>
//
// Starts like the application's shutdown path: quits its event loop on a
// termination signal (quitOnTerminationSignals), and saves a state whose
// author is the given name through the real PersistenceStore. Prints
// "ready" once it waits for a signal; exits 0 after a normal shutdown. The
// state holds one job, titled "Article by <author name>".

#include "state/PersistenceStore.h"
#include "support/TerminationSignals.h"

#include <QCoreApplication>
#include <QDateTime>

#include <csignal>
#include <cstdio>
#include <sys/prctl.h>
#include <unistd.h>

using namespace pendrel;

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: quit-saver <base folder> <author name>\n");
        return 2;
    }
    prctl(PR_SET_PDEATHSIG, SIGKILL); // never outlive the test
    if (!quitOnTerminationSignals())
        return 3;
    PersistenceStore store(QString::fromLocal8Bit(argv[1]), QStringLiteral("com.pendrel.publisher.dev"));
    PersistedState state;
    state.settings.authorName = QString::fromLocal8Bit(argv[2]);
    JobRecord job = JobRecord::draft(ClipPayload::clipboardText(QStringLiteral("A text")), state.settings);
    job.title = QStringLiteral("Article by ") + state.settings.authorName;
    job.updatedAt = QDateTime::currentDateTimeUtc();
    state.jobs.append(job);
    store.saveState(state.settings, state.pendingClip, state.jobs);
    std::printf("ready\n");
    std::fflush(stdout);
    return app.exec();
}
