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
    };
    // `read`: the file as it was when read (else as it is now).
    void seed(int fd, const QList<JobRecord> &jobs, const QList<Place> &places,
              const FileIdentity &read = {});

    // A job's text as json::writeSortedAt(job.toJson(iso 8601 dates), depth)
    // writes it, written straight rather than through JSON values. With
    // `longTexts`, its long texts (the clip's, the checkpoints, the
    // articles) are left empty and their places noted there instead.
    [[nodiscard]] static QByteArray writeJob(const JobRecord &job, int depth,
                                             QList<std::pair<qsizetype, qsizetype>> *longTexts = nullptr);

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
    };
    [[nodiscard]] static bool writtenAlike(const Entry &entry);
    [[nodiscard]] static bool sameAround(const Entry &entry, const QByteArray &text,
                                         const QList<std::pair<qsizetype, qsizetype>> &marks);

    QHash<QUuid, Entry> entries_;
    qsizetype lastEncodedJobs_ = 0;
};

} // namespace pendrel
