#pragma once

#include "state/PersistedState.h"
#include "support/PrivateFiles.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QUuid>

#include <memory>

namespace pendrel {

// Writes the state file's text again after each change while encoding only
// the jobs that changed: every job written is kept with a copy of the record
// it came from, and a job equal to its copy (a quick comparison while the
// two still share their data) has the same text. The text of such a job is
// not held in memory but copied from the file last written, which stays
// open for that: a long history's text runs to hundreds of megabytes. The
// pieces, joined, are byte for byte PersistedState::encode(). Not
// thread-safe: the store uses it on its own thread only.
class PersistedStateEncoder {
public:
    [[nodiscard]] QList<FilePiece> encode(const PersistedState &state);
    // The pieces of the last encode() are now the file open as `fd` (taken
    // over): later saves copy unchanged jobs from there.
    void written(int fd);
    // The jobs of the file just read, open as `fd` (taken over), each at
    // its place there. The first save copies those whose bytes are exactly
    // what encoding them gives instead of encoding them, checking that by
    // encoding all but their long texts, which only need to be written in
    // the writer's form.
    struct Place {
        qint64 offset = 0;
        qint64 length = 0;
        QList<std::pair<qint64, qint64>> longTexts; // the bodies of its long texts, in order
        bool longTextsInWritersForm = false;        // known while reading: then only the rest is compared
        // From the index (StateIndex): the job is known to be written as its
        // record encodes, its outline is there, and its long strings (place
        // of the opening quote in the job's text, size with the quotes) are these.
        qint64 outlineOffset = -1;
        qint64 outlineLength = 0;
        quint64 outlineSum = 0;
        QList<std::pair<qint64, qint64>> strings;
    };
    // `read`: the file as it was when read (else as it is now). `indexFd`
    // (taken over): the index the places' outlines are in, as `indexRead`.
    void seed(int fd, const QList<JobRecord> &jobs, const QList<Place> &places,
              const FileIdentity &read = {}, int indexFd = -1, const FileIdentity &indexRead = {});

    // The index of the file last written (StateIndex): empty where it cannot
    // be made (a job read but not yet compared with its record, a repeated
    // id) or was written since that file.
    [[nodiscard]] QList<FilePiece> indexPieces();
    // The pieces of the last indexPieces() are now the index open as `fd`
    // (taken over): the next one copies the unchanged jobs' outlines from it.
    void indexWritten(int fd);
    // The index could not be written; `sourceChanged`: because the last one
    // was changed by someone else, whose outlines are then made again.
    void indexNotWritten(bool sourceChanged);
    // Lets go of the index the outlines are copied from (they are made again
    // from the records); false when none was held.
    bool releaseIndex();

    // A job's text as json::writeSortedAt(job.toJson(iso 8601 dates), depth)
    // writes it, written straight rather than through JSON values. With
    // `longTexts`, its long texts (the clip's, the checkpoints, the
    // articles) are left empty and their places noted there instead.
    // `logsAt`, when given, receives the log lines' array's place and size.
    [[nodiscard]] static QByteArray writeJob(const JobRecord &job, int depth,
                                             QList<std::pair<qsizetype, qsizetype>> *longTexts = nullptr,
                                             std::pair<qsizetype, qsizetype> *logsAt = nullptr);
    // The job's text whole, noting what its index outline leaves out (the
    // place and size of each long text's string, quotes included, and of a
    // finished job's log lines' array, brackets included) in `cuts`, in order.
    [[nodiscard]] static QByteArray writeJobNoting(const JobRecord &job, int depth,
                                                   QList<std::pair<qint64, qint64>> &cuts);

    // How many jobs the last encode() had to encode.
    [[nodiscard]] qsizetype lastEncodedJobs() const { return lastEncodedJobs_; }

private:
    // An open file whose bytes the entries refer to; closed with the last.
    struct HeldFile {
        int fd = -1;
        explicit HeldFile(int descriptor, const FileIdentity &seen = {});
        ~HeldFile();
        // Not changed in place since (by someone else: ours are replaced whole).
        [[nodiscard]] bool intact() const;
        FileIdentity identity;
        HeldFile(const HeldFile &) = delete;
        HeldFile &operator=(const HeldFile &) = delete;
    };
    struct Entry {
        JobRecord job;
        QByteArray text;                // until it is in a written file
        std::shared_ptr<HeldFile> file; // else its bytes are there
        qint64 offset = 0;
        qint64 length = 0;
        qint64 nextOffset = 0;                      // where the last encode() puts it
        bool checked = true;                        // false: read, not yet known to be the writer's form
        QList<std::pair<qint64, qint64>> longTexts; // while not checked: as Place has them
        bool longTextsInWritersForm = false;
        // For the index: the job's text with its long texts left empty,
        // until it is in an index written (then there), and where each long
        // string stands in the job's text.
        bool outlined = false;
        QByteArray skeleton;
        std::shared_ptr<HeldFile> skeletonFile;
        qint64 skeletonOffset = 0;
        qint64 skeletonLength = 0;
        qint64 nextSkeletonOffset = 0;
        quint64 skeletonSum = 0;
        QList<std::pair<qint64, qint64>> strings;
    };
    // Also outlines the entry when it is.
    [[nodiscard]] static bool writtenAlike(Entry &entry);
    [[nodiscard]] static bool sameAround(const Entry &entry, const QByteArray &text,
                                         const QList<std::pair<qsizetype, qsizetype>> &marks);

    QHash<QUuid, Entry> entries_;
    qsizetype lastEncodedJobs_ = 0;
    QList<QUuid> order_;   // the jobs of the last encode()
    PersistedState rest_;  // its settings and pending clip
    FileIdentity written_; // the file it was written to
    bool indexable_ = false;
};

} // namespace pendrel
