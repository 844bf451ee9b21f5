#include "state/PersistedState.h"

#include "support/JsonParse.h"
#include "support/JsonRead.h"
#include "support/JsonWrite.h"

#include <QJsonArray>

namespace pendrel {

using L = QLatin1StringView;

QJsonObject PersistedState::toJson(const JsonDates &dates) const
{
    QJsonArray jobArray;
    for (const JobRecord &job : jobs)
        jobArray.append(job.toJson(dates));
    QJsonObject o{{L("settings"), settings.toJson(dates)}, {L("jobs"), jobArray}};
    json::insertOptional(o, L("pendingClip"), pendingClip,
                         [&](const ClipPayload &c) { return c.toJson(dates); });
    return o;
}

PersistedState PersistedState::fromJson(const QJsonValue &value, const JsonDates &dates)
{
    const json::ObjectReader r(value, dates);
    return PersistedState{
        r.requireRecord<ClipperSettings>(L("settings")),
        r.optionalRecord<ClipPayload>(L("pendingClip")),
        r.requireArray<JobRecord>(L("jobs")),
    };
}

QByteArray PersistedState::encode() const
{
    return json::writeSorted(toJson(JsonDates::iso8601()));
}

PersistedState PersistedState::decode(const QByteArray &bytes, QList<QByteArrayView> *jobBytes)
{
    const JsonDates dates = JsonDates::iso8601();
    // Each job is decoded as soon as it is parsed: the JSON values of a long
    // history never exist all at once, and the work stays in the cache. A
    // fault is held back until the whole document is read, so that the
    // answer is the one reading the whole document gives (where a repeated
    // "jobs" replaces the earlier one, and the settings are read first).
    QList<JobRecord> jobs;
    QList<QByteArrayView> where;
    std::optional<DecodingError> failure;
    bool streamed = false;
    const json::RootArrayReader reader{
        L("jobs"),
        [&] {
            streamed = true;
            jobs.clear();
            where.clear();
            failure.reset();
        },
        [&](const QJsonValue &element, QByteArrayView text) {
            if (failure)
                return;
            try {
                JobRecord job = JobRecord::fromJson(element, dates);
                if (!job.isWaiting())
                    job.packTexts(); // finished: read again only when asked for
                jobs.append(std::move(job));
                where.append(text);
            } catch (DecodingError &error) {
                error.prependIndex(jobs.size());
                error.prependKey(QStringLiteral("jobs"));
                failure = error;
            }
        },
    };
    PersistedState state = fromJson(json::parseJson(bytes, reader), dates);
    if (failure)
        throw *failure;
    if (streamed)
        state.jobs = std::move(jobs);
    if (jobBytes)
        *jobBytes = streamed ? std::move(where) : QList<QByteArrayView>();
    return state;
}

} // namespace pendrel
