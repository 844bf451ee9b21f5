#include "state/PersistedStateEncoder.h"

#include "support/JsonWrite.h"

#include <unistd.h>

namespace pendrel {

PersistedStateEncoder::HeldFile::~HeldFile()
{
    if (fd >= 0)
        ::close(fd);
}

QList<FilePiece> PersistedStateEncoder::encode(const PersistedState &state)
{
    const JsonDates dates = JsonDates::iso8601();
    // Jobs that are gone drop out; the kept entries are copies that share
    // their data with the old ones.
    QHash<QUuid, Entry> entries;
    entries.reserve(state.jobs.size());
    QList<QByteArray> elements;
    elements.reserve(state.jobs.size());
    QList<FilePiece> held; // per job: its bytes in the file last written, if there
    held.reserve(state.jobs.size());
    lastEncodedJobs_ = 0;
    for (const JobRecord &job : state.jobs) {
        const auto known = entries_.constFind(job.id);
        Entry entry;
        if (known != entries_.constEnd() && known->job == job) {
            entry = *known;
        } else {
            // The depth of a job in the document: root, "jobs", element.
            entry.job = job;
            entry.text = json::writeSortedAt(job.toJson(dates), 2);
            ++lastEncodedJobs_;
        }
        elements.append(entry.text); // empty for a job held in a file: its place is taken below
        held.append(entry.file ? FilePiece{{}, entry.file->fd, entry.offset, entry.length} : FilePiece{});
        entries.insert(job.id, std::move(entry));
    }
    const PersistedState rest{state.settings, state.pendingClip, {}};
    const QList<QByteArray> text = json::writeSortedPieces(rest.toJson(dates), QLatin1StringView("jobs"), elements);

    QList<FilePiece> pieces;
    pieces.reserve(text.size());
    qint64 at = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        FilePiece piece{text.at(i)};
        if (i % 2 == 1 && i / 2 < state.jobs.size()) {
            if (held.at(i / 2).fd >= 0)
                piece = held.at(i / 2);
            entries[state.jobs.at(i / 2).id].nextOffset = at; // a repeated id: the last one's entry, the last one's place
        }
        at += piece.size();
        pieces.append(std::move(piece));
    }
    entries_ = std::move(entries);
    return pieces;
}

void PersistedStateEncoder::written(int fd)
{
    const auto file = std::make_shared<HeldFile>(fd);
    for (Entry &entry : entries_) {
        if (!entry.file)
            entry.length = entry.text.size();
        entry.text = QByteArray();
        entry.file = file;
        entry.offset = entry.nextOffset;
    }
}

} // namespace pendrel
