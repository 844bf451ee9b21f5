#include "state/PersistedState.h"

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

PersistedState PersistedState::decode(const QByteArray &bytes)
{
    return fromJson(json::parseDocument(bytes), JsonDates::iso8601());
}

} // namespace pendrel
