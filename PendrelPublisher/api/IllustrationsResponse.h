#pragma once

#include "model/Job.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>

#include <optional>
#include <variant>

namespace pendrel {

// One generated image; the service names its address under either key.
struct AssetPayload {
    std::optional<QString> url;
    std::optional<QString> publicUrl;

    static AssetPayload fromJson(const QJsonValue &value, const JsonDates &dates);
};

struct IllustrationStyleProfilePayload {
    std::optional<QString> medium;
    std::optional<QString> mood;
    std::optional<QString> styleLock;

    static IllustrationStyleProfilePayload fromJson(const QJsonValue &value, const JsonDates &dates);
};

// The visual style, sent as a sentence or as a small profile.
class IllustrationStyleSummary {
public:
    explicit IllustrationStyleSummary(QString text) : value_(std::move(text)) {}
    explicit IllustrationStyleSummary(IllustrationStyleProfilePayload profile) : value_(std::move(profile)) {}

    // A string or an object; anything else throws DecodingError.
    static IllustrationStyleSummary fromJson(const QJsonValue &value, const JsonDates &dates);

    [[nodiscard]] const QString *text() const { return std::get_if<QString>(&value_); }
    [[nodiscard]] const IllustrationStyleProfilePayload *profile() const
    {
        return std::get_if<IllustrationStyleProfilePayload>(&value_);
    }
    // One line describing the style: the trimmed sentence, or the first
    // non-empty profile field (medium, then mood, then style lock).
    [[nodiscard]] std::optional<QString> summary() const;

private:
    std::variant<QString, IllustrationStyleProfilePayload> value_;
};

// The illustrations answer; every key is optional, but a present key of the
// wrong type fails the whole answer.
struct IllustrationsGenerateResponse {
    std::optional<QString> content;
    std::optional<QList<AssetPayload>> assets;
    std::optional<QString> generationId;
    std::optional<IllustrationStyleSummary> style;
    std::optional<QString> provider;

    static IllustrationsGenerateResponse fromJson(const QJsonValue &value, const JsonDates &dates);
    static IllustrationsGenerateResponse decode(const QByteArray &body);

    // The content to continue with (the answer's, else `contentSent`).
    [[nodiscard]] QString resultingContent(const QString &contentSent) const;
    // Every usable image address becomes an asset with a fresh identifier.
    [[nodiscard]] IllustrationMetadata metadata(const QDateTime &generatedAt) const;
};

} // namespace pendrel
