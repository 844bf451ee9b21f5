// pendrel-bench: the state file's, start-up's and capture's costs with
// synthetic histories of 100, 1,000 and 5,000 jobs, printed as one table
// with the machine's load beside it.
//   pendrel-bench [--publisher=PATH] [Google Benchmark flags, e.g. --benchmark_filter=load]

#include "Measure.h"
#include "TableReporter.h"

#include <QCoreApplication>

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
