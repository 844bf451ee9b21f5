#pragma once

#include "state/PersistedState.h"

#include <QtGlobal>

namespace pendrel::bench {

// A small, fast, fully reproducible generator (SplitMix64): the same seed
// gives the same history on every machine and compiler, which
// std::uniform_int_distribution does not promise.
class Random {
public:
    explicit Random(quint64 seed) : state_(seed) {}
    quint64 next();
    // Uniform in [low, high].
    int between(int low, int high);
    // True with the given chance in percent.
    bool percent(int chance) { return between(1, 100) <= chance; }
    QUuid uuid();

private:
    quint64 state_;
};

// A job history as a long-time user accumulates it: finished articles of
// 20 to 60 KB with every checkpoint kept (source text, transform, the
// illustrated, humanized and final content), 8 to 200 log lines, some
// failed or aborted jobs and crosspost results on about a third of them.
// Newest first, as the application keeps its list. Deterministic in
// (jobCount, seed).
PersistedState syntheticHistory(int jobCount, quint64 seed = 2026);

// What the queue does to a job when one stage ends: the step moves on, a
// log line is appended (oldest dropped past the limit) and the job is
// stamped. `tick` makes every call distinct.
void advanceStage(JobRecord &job, int tick);

} // namespace pendrel::bench
