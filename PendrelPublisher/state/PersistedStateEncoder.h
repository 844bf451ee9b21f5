#pragma once

#include "state/PersistedState.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QUuid>

namespace pendrel {

// Writes the state file's text again after each change while encoding only
// the jobs that changed: every job's text is kept with a copy of the record
// it came from, and a job equal to its copy (a quick comparison while the
// two still share their data) has the same text. A long history thus costs
// one comparison per job, not a full encoding, on every save. The pieces,
// joined, are byte for byte PersistedState::encode(). Not thread-safe: the
// store uses it on its own thread only.
class PersistedStateEncoder {
public:
    [[nodiscard]] QList<QByteArray> encode(const PersistedState &state);

    // How many jobs the last encode() had to encode.
    [[nodiscard]] qsizetype lastEncodedJobs() const { return lastEncodedJobs_; }

private:
    struct Entry {
        JobRecord job;
        QByteArray text;
    };

    QHash<QUuid, Entry> entries_;
    qsizetype lastEncodedJobs_ = 0;
};

} // namespace pendrel
