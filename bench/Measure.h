#pragma once

#include "state/PersistedState.h"

#include <benchmark/benchmark.h>

#include <QString>

#include <chrono>

namespace pendrel::bench {

using Clock = std::chrono::steady_clock;

template <class F>
double secondsOf(F &&work)
{
    const Clock::time_point start = Clock::now();
    work();
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// The mean per iteration of a total, for the table to read back.
inline benchmark::Counter perIteration(double total)
{
    return benchmark::Counter(total, benchmark::Counter::kAvgIterations);
}

// The synthetic history of one size. Only one size is kept at a time:
// 5,000 jobs hold more than 2 GB of text.
const PersistedState &history(int jobs);

// The sizes every state-file case runs at.
inline constexpr int kSizes[] = {100, 1000, 5000};

// Registration, in the order the table lists the cases.
void registerStateFileCases(int jobs);
void registerStartupCase(const QString &publisher, int jobs);
void registerColdStartupCase(const QString &publisher, int jobs);
void registerCaptureCases(const QString &publisher, int jobs);
void registerSaveStallCase(int jobs);

} // namespace pendrel::bench
