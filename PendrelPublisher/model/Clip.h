#pragma once

#include "model/JobText.h"
#include "support/EnumStrings.h"
#include "support/JsonDates.h"

#include <QDateTime>
#include <QJsonObject>
#include <QString>
#include <QUuid>

#include <optional>

namespace pendrel {

class ClipboardReader;

enum class ClipType { clipboard, selection, url, tweet };

template <>
struct EnumStrings<ClipType> {
    static constexpr std::array values{
        std::pair{ClipType::clipboard, "clipboard"},
        std::pair{ClipType::selection, "selection"},
        std::pair{ClipType::url, "url"},
        std::pair{ClipType::tweet, "tweet"},
    };
};

// What the panel shows as the kind of a pending clip.
QString clipTypeLabel(ClipType type);

// One piece of captured content: clipboard text, or a typed web address.
struct ClipPayload {
    QUuid id;
    ClipType type = ClipType::clipboard;
    JobText text; // a job's clip is packed with its other texts once the job is finished
    QString url;
    QString title;
    std::optional<QString> author;
    QDateTime createdAt;

    bool operator==(const ClipPayload &) const = default;

    // A clipboard clip of already trimmed, non-empty text.
    static ClipPayload clipboardText(const QString &trimmedText);
    // A web address clip of an already trimmed and validated address.
    static ClipPayload webAddress(const QString &trimmedAddress);

    [[nodiscard]] QJsonObject toJson(const JsonDates &dates) const;
    static ClipPayload fromJson(const QJsonValue &value, const JsonDates &dates);
};

// The one place that reads the system clipboard.
class ClipboardCaptureService {
public:
    explicit ClipboardCaptureService(const ClipboardReader &reader) : reader_(reader) {}

    // The clipboard's plain text, trimmed, as a new clip; nothing when the
    // clipboard holds no text or only white space.
    [[nodiscard]] std::optional<ClipPayload> captureClip() const;

private:
    const ClipboardReader &reader_;
};

} // namespace pendrel
