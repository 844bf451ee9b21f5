#pragma once

#include "model/Clip.h"
#include "model/ClipperSettings.h"
#include "model/Job.h"

#include <QList>

#include <memory>
#include <optional>

namespace pendrel {

// The root of the state file: the settings, the pending clip and every job.
struct PersistedState {
    ClipperSettings settings;
    std::optional<ClipPayload> pendingClip;
    QList<JobRecord> jobs;

    bool operator==(const PersistedState &) const = default;

    [[nodiscard]] QJsonObject toJson(const JsonDates &dates) const;
    static PersistedState fromJson(const QJsonValue &value, const JsonDates &dates);

    // The state file's bytes: sorted keys, ISO 8601 dates, escaped slashes.
    [[nodiscard]] QByteArray encode() const;
    // Where a job stands in the bytes decode() read.
    struct JobPlace {
        QByteArrayView bytes;
        // The bodies of its long texts in the order they stand, where every
        // one is written the way the writer writes strings; else empty.
        QList<QByteArrayView> longTexts;
        bool longTextsInWritersForm = false;
    };
    // Throws DecodingError for anything that is not a whole valid document.
    // `places`, when given, receives where each job stands in `bytes`.
    // Finished jobs' long texts are left in `bytes` (see JobText): with
    // `owner`, which keeps `bytes` (a mapped file, say), `borrowed`
    // receives their blocks to pack later; without, `bytes` is kept by a
    // copy (a deep one of raw data) and they are packed before this returns.
    static PersistedState decode(const QByteArray &bytes, QList<JobPlace> *places = nullptr,
                                 std::shared_ptr<const void> owner = {},
                                 QList<std::shared_ptr<JobText::Block>> *borrowed = nullptr);
};

} // namespace pendrel
