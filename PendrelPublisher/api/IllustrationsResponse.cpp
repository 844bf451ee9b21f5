#include "api/IllustrationsResponse.h"

#include "api/APIClient.h"
#include "support/JsonRead.h"
#include "support/Text.h"

#include <QUuid>

namespace pendrel {

using L = QLatin1StringView;

AssetPayload AssetPayload::fromJson(const QJsonValue &value, const JsonDates &dates)
{
    const json::ObjectReader r(value, dates);
    return {r.optionalString(L("url")), r.optionalString(L("publicUrl"))};
}

IllustrationStyleProfilePayload IllustrationStyleProfilePayload::fromJson(const QJsonValue &value,
                                                                          const JsonDates &dates)
{
    const json::ObjectReader r(value, dates);
    return {r.optionalString(L("medium")), r.optionalString(L("mood")), r.optionalString(L("styleLock"))};
}

IllustrationStyleSummary IllustrationStyleSummary::fromJson(const QJsonValue &value, const JsonDates &dates)
{
    if (value.isString())
        return IllustrationStyleSummary(value.toString());
    if (value.isObject())
        return IllustrationStyleSummary(IllustrationStyleProfilePayload::fromJson(value, dates));
    throw DecodingError(QStringLiteral("Expected string or style profile"));
}

std::optional<QString> IllustrationStyleSummary::summary() const
{
    const auto nonEmpty = [](const std::optional<QString> &field) -> std::optional<QString> {
        if (!field)
            return std::nullopt;
        QString t = text::trimmed(*field);
        return t.isEmpty() ? std::nullopt : std::optional<QString>(std::move(t));
    };
    if (const QString *sentence = text())
        return nonEmpty(*sentence);
    const IllustrationStyleProfilePayload &p = *profile();
    for (const auto *field : {&p.medium, &p.mood, &p.styleLock}) {
        if (auto line = nonEmpty(*field))
            return line;
    }
    return std::nullopt;
}

IllustrationsGenerateResponse IllustrationsGenerateResponse::fromJson(const QJsonValue &value,
                                                                      const JsonDates &dates)
{
    const json::ObjectReader r(value, dates);
    return {
        r.optionalString(L("content")),
        r.optional(L("assets"), [&](const QJsonValue &v) { return json::readArray<AssetPayload>(v, dates); }),
        r.optionalString(L("generationId")), r.optionalRecord<IllustrationStyleSummary>(L("style")),
        r.optionalString(L("provider"))};
}

IllustrationsGenerateResponse IllustrationsGenerateResponse::decode(const QByteArray &body)
{
    return fromJson(json::parseDocument(body), responseDates());
}

QString IllustrationsGenerateResponse::resultingContent(const QString &contentSent) const
{
    return content.value_or(contentSent);
}

IllustrationMetadata IllustrationsGenerateResponse::metadata(const QDateTime &generatedAt) const
{
    IllustrationMetadata out;
    for (const AssetPayload &asset : assets.value_or(QList<AssetPayload>{})) {
        // publicUrl wins even when it is empty; the empty result is skipped.
        const std::optional<QString> &address = asset.publicUrl ? asset.publicUrl : asset.url;
        if (!address)
            continue;
        const QString url = text::trimmed(*address);
        if (url.isEmpty())
            continue;
        out.assets.append(IllustrationAsset{QUuid::createUuid(), url});
    }
    out.generationID = generationId;
    out.generatedAt = generatedAt;
    out.style = style ? style->summary() : std::nullopt;
    out.provider = provider;
    return out;
}

} // namespace pendrel
