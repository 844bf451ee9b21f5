// The longest the main thread stands still while the application saves a
// burst of job updates: each update is the caller's share (the change, the
// save request) followed by a turn of the event loop, which also runs the
// store's hand-overs. The longest of these turns is the stall the user sees.

#include "Measure.h"
#include "SyntheticHistory.h"

#include "state/AppConfiguration.h"
#include "state/PersistenceStore.h"

#include <QCoreApplication>
#include <QTemporaryDir>

#include <algorithm>
#include <atomic>

namespace pendrel::bench {

namespace {

void saveBurstStall(benchmark::State &st, int jobs)
{
    constexpr int kUpdates = 500;
    PersistedState state = history(jobs);
    state.jobs.detach(); // the application's own list, not shared with the generated history
    QTemporaryDir folder;
    std::atomic<bool> failed = false; // set on the store's thread
    QObject context;                  // the hand-overs' thread is this one; it outlives the store
    PersistenceStore store(folder.path(), AppConfiguration::bundleIdentifier());
    store.setLogSink([&failed](const QString &) { failed = true; });
    // As after start-up: the file is there, and the store takes the
    // application's state when it is ready for it.
    store.saveState(state.settings, state.pendingClip, state.jobs);
    store.waitForPendingSaves();
    store.setSnapshotSource(&context, [&state] { return state; });

    double longest = 0;
    int tick = 0;
    for (auto _ : st) {
        double burst = 0;
        for (int i = 0; i < kUpdates; ++i, ++tick) {
            const double turn = secondsOf([&] {
                // The queue's job moves on by a stage (eight per job, then the next).
                advanceStage(state.jobs[(tick / 8) % state.jobs.size()], tick);
                store.requestSave();
                QCoreApplication::processEvents();
            });
            longest = std::max(longest, turn);
            burst += turn;
        }
        st.SetIterationTime(burst);
        store.waitForPendingSaves(); // not the caller's: the application never waits
    }
    st.counters["longest_stall_s"] = longest;
    if (failed)
        st.SkipWithError("a save failed");
}

} // namespace

void registerSaveStallCase(int jobs)
{
    benchmark::RegisterBenchmark(("save-stall/" + std::to_string(jobs)).c_str(),
                                 [jobs](benchmark::State &st) { saveBurstStall(st, jobs); })
        ->UseManualTime()
        ->Iterations(3)
        ->Unit(benchmark::kMillisecond);
}

} // namespace pendrel::bench
