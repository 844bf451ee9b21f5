#include "state/PersistedState.h"

#include "support/JsonParse.h"
#include "support/JsonRead.h"
#include "support/JsonWrite.h"

#include <QJsonArray>

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

namespace pendrel {

using L = QLatin1StringView;

namespace {

// Packs the texts of finished jobs on a second thread while the reading
// goes on: compressing a long history takes about as long as reading it.
class Packer {
public:
    Packer() = default;
    Packer(const Packer &) = delete;
    Packer &operator=(const Packer &) = delete;
    ~Packer() { finish(); }

    // The job is the packer's until finish().
    void add(JobRecord *job)
    {
        {
            const std::lock_guard lock(mutex_);
            queue_.push_back(job);
        }
        if (!thread_.joinable())
            thread_ = std::thread([this] { run(); });
        wake_.notify_one();
    }

    // Returns once every job handed over is packed.
    void finish()
    {
        if (!thread_.joinable())
            return;
        {
            const std::lock_guard lock(mutex_);
            done_ = true;
        }
        wake_.notify_one();
        thread_.join();
        done_ = false;
    }

private:
    void run()
    {
        std::unique_lock lock(mutex_);
        for (;;) {
            wake_.wait(lock, [this] { return done_ || !queue_.empty(); });
            if (queue_.empty())
                return;
            JobRecord *job = queue_.front();
            queue_.pop_front();
            lock.unlock();
            job->packTexts();
            lock.lock();
        }
    }

    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<JobRecord *> queue_;
    bool done_ = false;
    std::thread thread_;
};

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

PersistedState PersistedState::decode(const QByteArray &bytes, QList<QByteArrayView> *jobBytes)
{
    const JsonDates dates = JsonDates::iso8601();
    // Each job is decoded as soon as it is parsed: the JSON values of a long
    // history never exist all at once, and the work stays in the cache. A
    // fault is held back until the whole document is read, so that the
    // answer is the one reading the whole document gives (where a repeated
    // "jobs" replaces the earlier one, and the settings are read first).
    std::deque<JobRecord> jobs; // where they stay put while the packer has them
    Packer packer;              // after the jobs: it stops before they go
    QList<QByteArrayView> where;
    std::optional<DecodingError> failure;
    bool streamed = false;
    const json::RootArrayReader reader{
        L("jobs"),
        [&] {
            streamed = true;
            packer.finish();
            jobs.clear();
            where.clear();
            failure.reset();
        },
        [&](const QJsonValue &element, QByteArrayView text) {
            if (failure)
                return;
            try {
                jobs.push_back(JobRecord::fromJson(element, dates));
                if (!jobs.back().isWaiting())
                    packer.add(&jobs.back()); // finished: read again only when asked for
                where.append(text);
            } catch (DecodingError &error) {
                error.prependIndex(qsizetype(jobs.size()));
                error.prependKey(QStringLiteral("jobs"));
                failure = error;
            }
        },
    };
    PersistedState state = fromJson(json::parseJson(bytes, reader), dates);
    if (failure)
        throw *failure;
    packer.finish();
    if (streamed) {
        state.jobs.reserve(qsizetype(jobs.size()));
        for (JobRecord &job : jobs)
            state.jobs.append(std::move(job));
    }
    if (jobBytes)
        *jobBytes = streamed ? std::move(where) : QList<QByteArrayView>();
    return state;
}

} // namespace pendrel
