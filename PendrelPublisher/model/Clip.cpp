#include "model/Clip.h"

#include "platform/ClipboardReader.h"
#include "support/JsonRead.h"
#include "support/JsonWrite.h"
#include "support/Text.h"
#include "support/Uuid.h"

namespace pendrel {

QString clipTypeLabel(ClipType type)
{
    switch (type) {
    case ClipType::clipboard:
        return QStringLiteral("Clipboard");
    case ClipType::selection:
        return QStringLiteral("Selection");
    case ClipType::url:
        return QStringLiteral("URL");
    case ClipType::tweet:
        return QStringLiteral("Tweet");
    }
    return {};
}

ClipPayload ClipPayload::clipboardText(const QString &trimmedText)
{
    return ClipPayload{QUuid::createUuid(),
                       ClipType::clipboard,
                       trimmedText,
                       QString(),
                       QStringLiteral("Clipboard"),
                       std::nullopt,
                       QDateTime::currentDateTimeUtc()};
}

ClipPayload ClipPayload::webAddress(const QString &trimmedAddress)
{
    return ClipPayload{QUuid::createUuid(),
                       ClipType::url,
                       QString(),
                       trimmedAddress,
                       QStringLiteral("URL"),
                       std::nullopt,
                       QDateTime::currentDateTimeUtc()};
}

QJsonObject ClipPayload::toJson(const JsonDates &dates) const
{
    QJsonObject o{
        {QLatin1StringView("id"), uuidString(id)}, {QLatin1StringView("type"), enumString(type)},
        {QLatin1StringView("text"), text.toString()},       {QLatin1StringView("url"), url},
        {QLatin1StringView("title"), title},       {QLatin1StringView("createdAt"), dates.encode(createdAt)},
    };
    json::insertOptional(o, QLatin1StringView("author"), author);
    return o;
}

ClipPayload ClipPayload::fromJson(const QJsonValue &value, const JsonDates &dates)
{
    const json::ObjectReader r(value, dates);
    return ClipPayload{
        r.requireUuid(QLatin1StringView("id")),        r.requireEnum<ClipType>(QLatin1StringView("type")),
        r.requireString(QLatin1StringView("text")),    r.requireString(QLatin1StringView("url")),
        r.requireString(QLatin1StringView("title")),   r.optionalString(QLatin1StringView("author")),
        r.requireDate(QLatin1StringView("createdAt")),
    };
}

std::optional<ClipPayload> ClipboardCaptureService::captureClip() const
{
    const std::optional<QString> raw = reader_.plainText();
    if (!raw)
        return std::nullopt;
    const QString text = text::trimmed(*raw);
    if (text.isEmpty())
        return std::nullopt;
    return ClipPayload::clipboardText(text);
}

} // namespace pendrel
