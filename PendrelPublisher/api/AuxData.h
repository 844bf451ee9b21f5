#pragma once

#include "social/SocialCrossposting.h"
#include "support/JsonDates.h"

#include <QDateTime>
#include <QHashFunctions>
#include <QList>
#include <QString>

#include <optional>

namespace pendrel {

// An internal-links preset; `id` goes into the settings' links preset.
struct LinksPreset {
    QString id;
    QString name;

    bool operator==(const LinksPreset &) const = default;
};

// An author profile of the workspace.
struct AuthorOption {
    QString id;
    QString name;

    bool operator==(const AuthorOption &) const = default;
};

// A domain the workspace marked as favourite.
struct FavoriteDomain {
    QString id;
    QString domain;

    bool operator==(const FavoriteDomain &) const = default;
};

inline size_t qHash(const LinksPreset &p, size_t seed = 0)
{
    return qHashMulti(seed, p.id, p.name);
}
inline size_t qHash(const AuthorOption &a, size_t seed = 0)
{
    return qHashMulti(seed, a.id, a.name);
}
inline size_t qHash(const FavoriteDomain &f, size_t seed = 0)
{
    return qHashMulti(seed, f.id, f.domain);
}

// The workspace's choices the settings offer, for one tenant and content
// language. Held in memory only.
struct AuxData {
    QList<LinksPreset> presets;
    QList<AuthorOption> authors;
    QList<FavoriteDomain> favorites;
    QList<ConnectedSocialAccount> socialAccounts;
    std::optional<QString> language; // the content language it was fetched for
    std::optional<QDateTime> lastFetchedAt;

    bool operator==(const AuxData &) const = default;
};

// Readers of the four answers the fetch merges. Each throws DecodingError
// for a missing required key or a wrong type.
namespace auxanswers {
QList<LinksPreset> presets(const QByteArray &body);
QList<AuthorOption> authors(const QByteArray &body);
QList<FavoriteDomain> favorites(const QByteArray &body);
// Accounts on a platform this build does not know, and inactive ones, are
// left out.
QList<ConnectedSocialAccount> socialAccounts(const QByteArray &body);
} // namespace auxanswers

} // namespace pendrel
