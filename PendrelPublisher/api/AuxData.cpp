#include "api/AuxData.h"

#include "api/APIClient.h"
#include "support/JsonRead.h"

namespace pendrel::auxanswers {

namespace {

using L = QLatin1StringView;

struct PresetEntry {
    LinksPreset preset;
    static PresetEntry fromJson(const QJsonValue &value, const JsonDates &dates)
    {
        const json::ObjectReader r(value, dates);
        const QString id = r.requireString(L("id"));
        return {LinksPreset{id, r.optionalString(L("name")).value_or(id)}};
    }
};

struct AuthorEntry {
    AuthorOption author;
    static AuthorEntry fromJson(const QJsonValue &value, const JsonDates &dates)
    {
        const json::ObjectReader r(value, dates);
        return {AuthorOption{r.requireString(L("id")), r.requireString(L("name"))}};
    }
};

struct FavoriteEntry {
    FavoriteDomain favorite;
    static FavoriteEntry fromJson(const QJsonValue &value, const JsonDates &dates)
    {
        const json::ObjectReader r(value, dates);
        return {FavoriteDomain{r.requireString(L("id")), r.requireString(L("domain"))}};
    }
};

// An account as the service lists it; the platform stays text until the
// merge decides whether this build knows it.
struct AccountEntry {
    QString id;
    QString platform;
    QString accountID;
    std::optional<QString> accountName;
    std::optional<QString> accountType;
    bool isActive = false;
    std::optional<SocialAccountMetadata> metadata;

    static AccountEntry fromJson(const QJsonValue &value, const JsonDates &dates)
    {
        const json::ObjectReader r(value, dates);
        return {r.requireString(L("id")),
                r.requireString(L("platform")),
                r.requireString(L("account_id")),
                r.optionalString(L("account_name")),
                r.optionalString(L("account_type")),
                r.requireBool(L("is_active")),
                r.optionalRecord<SocialAccountMetadata>(L("metadata"))};
    }
};

template <class Entry, class Out, class Pick>
QList<Out> entries(const json::ObjectReader &root, QLatin1StringView key, Pick pick)
{
    QList<Out> out;
    for (const Entry &entry : root.requireArray<Entry>(key))
        out.append(pick(entry));
    return out;
}

} // namespace

QList<LinksPreset> presets(const QByteArray &body)
{
    const json::ObjectReader root(json::parseDocument(body), responseDates());
    return entries<PresetEntry, LinksPreset>(root, L("presets"),
                                             [](const PresetEntry &e) { return e.preset; });
}

QList<AuthorOption> authors(const QByteArray &body)
{
    // settings.seo.authors; any level may be absent (or null).
    using Authors = QList<AuthorOption>;
    const json::ObjectReader root(json::parseDocument(body), responseDates());
    return root
        .optional(L("settings"),
                  [](const QJsonValue &settings) {
                      const json::ObjectReader settingsReader(settings, responseDates());
                      return settingsReader
                          .optional(L("seo"),
                                    [](const QJsonValue &seo) {
                                        const json::ObjectReader seoReader(seo, responseDates());
                                        if (!seoReader.has(L("authors")))
                                            return Authors{};
                                        return entries<AuthorEntry, AuthorOption>(
                                            seoReader, L("authors"),
                                            [](const AuthorEntry &e) { return e.author; });
                                    })
                          .value_or(Authors{});
                  })
        .value_or(Authors{});
}

QList<FavoriteDomain> favorites(const QByteArray &body)
{
    const json::ObjectReader root(json::parseDocument(body), responseDates());
    return entries<FavoriteEntry, FavoriteDomain>(root, L("favorites"),
                                                  [](const FavoriteEntry &e) { return e.favorite; });
}

QList<ConnectedSocialAccount> socialAccounts(const QByteArray &body)
{
    const json::ObjectReader root(json::parseDocument(body), responseDates());
    QList<ConnectedSocialAccount> accounts;
    for (const AccountEntry &entry : root.requireArray<AccountEntry>(L("accounts"))) {
        // Exact, case-sensitive: "LinkedIn" is not a platform of ours.
        const std::optional<SocialCrosspostPlatform> platform =
            enumFromString<SocialCrosspostPlatform>(entry.platform);
        if (!platform || !entry.isActive)
            continue;
        accounts.append(ConnectedSocialAccount{entry.id, *platform, entry.accountID,
                                               entry.accountName.value_or(platformDisplayTitle(*platform)),
                                               entry.accountType, entry.isActive, entry.metadata});
    }
    return accounts;
}

} // namespace pendrel::auxanswers
