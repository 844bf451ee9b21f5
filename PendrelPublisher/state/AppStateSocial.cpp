// Which accounts take crossposts, and the stored preference of each.

#include "state/AppState.h"

#include "state/AppConfiguration.h"

#include <QCollator>

namespace pendrel {

namespace {

// Platform, name and the metadata copies follow the account.
void refreshFromAccount(SocialCrosspostPreference &preference, const ConnectedSocialAccount &account)
{
    preference.platform = account.platform;
    preference.accountName = account.accountName;
    preference.defaultSubreddit = account.metadata ? account.metadata->defaultSubreddit : std::nullopt;
    preference.selectedBlogId = account.metadata ? account.metadata->selectedBlogId : std::nullopt;
    preference.selectedBlogTitle = account.metadata ? account.metadata->selectedBlogTitle : std::nullopt;
}

// A shop blog is only ever published as an article.
void enforceShopMode(SocialCrosspostPreference &preference)
{
    if (preference.platform == SocialCrosspostPlatform::shopifyBlog)
        preference.mode = SocialCrosspostMode::article;
}

} // namespace

QList<ConnectedSocialAccount> AppState::availableSocialCrosspostAccounts() const
{
    QList<ConnectedSocialAccount> accounts;
    for (const ConnectedSocialAccount &a : auxData_.socialAccounts) {
        if (a.isActive)
            accounts.append(a);
    }
    QCollator names(QLocale::system());
    names.setCaseSensitivity(Qt::CaseInsensitive);
    std::stable_sort(accounts.begin(), accounts.end(),
                     [&](const ConnectedSocialAccount &a, const ConnectedSocialAccount &b) {
                         const int byPlatform =
                             platformDisplayTitle(a.platform).compare(platformDisplayTitle(b.platform));
                         if (byPlatform != 0)
                             return byPlatform < 0;
                         return names.compare(a.accountName, b.accountName) < 0;
                     });
    return accounts;
}

SocialCrosspostPreference AppState::socialCrosspostPreference(const ConnectedSocialAccount &account) const
{
    for (const SocialCrosspostPreference &p : settings_.socialCrosspostPreferences) {
        if (p.accountId == account.id)
            return p;
    }
    return SocialCrosspostPreference::defaultFor(account);
}

void AppState::editSocialCrosspostPreference(const ConnectedSocialAccount &account,
                                             const std::function<void(SocialCrosspostPreference &)> &edit)
{
    QList<SocialCrosspostPreference> preferences = settings_.socialCrosspostPreferences;
    const auto stored =
        std::find_if(preferences.begin(), preferences.end(),
                     [&](const SocialCrosspostPreference &p) { return p.accountId == account.id; });
    SocialCrosspostPreference preference =
        stored != preferences.end() ? *stored : SocialCrosspostPreference::defaultFor(account);
    refreshFromAccount(preference, account);
    edit(preference);
    if (stored != preferences.end())
        *stored = preference;
    else
        preferences.append(preference);

    QSet<QString> available;
    for (const ConnectedSocialAccount &a : availableSocialCrosspostAccounts())
        available.insert(a.id);
    preferences.removeIf(
        [&](const SocialCrosspostPreference &p) { return !available.contains(p.accountId); });

    ClipperSettings settings = settings_;
    settings.socialCrosspostPreferences = preferences;
    setSettings(settings);
}

void AppState::setSocialCrosspostEnabled(const ConnectedSocialAccount &account, bool enabled)
{
    editSocialCrosspostPreference(account, [enabled](SocialCrosspostPreference &p) {
        p.enabled = enabled;
        enforceShopMode(p);
    });
}

void AppState::setSocialCrosspostMode(const ConnectedSocialAccount &account, SocialCrosspostMode mode)
{
    editSocialCrosspostPreference(account, [mode](SocialCrosspostPreference &p) {
        p.mode = mode;
        enforceShopMode(p);
    });
}

void AppState::syncSocialCrosspostPreferences()
{
    QHash<QString, ConnectedSocialAccount> available;
    for (const ConnectedSocialAccount &a : availableSocialCrosspostAccounts())
        available.insert(a.id, a);
    QList<SocialCrosspostPreference> kept;
    for (SocialCrosspostPreference p : settings_.socialCrosspostPreferences) {
        const auto account = available.constFind(p.accountId);
        if (account == available.constEnd())
            continue;
        refreshFromAccount(p, *account);
        enforceShopMode(p);
        kept.append(p);
    }
    ClipperSettings settings = settings_;
    settings.socialCrosspostPreferences = kept;
    setSettings(settings);
}

void AppState::openSocialConnections()
{
    const QUrl url = AppConfiguration::apiBaseURL().resolved(
        QUrl(QStringLiteral("/dashboard/settings?section=account&tab=integrations")));
    if (!url.isValid() || url.scheme().isEmpty())
        return;
    openExternalURL(url);
}

} // namespace pendrel
