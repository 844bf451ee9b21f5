#include "model/Job.h"

#include "support/JsonRead.h"
#include "support/JsonWrite.h"
#include "support/Error.h"
#include "support/Uuid.h"

#include <QJsonArray>

#include <algorithm>
#include <mutex>
#include <array>

namespace pendrel {

using L = QLatin1StringView;

namespace {

template <class T>
QJsonArray recordArray(const QList<T> &records, const JsonDates &dates)
{
    QJsonArray array;
    for (const T &record : records)
        array.append(record.toJson(dates));
    return array;
}

QJsonObject stringMap(const QMap<QString, QString> &map)
{
    QJsonObject object;
    for (auto it = map.constBegin(); it != map.constEnd(); ++it)
        object.insert(it.key(), it.value());
    return object;
}

} // namespace

QString jobStepLabel(JobStep step)
{
    switch (step) {
    case JobStep::prepare:
        return QStringLiteral("Preparing");
    case JobStep::extract:
        return QStringLiteral("Extracting");
    case JobStep::analyze:
        return QStringLiteral("Analyzing");
    case JobStep::transform:
        return QStringLiteral("Transforming");
    case JobStep::illustrations:
        return QStringLiteral("Generating images");
    case JobStep::humanize:
        return QStringLiteral("Humanizing");
    case JobStep::save:
        return QStringLiteral("Saving");
    case JobStep::voiceover:
        return QStringLiteral("Queueing voice-over");
    case JobStep::done:
        return QStringLiteral("Done");
    case JobStep::error:
        return QStringLiteral("Error");
    case JobStep::aborted:
        return QStringLiteral("Aborted");
    }
    return {};
}

// JobLogEntry

QJsonObject JobLogEntry::toJson(const JsonDates &dates) const
{
    return QJsonObject{
        {L("id"), uuidString(id)},
        {L("timestamp"), dates.encode(timestamp)},
        {L("level"), enumString(level)},
        {L("message"), message},
    };
}

JobLogEntry JobLogEntry::fromJson(const QJsonValue &value, const JsonDates &dates)
{
    const json::ObjectReader r(value, dates);
    return JobLogEntry{r.requireUuid(L("id")), r.requireDate(L("timestamp")),
                       r.requireEnum<LogLevel>(L("level")), r.requireString(L("message"))};
}

std::optional<JobLogEntry> JobLogEntry::fromMembers(const QList<json::FlatMember> &members)
{
    const json::FlatMember *id = nullptr;
    const json::FlatMember *timestamp = nullptr;
    const json::FlatMember *level = nullptr;
    const json::FlatMember *message = nullptr;
    for (const json::FlatMember &m : members) {
        const json::FlatMember **slot = m.key == L("id")          ? &id
                                        : m.key == L("timestamp") ? &timestamp
                                        : m.key == L("level")     ? &level
                                        : m.key == L("message")   ? &message
                                                                  : nullptr;
        if (!slot || *slot)
            return std::nullopt;
        *slot = &m;
    }
    // Identifiers, dates and levels are ASCII; escapes in them are left to fromJson().
    if (!id || !timestamp || !level || !message || !id->plain || !timestamp->plain || !level->plain)
        return std::nullopt;
    const auto latin1 = [](QByteArrayView v) { return QString::fromLatin1(v.data(), v.size()); };
    // The short values are read through a buffer on the stack: a long
    // history has a hundred thousand log lines, and a string made for each
    // value cost a good part of loading them. Anything longer than these
    // ever are is refused as it was.
    std::array<char16_t, 40> buffer;
    const auto shortText = [&buffer](QByteArrayView v) { // a Latin-1 view, as fromLatin1() reads it
        std::copy_n(reinterpret_cast<const uchar *>(v.data()), v.size(), buffer.begin());
        return QStringView(buffer.data(), v.size());
    };
    if (id->value.size() > qsizetype(buffer.size()) || timestamp->value.size() > qsizetype(buffer.size())
        || level->value.size() > qsizetype(buffer.size()))
        return std::nullopt;
    const std::optional<QUuid> uuid = parseUuid(id->value);
    const QDateTime date = JsonDates::parseIso8601(shortText(timestamp->value));
    const std::optional<LogLevel> parsedLevel = enumFromString<LogLevel>(shortText(level->value));
    if (!uuid || !date.isValid() || !parsedLevel)
        return std::nullopt;
    return JobLogEntry{*uuid, date, *parsedLevel,
                       message->plain ? latin1(message->value) : json::decodeStringBody(message->value)};
}

QByteArray JobLogEntry::writeSortedAt(const QList<JobLogEntry> &lines, const JsonDates &dates, int depth)
{
    QList<QStringList> rows;
    rows.reserve(lines.size());
    for (const JobLogEntry &line : lines)
        rows.append({uuidString(line.id), enumString(line.level), line.message,
                     dates.encode(line.timestamp).toString()});
    return json::writeStringObjectsAt({L("id"), L("level"), L("message"), L("timestamp")}, rows, depth);
}

// JobResult

QJsonObject JobResult::toJson(const JsonDates &) const
{
    QJsonObject o{{L("articleID"), articleID}, {L("title"), title}};
    json::insertOptional(o, L("url"), url);
    return o;
}

JobResult JobResult::fromJson(const QJsonValue &value, const JsonDates &dates)
{
    const json::ObjectReader r(value, dates);
    return JobResult{r.requireString(L("articleID")), r.optionalString(L("url")),
                     r.requireString(L("title"))};
}

// JobErrorInfo

QJsonObject JobErrorInfo::toJson(const JsonDates &) const
{
    QJsonObject o{{L("message"), message}};
    json::insertOptional(o, L("status"), status);
    json::insertOptional(o, L("code"), code);
    return o;
}

JobErrorInfo JobErrorInfo::fromJson(const QJsonValue &value, const JsonDates &dates)
{
    const json::ObjectReader r(value, dates);
    return JobErrorInfo{r.requireString(L("message")), r.optionalInt<int>(L("status")),
                        r.optionalString(L("code"))};
}

// ContentMetadata

QJsonObject ContentMetadata::toJson(const JsonDates &) const
{
    return QJsonObject{
        {L("categories"), QJsonArray::fromStringList(categories)},
        {L("age"), QJsonArray::fromStringList(age)},
        {L("problems"), QJsonArray::fromStringList(problems)},
    };
}

ContentMetadata ContentMetadata::fromJson(const QJsonValue &value, const JsonDates &dates)
{
    const json::ObjectReader r(value, dates);
    return ContentMetadata{r.requireStringArray(L("categories")), r.requireStringArray(L("age")),
                           r.requireStringArray(L("problems"))};
}

// TransformResult

QJsonObject TransformResult::toJson(const JsonDates &) const
{
    QJsonObject o{
        {L("transformedContent"), transformedContent.toString()},
        {L("citations"), QJsonArray::fromStringList(citations)},
        {L("talentIntegrations"), QJsonArray::fromStringList(talentIntegrations)},
        {L("seoMeta"), stringMap(seoMeta)},
    };
    json::insertOptional(o, L("qualityScore"), qualityScore);
    json::insertOptional(o, L("seoScore"), seoScore);
    return o;
}

TransformResult TransformResult::fromJson(const QJsonValue &value, const JsonDates &dates)
{
    const json::ObjectReader r(value, dates);
    return TransformResult{
        r.requireString(L("transformedContent")), r.requireStringArray(L("citations")),
        r.optionalDouble(L("qualityScore")),      r.requireStringArray(L("talentIntegrations")),
        r.optionalDouble(L("seoScore")),          r.requireStringMap(L("seoMeta")),
    };
}

// IllustrationAsset, IllustrationMetadata

QJsonObject IllustrationAsset::toJson(const JsonDates &) const
{
    return QJsonObject{{L("id"), uuidString(id)}, {L("url"), url}};
}

IllustrationAsset IllustrationAsset::fromJson(const QJsonValue &value, const JsonDates &dates)
{
    const json::ObjectReader r(value, dates);
    return IllustrationAsset{r.requireUuid(L("id")), r.requireString(L("url"))};
}

QJsonObject IllustrationMetadata::toJson(const JsonDates &dates) const
{
    QJsonObject o{
        {L("assets"), recordArray(assets, dates)},
        {L("generatedAt"), dates.encode(generatedAt)},
    };
    json::insertOptional(o, L("generationID"), generationID);
    json::insertOptional(o, L("style"), style);
    json::insertOptional(o, L("provider"), provider);
    return o;
}

IllustrationMetadata IllustrationMetadata::fromJson(const QJsonValue &value, const JsonDates &dates)
{
    const json::ObjectReader r(value, dates);
    return IllustrationMetadata{
        r.requireArray<IllustrationAsset>(L("assets")),
        r.optionalString(L("generationID")),
        r.requireDate(L("generatedAt")),
        r.optionalString(L("style")),
        r.optionalString(L("provider")),
    };
}

// JobRecord

JobRecord JobRecord::draft(const ClipPayload &clip, const ClipperSettings &settings)
{
    const QDateTime now = QDateTime::currentDateTimeUtc();
    JobRecord job;
    job.id = QUuid::createUuid();
    job.createdAt = now;
    job.updatedAt = now;
    job.clip = clip;
    job.settingsSnapshot = settings;
    return job;
}

void JobRecord::packTexts()
{
    JobText::packTogether({
        &clip.text,
        sourceText ? &*sourceText : nullptr,
        transformResult ? &transformResult->transformedContent : nullptr,
        contentAfterIllustrations ? &*contentAfterIllustrations : nullptr,
        contentAfterHumanize ? &*contentAfterHumanize : nullptr,
        finalContent ? &*finalContent : nullptr,
    });
}

struct JobLogs::Source {
    std::once_flag once;
    std::shared_ptr<const void> owner;
    QByteArrayView bytes;
    std::shared_ptr<const JobTextGate> gate;
    QList<JobLogEntry> lines; // once read
};

JobLogs JobLogs::borrowed(std::shared_ptr<const void> owner, QByteArrayView bytes,
                          std::shared_ptr<const JobTextGate> gate, std::shared_ptr<Source> *source)
{
    JobLogs logs;
    logs.source_ = std::make_shared<Source>();
    logs.source_->owner = std::move(owner);
    logs.source_->bytes = bytes;
    logs.source_->gate = std::move(gate);
    if (source)
        *source = logs.source_;
    return logs;
}

void JobLogs::read(const std::shared_ptr<Source> &source)
{
    std::call_once(source->once, [&source] {
        // Our own writing, in a file that was checked to be the one the index
        // describes: a fault here is a file changed meanwhile, and the gate
        // then says so (no lines rather than wrong ones).
        if (source->gate && source->gate->wait()) {
            try {
                const JsonDates dates = JsonDates::iso8601();
                const QJsonValue array = json::parseJson(source->bytes);
                if (array.isArray()) {
                    QList<JobLogEntry> lines;
                    const QJsonArray items = array.toArray();
                    lines.reserve(items.size());
                    for (const QJsonValue &item : items)
                        lines.append(JobLogEntry::fromJson(item, dates));
                    source->lines = std::move(lines);
                }
            } catch (const DecodingError &) {
            }
        }
        source->owner.reset();
        source->bytes = {};
    });
}

const QList<JobLogEntry> &JobLogs::lines() const
{
    if (!source_)
        return lines_;
    read(source_);
    return source_->lines;
}

void JobLogs::own()
{
    if (!source_)
        return;
    lines_ = lines();
    source_.reset();
}

void JobRecord::appendLog(LogLevel level, const QString &message, const QDateTime &now)
{
    logs.append(JobLogEntry{QUuid::createUuid(), now, level, message});
    if (logs.size() > maxLogLines)
        logs.remove(0, logs.size() - maxLogLines);
}

QJsonObject JobRecord::toJson(const JsonDates &dates) const
{
    QJsonObject o{
        {L("id"), uuidString(id)},
        {L("status"), enumString(status)},
        {L("processing"), processing},
        {L("createdAt"), dates.encode(createdAt)},
        {L("updatedAt"), dates.encode(updatedAt)},
        {L("clip"), clip.toJson(dates)},
        {L("settingsSnapshot"), settingsSnapshot.toJson(dates)},
        {L("aborted"), aborted},
        {L("acknowledged"), acknowledged},
        {L("logs"), recordArray(logs.lines(), dates)},
        {L("notifiedSubmitted"), notifiedSubmitted},
        {L("notifiedSuccess"), notifiedSuccess},
        {L("voiceoverQueued"), voiceoverQueued},
        {L("voiceoverFailed"), voiceoverFailed},
        {L("socialPublishes"), recordArray(socialPublishes, dates)},
    };
    const auto record = [&](const auto &r) { return r.toJson(dates); };
    json::insertOptional(o, L("step"), step, [](JobStep s) { return enumString(s); });
    json::insertOptional(o, L("result"), result, record);
    json::insertOptional(o, L("error"), error, record);
    const auto text = [](const JobText &t) { return QJsonValue(t.toString()); };
    json::insertOptional(o, L("sourceText"), sourceText, text);
    json::insertOptional(o, L("sourceURL"), sourceURL);
    json::insertOptional(o, L("metadata"), metadata, record);
    json::insertOptional(o, L("transformResult"), transformResult, record);
    json::insertOptional(o, L("contentAfterIllustrations"), contentAfterIllustrations, text);
    json::insertOptional(o, L("illustrationsMetadata"), illustrationsMetadata, record);
    json::insertOptional(o, L("contentAfterHumanize"), contentAfterHumanize, text);
    json::insertOptional(o, L("articleID"), articleID);
    json::insertOptional(o, L("savedURL"), savedURL);
    json::insertOptional(o, L("finalContent"), finalContent, text);
    json::insertOptional(o, L("title"), title);
    return o;
}

JobRecord JobRecord::fromJson(const QJsonValue &value, const JsonDates &dates)
{
    const json::ObjectReader r(value, dates);
    return JobRecord{
        r.requireUuid(L("id")),
        r.requireEnum<JobStatus>(L("status")),
        r.requireBool(L("processing")),
        r.optionalEnum<JobStep>(L("step")),
        r.requireDate(L("createdAt")),
        r.requireDate(L("updatedAt")),
        r.requireRecord<ClipPayload>(L("clip")),
        r.requireRecord<ClipperSettings>(L("settingsSnapshot")),
        r.requireBool(L("aborted")),
        r.requireBool(L("acknowledged")),
        r.requireArray<JobLogEntry>(L("logs")),
        r.optionalRecord<JobResult>(L("result")),
        r.optionalRecord<JobErrorInfo>(L("error")),
        r.requireBool(L("notifiedSubmitted")),
        r.requireBool(L("notifiedSuccess")),
        r.optionalString(L("sourceText")),
        r.optionalString(L("sourceURL")),
        r.optionalRecord<ContentMetadata>(L("metadata")),
        r.optionalRecord<TransformResult>(L("transformResult")),
        r.optionalString(L("contentAfterIllustrations")),
        r.optionalRecord<IllustrationMetadata>(L("illustrationsMetadata")),
        r.optionalString(L("contentAfterHumanize")),
        r.optionalString(L("articleID")),
        r.optionalString(L("savedURL")),
        r.optionalString(L("finalContent")),
        r.optionalString(L("title")),
        r.requireBool(L("voiceoverQueued")),
        r.requireBool(L("voiceoverFailed")),
        r.requireArray<JobSocialPublishResult>(L("socialPublishes")),
    };
}

} // namespace pendrel
