#pragma once

#include "model/Clip.h"
#include "model/ClipperSettings.h"
#include "model/JobText.h"
#include "social/SocialCrossposting.h"
#include "support/EnumStrings.h"
#include "support/JsonDates.h"
#include "support/JsonParse.h"

#include <QDateTime>
#include <QJsonObject>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>
#include <QUuid>

#include <optional>

namespace pendrel {

enum class JobStatus { submitted, running, success, error, aborted };

template <>
struct EnumStrings<JobStatus> {
    static constexpr std::array values{
        std::pair{JobStatus::submitted, "submitted"}, std::pair{JobStatus::running, "running"},
        std::pair{JobStatus::success, "success"},     std::pair{JobStatus::error, "error"},
        std::pair{JobStatus::aborted, "aborted"},
    };
};

// Pipeline steps in the order the queue runs them, then the three endings.
enum class JobStep {
    prepare,
    extract,
    analyze,
    transform,
    illustrations,
    humanize,
    save,
    voiceover,
    done,
    error,
    aborted
};

template <>
struct EnumStrings<JobStep> {
    static constexpr std::array values{
        std::pair{JobStep::prepare, "prepare"},
        std::pair{JobStep::extract, "extract"},
        std::pair{JobStep::analyze, "analyze"},
        std::pair{JobStep::transform, "transform"},
        std::pair{JobStep::illustrations, "illustrations"},
        std::pair{JobStep::humanize, "humanize"},
        std::pair{JobStep::save, "save"},
        std::pair{JobStep::voiceover, "voiceover"},
        std::pair{JobStep::done, "done"},
        std::pair{JobStep::error, "error"},
        std::pair{JobStep::aborted, "aborted"},
    };
};

QString jobStepLabel(JobStep step);

// The error code of a job whose save went out without a readable answer:
// the service may hold the article, so a retry saves it again in place.
inline const QString kSaveUnconfirmedCode = QStringLiteral("SAVE_UNCONFIRMED");

enum class LogLevel { info, warn, error };

template <>
struct EnumStrings<LogLevel> {
    static constexpr std::array values{
        std::pair{LogLevel::info, "info"},
        std::pair{LogLevel::warn, "warn"},
        std::pair{LogLevel::error, "error"},
    };
};

struct JobLogEntry {
    QUuid id;
    QDateTime timestamp;
    LogLevel level = LogLevel::info;
    QString message;

    bool operator==(const JobLogEntry &) const = default;

    [[nodiscard]] QJsonObject toJson(const JsonDates &dates) const;
    static JobLogEntry fromJson(const QJsonValue &value, const JsonDates &dates);
    // The entry from its members as the state file's reader hands them over
    // (ISO 8601 dates): what fromJson() gives where it reads them without a
    // fault and finds nothing else; nothing otherwise, for fromJson() to say.
    static std::optional<JobLogEntry> fromMembers(const QList<json::FlatMember> &members);
    // json::writeSortedAt() of the lines' JSON array, written straight.
    static QByteArray writeSortedAt(const QList<JobLogEntry> &lines, const JsonDates &dates, int depth);
};

// A job's log lines. Those of a finished job taken from the state file's
// index are not read at start: they stay where they are in the state file's
// bytes (read after the program has started, see JobTextGate) until
// something reads them or the store reads them all on its own thread, once.
// Copies share those lines, and compare equal without reading them.
class JobLogs {
public:
    struct Source;

    JobLogs() = default;
    JobLogs(QList<JobLogEntry> lines) : lines_(std::move(lines)) {} // NOLINT(google-explicit-constructor)
    // The JSON array at `bytes`, which `owner` keeps, once `gate` opens.
    static JobLogs borrowed(std::shared_ptr<const void> owner, QByteArrayView bytes,
                            std::shared_ptr<const JobTextGate> gate, std::shared_ptr<Source> *source = nullptr);
    // Reads borrowed lines now (any thread) and lets go of the bytes.
    static void read(const std::shared_ptr<Source> &source);

    [[nodiscard]] const QList<JobLogEntry> &lines() const;
    operator const QList<JobLogEntry> &() const { return lines(); } // NOLINT(google-explicit-constructor)
    [[nodiscard]] qsizetype size() const { return lines().size(); }
    [[nodiscard]] bool isEmpty() const { return lines().isEmpty(); }
    [[nodiscard]] const JobLogEntry &at(qsizetype i) const { return lines().at(i); }
    [[nodiscard]] const JobLogEntry &first() const { return lines().first(); }
    [[nodiscard]] const JobLogEntry &last() const { return lines().last(); }
    [[nodiscard]] auto begin() const { return lines().cbegin(); }
    [[nodiscard]] auto end() const { return lines().cend(); }
    [[nodiscard]] auto crbegin() const { return lines().crbegin(); }
    [[nodiscard]] auto crend() const { return lines().crend(); }

    JobLogEntry &first()
    {
        own();
        return lines_.first();
    }
    JobLogEntry &last()
    {
        own();
        return lines_.last();
    }
    void append(JobLogEntry line)
    {
        own();
        lines_.append(std::move(line));
    }
    void remove(qsizetype i, qsizetype n = 1)
    {
        own();
        lines_.remove(i, n);
    }
    void clear()
    {
        source_.reset();
        lines_.clear();
    }

    friend bool operator==(const JobLogs &a, const JobLogs &b)
    {
        return (a.source_ && a.source_ == b.source_) || a.lines() == b.lines();
    }

private:
    void own();

    QList<JobLogEntry> lines_;
    std::shared_ptr<Source> source_;
};

struct JobResult {
    QString articleID;
    std::optional<QString> url;
    QString title;

    bool operator==(const JobResult &) const = default;

    [[nodiscard]] QJsonObject toJson(const JsonDates &dates) const;
    static JobResult fromJson(const QJsonValue &value, const JsonDates &dates);
};

struct JobErrorInfo {
    QString message;
    std::optional<int> status; // HTTP status, when the service answered with an error
    std::optional<QString> code;

    bool operator==(const JobErrorInfo &) const = default;

    [[nodiscard]] QJsonObject toJson(const JsonDates &dates) const;
    static JobErrorInfo fromJson(const QJsonValue &value, const JsonDates &dates);
};

// The analysis of the source text; all three empty stands in for a failed analysis.
struct ContentMetadata {
    QStringList categories;
    QStringList age;
    QStringList problems;

    bool operator==(const ContentMetadata &) const = default;

    [[nodiscard]] QJsonObject toJson(const JsonDates &dates) const;
    static ContentMetadata fromJson(const QJsonValue &value, const JsonDates &dates);
};

struct TransformResult {
    JobText transformedContent;
    QStringList citations;
    std::optional<double> qualityScore;
    QStringList talentIntegrations;
    std::optional<double> seoScore;
    QMap<QString, QString> seoMeta;

    bool operator==(const TransformResult &) const = default;

    [[nodiscard]] QJsonObject toJson(const JsonDates &dates) const;
    static TransformResult fromJson(const QJsonValue &value, const JsonDates &dates);
};

struct IllustrationAsset {
    QUuid id;
    QString url;

    bool operator==(const IllustrationAsset &) const = default;

    [[nodiscard]] QJsonObject toJson(const JsonDates &dates) const;
    static IllustrationAsset fromJson(const QJsonValue &value, const JsonDates &dates);
};

struct IllustrationMetadata {
    QList<IllustrationAsset> assets;
    std::optional<QString> generationID;
    QDateTime generatedAt;
    std::optional<QString> style;
    std::optional<QString> provider;

    bool operator==(const IllustrationMetadata &) const = default;

    [[nodiscard]] QJsonObject toJson(const JsonDates &dates) const;
    static IllustrationMetadata fromJson(const QJsonValue &value, const JsonDates &dates);
};

// One article on its way through the pipeline: the clip, a frozen copy of
// the settings, status and log, outcome, and a checkpoint per finished stage
// so that a job interrupted by a restart resumes where it stopped.
struct JobRecord {
    static constexpr qsizetype maxLogLines = 200;

    QUuid id;
    JobStatus status = JobStatus::submitted;
    bool processing = false;
    std::optional<JobStep> step;
    QDateTime createdAt;
    QDateTime updatedAt;
    ClipPayload clip;
    ClipperSettings settingsSnapshot;
    bool aborted = false;
    bool acknowledged = false;
    JobLogs logs;
    std::optional<JobResult> result;
    std::optional<JobErrorInfo> error;
    bool notifiedSubmitted = false;
    bool notifiedSuccess = false;
    std::optional<JobText> sourceText;
    std::optional<QString> sourceURL;
    std::optional<ContentMetadata> metadata;
    std::optional<TransformResult> transformResult;
    std::optional<JobText> contentAfterIllustrations;
    std::optional<IllustrationMetadata> illustrationsMetadata;
    std::optional<JobText> contentAfterHumanize;
    std::optional<QString> articleID;
    std::optional<QString> savedURL;
    std::optional<JobText> finalContent;
    std::optional<QString> title;
    bool voiceoverQueued = false;
    bool voiceoverFailed = false;
    QList<JobSocialPublishResult> socialPublishes;

    bool operator==(const JobRecord &) const = default;

    // A new submitted job: fresh id, created and updated at one reading of
    // the clock, every flag false, nothing else set.
    static JobRecord draft(const ClipPayload &clip, const ClipperSettings &settings);

    // Packs the long texts (source, articles, checkpoints) into one
    // compressed block; done to jobs that are finished, which are read
    // rarely. Reading them stays as before.
    void packTexts();

    // Appends a line stamped `now`, keeping only the newest maxLogLines.
    void appendLog(LogLevel level, const QString &message, const QDateTime &now);

    // Waiting for the queue: submitted or running and not aborted (also after a restart).
    [[nodiscard]] bool isWaiting() const
    {
        return (status == JobStatus::submitted || status == JobStatus::running) && !aborted;
    }

    [[nodiscard]] QJsonObject toJson(const JsonDates &dates) const;
    static JobRecord fromJson(const QJsonValue &value, const JsonDates &dates);
};

// The summary of all jobs that the tray icon draws.
class StatusIconState {
public:
    enum class Kind { idle, processing, success, error };

    static StatusIconState idle() { return StatusIconState(Kind::idle, 0); }
    static StatusIconState processing(int activeJobs)
    {
        return StatusIconState(Kind::processing, activeJobs);
    }
    static StatusIconState success() { return StatusIconState(Kind::success, 0); }
    static StatusIconState error() { return StatusIconState(Kind::error, 0); }

    [[nodiscard]] Kind kind() const { return kind_; }
    // The count carried by processing; 0 for every other case.
    [[nodiscard]] int activeJobs() const { return activeJobs_; }

    bool operator==(const StatusIconState &) const = default;

private:
    StatusIconState(Kind kind, int activeJobs) : kind_(kind), activeJobs_(activeJobs) {}
    Kind kind_;
    int activeJobs_;
};

} // namespace pendrel
