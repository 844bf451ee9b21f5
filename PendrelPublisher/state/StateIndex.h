#pragma once

#include "state/PersistedState.h"
#include "state/PersistedStateEncoder.h"
#include "support/PrivateFiles.h"

#include <QString>

#include <memory>
#include <optional>

namespace pendrel {

// A small index of the state file, written beside it after saves: the
// document with every job's long texts (and a finished job's log lines)
// left empty, and where those stand in the state file. A long history is mostly its articles; starting
// from the index, the program has its whole state (every record, the texts
// still to come) after reading a tenth of the bytes, and reads the articles
// afterwards, on the store's thread.
//
// The index names the state file it describes exactly (device, inode,
// size, modification and change times): a state file written by anyone
// else, or replaced since, does not match, and the state file is then read
// whole as before. The index is a cache: a missing, stale or damaged one
// only costs that slower start.
namespace StateIndex {

inline constexpr QStringView fileName = u"clipper-state.index";

struct Header {
    FileIdentity stateFile;
    qsizetype jobs = 0;
    qint64 tableBytes = 0; // the table of places that follows the header line
    quint64 restSum = 0;   // of the table and of the outline between its jobs (each job's is in the table)
};
[[nodiscard]] QByteArray headerLine(const Header &header);

// A quick sum of bytes, against damage (not against anyone: the folder is
// the user's own); combine() chains sums in order.
[[nodiscard]] quint64 checksum(QByteArrayView bytes);
[[nodiscard]] quint64 combine(quint64 sum, quint64 next);

// The state file's bytes, read after the state was taken from the index.
struct Pending {
    int fd = -1; // the state file as the index matched it
    FileIdentity identity;
    std::shared_ptr<char[]> bytes; // its size, filled by finishReading()
    std::shared_ptr<JobTextGate> gate;
    QList<std::shared_ptr<JobText::Block>> blocks; // the finished jobs' texts, waiting on `gate`
    QList<std::shared_ptr<JobLogs::Source>> logs;  // and their log lines
    Pending() = default;
    Pending(const Pending &) = delete;
    Pending &operator=(const Pending &) = delete;
    ~Pending();
};

struct Loaded {
    PersistedState state;
    // For the encoder: each job's place in the state file and its outline's
    // in the index, with descriptors of both (taken over by seed()).
    QList<PersistedStateEncoder::Place> places;
    int stateFd = -1;
    int indexFd = -1;
    FileIdentity indexIdentity;
    std::unique_ptr<Pending> pending;
    Loaded() = default;
    Loaded(Loaded &&other) noexcept;
    Loaded &operator=(Loaded &&) = delete;
    Loaded(const Loaded &) = delete;
    ~Loaded();
};

// The state from the index at `indexPath`, when it matches the state file
// at `statePath` exactly; nothing otherwise (then read the state file).
[[nodiscard]] std::optional<Loaded> load(const QString &statePath, const QString &indexPath);

// Reads the state file's bytes for the texts and opens their gate: true
// when the file was still the one the index described, all through. On
// false the texts read as empty, and whatever is saved next would lose the
// articles: the caller must not save over the file.
[[nodiscard]] bool finishReading(Pending &pending);

} // namespace StateIndex

} // namespace pendrel
