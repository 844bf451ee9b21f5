// Sample states that replace the stored one for interface work
// (PENDREL_DEBUG_PREVIEW_STATE). Nothing here reaches the disk or the service.

#include "state/AppState.h"

#include "state/AppConfiguration.h"
#include "support/Uuid.h"

namespace pendrel {

namespace {

QString webOrigin()
{
    return AppConfiguration::productionWebOrigin.toString();
}

AuxData sampleAuxData(const QString &language)
{
    AuxData aux;
    aux.presets = {{QStringLiteral("preset-docs"), QStringLiteral("Product documentation")},
                   {QStringLiteral("preset-blog"), QStringLiteral("Blog archive")}};
    aux.authors = {{QStringLiteral("author-ada"), QStringLiteral("Ada Lovelace")},
                   {QStringLiteral("author-grace"), QStringLiteral("Grace Hopper")}};
    aux.favorites = {{QStringLiteral("fav-1"), QStringLiteral("example.com")},
                     {QStringLiteral("fav-2"), QStringLiteral("news.example.org")}};
    aux.socialAccounts = {
        ConnectedSocialAccount{QStringLiteral("preview-linkedin"), SocialCrosspostPlatform::linkedin,
                               QStringLiteral("li-100"), QStringLiteral("Pendrel Company Page"),
                               QStringLiteral("organization"), true, std::nullopt},
        ConnectedSocialAccount{
            QStringLiteral("preview-reddit"), SocialCrosspostPlatform::reddit, QStringLiteral("rd-200"),
            QStringLiteral("u/pendrel"), QStringLiteral("user"), true,
            SocialAccountMetadata{QStringLiteral("writing"), std::nullopt, std::nullopt, std::nullopt}},
        ConnectedSocialAccount{QStringLiteral("preview-shopify"), SocialCrosspostPlatform::shopifyBlog,
                               QStringLiteral("sh-300"), QStringLiteral("Pendrel Shop"), std::nullopt, true,
                               SocialAccountMetadata{std::nullopt, 42, QStringLiteral("News"),
                                                     QStringLiteral("pendrel-shop.myshopify.com")}},
    };
    aux.language = language;
    aux.lastFetchedAt = QDateTime::currentDateTimeUtc();
    return aux;
}

} // namespace

void AppState::applyDebugPreviewState(const QString &mode)
{
    const QDateTime now = QDateTime::currentDateTimeUtc();
    AuthState auth;
    auth.status = AuthStatus::authenticated;
    auth.tenantID = QStringLiteral("debug-tenant");
    auth.tenantName = QStringLiteral("Pendrel Publisher");
    auth.customDomain = webOrigin();
    auth.balanceCredits = 3804;
    auth.planType = QStringLiteral("pro");
    auth.lastCheckedAt = now;
    auth.session =
        UserSession{QStringLiteral("preview-access-token"), QStringLiteral("preview-refresh-token"),
                    double(now.addDays(1).toSecsSinceEpoch()), QStringLiteral("debug-user"),
                    QStringLiteral("preview@pendrel.test")};
    setAuthState(auth);

    ClipperSettings settings = ClipperSettings::defaults();
    settings.enableHumanize = true;
    settings.enableImages = true;
    settings.imagesCount = 1;
    settings.autoSend = true;
    const AuxData aux = sampleAuxData(settings.language);
    setAuxData(aux);
    for (const ConnectedSocialAccount &account : aux.socialAccounts)
        settings.socialCrosspostPreferences.append(SocialCrosspostPreference::defaultFor(account));
    setSettings(settings); // still bootstrapping: not saved

    ClipPayload clip =
        ClipPayload::webAddress(webOrigin() + QStringLiteral("/blog/restored-workspace-preview"));
    clip.text = QStringLiteral(
        "Teams that publish every week spend most of their time on the same chores: collecting sources, "
        "shaping an outline, checking the tone and adding pictures. This sample paragraph stands in for the "
        "text a capture would bring along, so that every part of the panel has something to show.");
    clip.title = QStringLiteral("Restored workspace preview");
    setPendingClipValue(clip);

    // One moment for every sample, so that the lists sorted by creation
    // keep the order below however slowly this runs.
    const auto sample = [&] {
        JobRecord job = JobRecord::draft(*pendingClip_, settings);
        job.createdAt = job.updatedAt = now;
        return job;
    };
    JobRecord success = sample();
    success.status = JobStatus::success;
    success.step = JobStep::done;
    success.title = QStringLiteral("Restored workspace preview");
    success.result = JobResult{uuidString(success.id), clip.url, *success.title};
    success.savedURL = clip.url;

    JobRecord failed = sample();
    failed.status = JobStatus::error;
    failed.step = JobStep::error;
    failed.title = QStringLiteral("Preview error state");
    failed.error = JobErrorInfo{QStringLiteral("Nothing to process"), 400, QStringLiteral("EMPTY_TEXT")};
    failed.appendLog(LogLevel::error, QStringLiteral("Nothing to process"), now);

    JobRecord queued = sample();
    queued.status = JobStatus::submitted;
    queued.step = JobStep::prepare;
    queued.title = QStringLiteral("Queued workspace preview");

    if (mode == u"workspace-error") {
        setJobs({failed});
    } else if (mode == u"workspace-settings") {
        setJobs({});
    } else if (mode == u"workspace-jobs") {
        setJobs({success, failed, queued});
        setIsShowingRecentJobs(true);
    } else {
        setJobs({success});
    }
}

} // namespace pendrel
