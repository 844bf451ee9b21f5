#include "state/PersistedStateEncoder.h"

#include "support/JsonWrite.h"

namespace pendrel {

QList<QByteArray> PersistedStateEncoder::encode(const PersistedState &state)
{
    const JsonDates dates = JsonDates::iso8601();
    // Jobs that are gone drop out; the kept entries are copies that share
    // their data with the old ones.
    QHash<QUuid, Entry> entries;
    entries.reserve(state.jobs.size());
    QList<QByteArray> elements;
    elements.reserve(state.jobs.size());
    lastEncodedJobs_ = 0;
    for (const JobRecord &job : state.jobs) {
        const auto known = entries_.constFind(job.id);
        Entry entry;
        if (known != entries_.constEnd() && known->job == job) {
            entry = *known;
        } else {
            // The depth of a job in the document: root, "jobs", element.
            entry = Entry{job, json::writeSortedAt(job.toJson(dates), 2)};
            ++lastEncodedJobs_;
        }
        elements.append(entry.text);
        entries.insert(job.id, std::move(entry));
    }
    entries_ = std::move(entries);
    const PersistedState rest{state.settings, state.pendingClip, {}};
    return json::writeSortedPieces(rest.toJson(dates), QLatin1StringView("jobs"), elements);
}

} // namespace pendrel
