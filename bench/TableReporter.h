#pragma once

#include <benchmark/benchmark.h>

#include <map>
#include <string>
#include <vector>

namespace pendrel::bench {

// Collects every case and prints one table at the end: each figure beside
// the reference it is judged against, the ratio, the target and whether it
// is met (a miss says by how much), then the machine's load before and
// after. Progress goes to stderr meanwhile.
class TableReporter : public benchmark::BenchmarkReporter {
public:
    bool ReportContext(const Context &context) override;
    void ReportRuns(const std::vector<Run> &runs) override;
    void Finalize() override;

private:
    std::map<std::string, Run> runs_;
    std::string loadAtStart_;
};

} // namespace pendrel::bench
