// pendrel-bench: the state file's, start-up's and capture's costs with
// synthetic histories of 100, 1,000 and 5,000 jobs, printed as one table
// with the machine's load beside it.
//   pendrel-bench [--publisher=PATH] [Google Benchmark flags, e.g. --benchmark_filter=load]
//   pendrel-bench --write-history=JOBS:FOLDER
//     writes the synthetic history's state file, as the store writes it, into
//     the bundle's folder in FOLDER (a data home's PendrelPublisher
//     folder), to profile a start-up by hand.

#include "Measure.h"
#include "TableReporter.h"

#include "state/AppConfiguration.h"
#include "state/PersistenceStore.h"

#include <QCoreApplication>

#include <cstdio>
#include <cstring>

int main(int argc, char **argv)
{
    benchmark::Initialize(&argc, argv);
    QString publisher = QStringLiteral(PENDREL_PUBLISHER_PATH);
    for (int i = 1; i < argc; ++i) {
        constexpr const char *flag = "--publisher=";
        if (std::strncmp(argv[i], flag, std::strlen(flag)) == 0)
            publisher = QString::fromLocal8Bit(argv[i] + std::strlen(flag));
    }
    QCoreApplication app(argc, argv); // for QProcess
    for (int i = 1; i < argc; ++i) {
        constexpr const char *flag = "--write-history=";
        if (std::strncmp(argv[i], flag, std::strlen(flag)) != 0)
            continue;
        const QString request = QString::fromLocal8Bit(argv[i] + std::strlen(flag));
        const qsizetype colon = request.indexOf(u':');
        const int jobs = colon > 0 ? request.left(colon).toInt() : 0;
        if (jobs <= 0) {
            std::fprintf(stderr, "--write-history=JOBS:FOLDER\n");
            return 2;
        }
        pendrel::PersistenceStore store(request.mid(colon + 1), pendrel::AppConfiguration::bundleIdentifier());
        const pendrel::PersistedState &state = pendrel::bench::history(jobs);
        store.saveState(state.settings, state.pendingClip, state.jobs);
        store.waitForPendingSaves();
        std::printf("%s\n", qPrintable(store.currentFilePath()));
        return 0;
    }

    // Size by size, so that only one history is in memory at a time.
    pendrel::bench::registerCaptureCases(publisher, 0);
    for (const int jobs : pendrel::bench::kSizes) {
        pendrel::bench::registerStateFileCases(jobs);
        pendrel::bench::registerSaveStallCase(jobs);
        if (jobs >= 1000)
            pendrel::bench::registerStartupCase(publisher, jobs);
        if (jobs == 1000) {
            pendrel::bench::registerColdStartupCase(publisher, jobs);
            pendrel::bench::registerCaptureCases(publisher, jobs);
        }
    }
    pendrel::bench::TableReporter table;
    benchmark::RunSpecifiedBenchmarks(&table);
    benchmark::Shutdown();
    return 0;
}
