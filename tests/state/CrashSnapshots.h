#pragma once

#include "StateSamples.h"

namespace pendrel::test {

// The states crash-saver writes: snapshot k is a function of k alone and
// carries k in settings.imagesCount, so a test can rebuild what a file
// should hold from the file itself. Sizes differ from one k to the next, so
// that a file mixing two writes cannot pass for either.
class CrashSnapshots {
public:
    static constexpr int maxJobs = 16;

    CrashSnapshots()
    {
        // About 1.5 MB per snapshot: each write takes long enough to be caught midway.
        for (int i = 0; i < maxJobs; ++i)
            base_.append(richJob(i, 20000 + (i * 7919) % 40000, 30));
    }

    [[nodiscard]] PersistedState at(int k) const
    {
        PersistedState state;
        state.settings = richSettings(k % 3);
        state.settings.imagesCount = k;
        if (k % 2 == 0)
            state.pendingClip = richPendingClip();
        state.jobs = base_.mid(0, 8 + k % (maxJobs - 7));
        JobRecord &touched = state.jobs[k % state.jobs.size()];
        touched.title = QStringLiteral("Snapshot %1").arg(k);
        touched.updatedAt = sampleMoment(k % 100000);
        touched.appendLog(LogLevel::info, QStringLiteral("Saved as snapshot %1").arg(k), touched.updatedAt);
        touched.logs.last().id = sampleUuid(QStringLiteral("snapshot %1").arg(k));
        return state;
    }

    static int carried(const PersistedState &state) { return state.settings.imagesCount; }

private:
    QList<JobRecord> base_;
};

} // namespace pendrel::test
