#include "state/PersistedState.h"

#include "support/JsonParse.h"
#include "support/JsonRead.h"
#include "support/JsonWrite.h"

#include <QJsonArray>

#include <algorithm>
#include <array>

#include <deque>
#include <utility>

namespace pendrel {

using L = QLatin1StringView;

namespace {

// Where a job's long texts are in its JSON, in the order of longTexts().
const QList<QList<QLatin1StringView>> kLongTextPaths{
    {L("clip"), L("text")},
    {L("sourceText")},
    {L("transformResult"), L("transformedContent")},
    {L("contentAfterIllustrations")},
    {L("contentAfterHumanize")},
    {L("finalContent")},
};

std::array<JobText *, 6> longTexts(JobRecord &job)
{
    const auto some = [](std::optional<JobText> &t) { return t ? &*t : nullptr; };
    return {&job.clip.text,
            some(job.sourceText),
            job.transformResult ? &job.transformResult->transformedContent : nullptr,
            some(job.contentAfterIllustrations),
            some(job.contentAfterHumanize),
            some(job.finalContent)};
}

} // namespace

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

namespace {

// The jobs of the array (or of a stretch of it), decoded as the reader
// reaches them: the JSON values of a long history never exist all at once,
// and the work stays in the cache. A fault is held back until the whole
// document is read, so that the answer is the one reading the whole
// document gives (where a repeated "jobs" replaces the earlier one, and the
// settings are read first).
struct Collector {
    explicit Collector(std::shared_ptr<const void> bytes) : owner(std::move(bytes)) {}
    Collector(const Collector &) = delete; // its reader refers to it
    Collector &operator=(const Collector &) = delete;

    std::shared_ptr<const void> owner;
    JsonDates dates = JsonDates::iso8601();
    std::deque<JobRecord> jobs;
    QList<std::shared_ptr<JobText::Block>> blocks;
    QList<PersistedState::JobPlace> where;
    QList<JobLogEntry> logs;              // the element's, where the reader took them one by one
    std::optional<DecodingError> failure; // without the index yet
    qsizetype failedAt = 0;               // the index, within these jobs

    void clear()
    {
        jobs.clear();
        blocks.clear();
        where.clear();
        failure.reset();
    }

    // The other's jobs after these.
    void append(Collector &other)
    {
        if (!failure && other.failure) {
            failure = other.failure;
            failedAt = jobs.size() + other.failedAt;
        }
        for (JobRecord &job : other.jobs)
            jobs.push_back(std::move(job));
        blocks += std::move(other.blocks);
        where += std::move(other.where);
        other.clear();
    }

    [[nodiscard]] std::optional<DecodingError> fault() const
    {
        if (!failure)
            return std::nullopt;
        DecodingError error = *failure;
        error.prependIndex(failedAt);
        error.prependKey(QStringLiteral("jobs"));
        return error;
    }

    json::RootArrayReader reader(std::function<void()> begin, std::function<void()> taken = {})
    {
        return {
            L("jobs"),
            std::move(begin),
            kLongTextPaths,
            {{L("logs")}},
            [this](int) { logs.clear(); },
            [this](int, const QList<json::FlatMember> &members) {
                std::optional<JobLogEntry> entry = JobLogEntry::fromMembers(members);
                if (entry)
                    logs.append(std::move(*entry));
                return entry.has_value();
            },
            [this](const QJsonValue &element, QByteArrayView text, const json::ElementParts &parts) {
                add(element, text, parts);
            },
            std::move(taken),
        };
    }

private:
    void add(const QJsonValue &element, QByteArrayView text, const json::ElementParts &parts)
    {
        if (failure)
            return;
        const QList<QByteArrayView> &bodies = parts.bodies;
        try {
            jobs.push_back(JobRecord::fromJson(element, dates));
            JobRecord &job = jobs.back();
            if (parts.records & 1)
                job.logs = std::exchange(logs, {});
            const std::array<JobText *, 6> texts = longTexts(job);
            for (qsizetype i = 0; i < bodies.size(); ++i) {
                // Every string there was left in the bytes, the last of a repeated key's.
                Q_ASSERT(!texts.at(i) || !bodies.at(i).isNull());
                if (texts.at(i) && job.isWaiting()) // a job still to run works on them
                    *texts.at(i) = json::decodeStringBody(bodies.at(i));
            }
            if (!job.isWaiting()) {
                const auto body = [&](int i) { return std::pair(texts.at(i), bodies.at(i)); };
                blocks.append(
                    JobText::borrowTogether(owner, {body(0), body(1), body(2), body(3), body(4), body(5)}));
            }
            PersistedState::JobPlace place{text, {}, true};
            for (qsizetype i = 0; i < bodies.size(); ++i) {
                if (texts.at(i)) {
                    place.longTexts.append(bodies.at(i));
                    place.longTextsInWritersForm = place.longTextsInWritersForm
                                                   && (parts.writersForm >> i & 1) && !bodies.at(i).isNull();
                }
            }
            if (place.longTextsInWritersForm)
                std::sort(place.longTexts.begin(), place.longTexts.end(),
                          [](QByteArrayView a, QByteArrayView b) { return a.data() < b.data(); });
            else
                place.longTexts.clear();
            where.append(std::move(place));
        } catch (const DecodingError &error) {
            failure = error;
            failedAt = qsizetype(jobs.size());
        }
    }
};

// Where a second reader may start: a job's first line as the writer writes
// it, about halfway. A guess, checked by the first reader arriving there.
qsizetype secondHalf(const QByteArray &bytes)
{
    // Below this, a second thread costs more than it saves. (An index of a
    // thousand jobs is about 4 MB, nearly all of it records to decode.)
    constexpr qsizetype kWorthSplitting = 1 << 20;
    if (bytes.size() < kWorthSplitting)
        return -1;
    const qsizetype found = bytes.indexOf("\n    {\n      \"", bytes.size() / 2);
    return found < 0 ? -1 : found + 5; // at the brace
}

} // namespace

PersistedState PersistedState::decode(const QByteArray &bytes, QList<JobPlace> *places,
                                      std::shared_ptr<const void> owner,
                                      QList<std::shared_ptr<JobText::Block>> *borrowed)
{
    const JsonDates dates = JsonDates::iso8601();
    // Finished jobs' long texts stay in the bytes they were read from until
    // packed: something must keep those.
    std::shared_ptr<const QByteArray> kept;
    if (!owner) {
        kept = std::make_shared<const QByteArray>(const_cast<QByteArray &>(bytes).data_ptr().isMutable()
                                                      ? bytes
                                                      : QByteArray(bytes.constData(), bytes.size()));
        owner = kept;
    }
    const QByteArray &text = kept ? *kept : bytes;
    Collector first{owner};
    Collector second{owner};
    bool streamed = false;
    const json::RootArrayReader reader = first.reader(
        [&] {
            streamed = true;
            first.clear();
        },
        [&] { first.append(second); });
    const qsizetype from = secondHalf(text);
    const QJsonValue root =
        from < 0 ? json::parseJson(text, reader) : json::parseJson(text, reader, second.reader([] {}), from);
    PersistedState state = fromJson(root, dates);
    if (const std::optional<DecodingError> fault = first.fault())
        throw *fault;
    if (!borrowed) { // packed before this returns
        JobTextPacker packer;
        packer.add(first.blocks);
        packer.finish();
    }
    if (streamed) {
        state.jobs.reserve(qsizetype(first.jobs.size()));
        for (JobRecord &job : first.jobs)
            state.jobs.append(std::move(job));
    }
    if (places)
        *places = streamed ? std::move(first.where) : QList<JobPlace>();
    if (borrowed)
        *borrowed = std::move(first.blocks);
    return state;
}

} // namespace pendrel
