#include "jobs/JobQueue.h"
#include "state/AppState.h"

#include <QTest>

#include "AppStateHarness.h"
#include "ServicePaths.h"

using namespace pendrel;
using namespace pendrel::test;

namespace {

SocialCrosspostPreference preference(const char *id, SocialCrosspostPlatform platform,
                                     SocialCrosspostMode mode)
{
    SocialCrosspostPreference p;
    p.accountId = QString::fromUtf8(id);
    p.platform = platform;
    p.accountName = QStringLiteral("Name ") + p.accountId;
    p.enabled = true;
    p.mode = mode;
    return p;
}

ConnectedSocialAccount account(const char *id, SocialCrosspostPlatform platform, const char *name,
                               bool active = true)
{
    return ConnectedSocialAccount{QString::fromUtf8(id),
                                  platform,
                                  QStringLiteral("ext-") + QString::fromUtf8(id),
                                  QString::fromUtf8(name),
                                  std::nullopt,
                                  active,
                                  std::nullopt};
}

QStringList statuses(const JobRecord &job)
{
    QStringList out;
    for (const JobSocialPublishResult &r : job.socialPublishes)
        out << r.id() + u'=' + enumString(r.status);
    return out;
}

} // namespace

Q_DECLARE_METATYPE(pendrel::SocialCrosspostPreference)

class TestCrossposting : public QObject {
    Q_OBJECT

    // Sends one clipboard job with these preferences and waits for its follow-up.
    static JobRecord crosspost(AppStateHarness &h, const QList<SocialCrosspostPreference> &preferences)
    {
        ClipperSettings settings = h.state->settings();
        settings.socialCrosspostPreferences = preferences;
        h.state->setSettings(settings);
        h.clipboard.text = QStringLiteral("Text");
        h.state->captureClipboard();
        [&] { QVERIFY(h.waitUntilIdle()); }();
        const QUuid id = h.state->jobs().first().id;
        const auto enabled =
            std::count_if(preferences.begin(), preferences.end(), [](const auto &p) { return p.enabled; });
        const auto settled = [&] {
            const JobRecord job = *h.state->job(id);
            return job.socialPublishes.size() == enabled
                   && std::none_of(job.socialPublishes.begin(), job.socialPublishes.end(), [](const auto &r) {
                          return r.status == JobSocialPublishStatus::pending
                                 || r.status == JobSocialPublishStatus::running;
                      });
        };
        [&] { QVERIFY(QTest::qWaitFor(settled, 10000)); }();
        QTest::qWait(50); // a follow-up with nothing to do writes nothing; give it its turn
        return *h.state->job(id);
    }

private slots:
    void adaptThenShop()
    {
        AppStateHarness h;
        h.startSignedIn();
        h.service.answer("POST", paths::adaptations,
                         ScriptedAnswer::json(200, q("{'adaptation':{'id':'ad-1'}}")));
        h.service.answer("POST", paths::publish,
                         ScriptedAnswer::json(200, q("{'success':true,'postId':'post-9'}")));
        h.service.answer("POST", paths::shop, ScriptedAnswer::json(200, "not even JSON"));
        QStringList atFirstRequest;
        h.service.onRequest = [&](const RecordedRequest &r) {
            if (r.path == paths::adaptations)
                atFirstRequest = statuses(h.stateFile().jobs.first());
        };
        SocialCrosspostPreference shop =
            preference("s7", SocialCrosspostPlatform::shopifyBlog, SocialCrosspostMode::article);
        shop.selectedBlogId = 7;
        SocialCrosspostPreference off =
            preference("off", SocialCrosspostPlatform::facebook, SocialCrosspostMode::adapt);
        off.enabled = false;
        const JobRecord job = crosspost(
            h, {preference("li", SocialCrosspostPlatform::linkedin, SocialCrosspostMode::adapt), off, shop});

        QCOMPARE(atFirstRequest, (QStringList{QStringLiteral("linkedin:li=running"),
                                              QStringLiteral("shopify_blog:s7=pending")}));
        QStringList order;
        for (const QString &p : h.requestPaths()) {
            if (p == paths::adaptations || p == paths::publish || p == paths::shop)
                order << p;
        }
        QCOMPARE(order, (QStringList{paths::adaptations, paths::publish, paths::shop}));
        QCOMPARE(h.service.requestsTo("POST", paths::adaptations).first().json,
                 json::parseDocument(q("{'articleId':'art-1','tenantId':'t1','platform':'linkedin'}")));
        const RecordedRequest publish = h.service.requestsTo("POST", paths::publish).first();
        QCOMPARE(publish.json,
                 json::parseDocument(q("{'adaptationId':'ad-1','tenantId':'t1','platform':'linkedin',"
                                       "'accountId':'li'}")));
        QCOMPARE(publish.header("X-Tenant-ID"), QByteArray("t1"));
        const RecordedRequest shopRequest = h.service.requestsTo("POST", paths::shop).first();
        QCOMPARE(shopRequest.json,
                 json::parseDocument(q(
                     "{'articleId':'art-1','tenantId':'t1','accountId':'s7','mode':'publish','blogId':7}")));
        QVERIFY(shopRequest.body.contains("\"blogId\":7")); // an integer, not 7.0

        QCOMPARE(statuses(job), (QStringList{QStringLiteral("linkedin:li=success"),
                                             QStringLiteral("shopify_blog:s7=success")}));
        QCOMPARE(job.socialPublishes[0].adaptationId, QStringLiteral("ad-1"));
        QCOMPARE(job.socialPublishes[0].postId, QStringLiteral("post-9"));
        QCOMPARE(job.socialPublishes[0].accountName, QStringLiteral("Name li"));
        QVERIFY(!job.socialPublishes[1].adaptationId && !job.socialPublishes[1].postId);
        QCOMPARE(job.status, JobStatus::success);
        QCOMPARE(job.logs.last().message, QStringLiteral("Job complete")); // no line for a success
        QCOMPARE(h.stateFile().jobs.first().socialPublishes, job.socialPublishes);
        QCOMPARE(h.notifications.posted.size(), 1);
    }

    void failingAccountDoesNotStopTheOthers()
    {
        AppStateHarness h;
        h.startSignedIn();
        h.service.answer("POST", paths::adaptations,
                         ScriptedAnswer::json(500, q("{'error':'Adapter down'}")));
        h.service.answer("POST", paths::publish, ScriptedAnswer::json(200, q("{'success':true}")));
        const JobRecord job =
            crosspost(h, {preference("li", SocialCrosspostPlatform::linkedin, SocialCrosspostMode::adapt),
                          preference("fb", SocialCrosspostPlatform::facebook, SocialCrosspostMode::direct)});
        QCOMPARE(statuses(job),
                 (QStringList{QStringLiteral("linkedin:li=error"), QStringLiteral("facebook:fb=success")}));
        // The panel shows the service's words; the log keeps the request id.
        QCOMPARE(job.socialPublishes[0].errorMessage, QStringLiteral("Adapter down"));
        const JobLogEntry warn = *std::find_if(
            job.logs.begin(), job.logs.end(), [](const JobLogEntry &e) { return e.level == LogLevel::warn; });
        QVERIFY2(warn.message.startsWith(
                     QStringLiteral("Crosspost to LinkedIn failed: Adapter down (requestId: ")),
                 qPrintable(warn.message));
        QCOMPARE(job.status, JobStatus::success);
    }

    void nothingEnabled()
    {
        AppStateHarness h;
        h.startSignedIn();
        SocialCrosspostPreference off =
            preference("li", SocialCrosspostPlatform::linkedin, SocialCrosspostMode::adapt);
        off.enabled = false;
        // Not even an empty list is written (and saved) once the job is done.
        int changesAfterCompletion = -1;
        h.notifications.onAdd = [&](const NotificationRequest &) { changesAfterCompletion = 0; };
        QObject::connect(h.state.get(), &AppState::jobsChanged, h.state.get(), [&] {
            if (changesAfterCompletion >= 0)
                ++changesAfterCompletion;
        });
        const JobRecord job = crosspost(h, {off});
        QCOMPARE(changesAfterCompletion, 0);
        QVERIFY(job.socialPublishes.isEmpty());
        QVERIFY(h.service.requestsTo("POST", paths::adaptations).isEmpty());
        QVERIFY(h.service.requestsTo("POST", paths::publish).isEmpty());
    }

    void directAnswersAndSubreddits_data()
    {
        QTest::addColumn<SocialCrosspostPreference>("pref");
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<QString>("status");
        QTest::addColumn<QString>("ids");       // adaptationId|postId, "-" for absent
        QTest::addColumn<QString>("subreddit"); // the sent key, "-" for none
        SocialCrosspostPreference reddit =
            preference("rd", SocialCrosspostPlatform::reddit, SocialCrosspostMode::direct);
        reddit.defaultSubreddit = QStringLiteral("cpp");
        QTest::newRow("success false still counts") << reddit << q("{'success':false}") << "success"
                                                    << "-|-"
                                                    << "cpp";
        QTest::newRow("identifiers") << reddit
                                     << q("{'success':true,'adaptationId':'a','platformPostId':'p'}")
                                     << "success"
                                     << "a|p"
                                     << "cpp";
        QTest::newRow("no success key") << reddit << q("{'adaptationId':'a'}") << "error"
                                        << "-|-"
                                        << "cpp";
        SocialCrosspostPreference linkedin =
            preference("li", SocialCrosspostPlatform::linkedin, SocialCrosspostMode::direct);
        linkedin.defaultSubreddit = QStringLiteral("odd");
        QTest::newRow("subreddit whatever the platform") << linkedin << q("{'success':true}") << "success"
                                                         << "-|-"
                                                         << "odd";
        linkedin.defaultSubreddit = QString();
        QTest::newRow("empty subreddit not sent") << linkedin << q("{'success':true}") << "success"
                                                  << "-|-"
                                                  << "-";
        // A 401 is that account's failure only.
        QTest::newRow("unauthorised") << linkedin << q("{'error':'expired'}") << "error"
                                      << "-|-"
                                      << "-";
    }
    void directAnswersAndSubreddits()
    {
        QFETCH(SocialCrosspostPreference, pref);
        QFETCH(QByteArray, answer);
        QFETCH(QString, status);
        QFETCH(QString, ids);
        QFETCH(QString, subreddit);
        AppStateHarness h;
        h.startSignedIn();
        h.service.answer(
            "POST", paths::publish,
            ScriptedAnswer::json(QString::fromUtf8(QTest::currentDataTag()) == u"unauthorised" ? 401 : 200,
                                 answer));
        const JobRecord job = crosspost(h, {pref});
        const JobSocialPublishResult &r = job.socialPublishes.first();
        QCOMPARE(enumString(r.status), status);
        QCOMPARE(r.adaptationId.value_or(QStringLiteral("-")) + u'|' + r.postId.value_or(QStringLiteral("-")),
                 ids);
        const QJsonObject body = h.service.requestsTo("POST", paths::publish).first().json.toObject();
        QCOMPARE(body.value(QStringLiteral("action")).toString(), QStringLiteral("publish_raw"));
        QCOMPARE(body.value(QStringLiteral("articleId")).toString(), QStringLiteral("art-1"));
        QCOMPARE(body.contains(QStringLiteral("subreddit"))
                     ? body.value(QStringLiteral("subreddit")).toString()
                     : QStringLiteral("-"),
                 subreddit);
        QVERIFY(h.service.requestsTo("POST", paths::adaptations).isEmpty());
        QCOMPARE(h.state->authState().status, AuthStatus::authenticated);
    }

    // Without a tenant and without a way to get one, nothing is published.
    void missingTenant()
    {
        AppStateHarness h;
        h.startSignedIn();
        int changesAfterCompletion = -1; // the warn line is the only one
        QObject::connect(h.state.get(), &AppState::jobsChanged, h.state.get(), [&] {
            if (changesAfterCompletion >= 0)
                ++changesAfterCompletion;
        });
        h.notifications.onAdd = [&](const NotificationRequest &) {
            changesAfterCompletion = 0;
            AuthState auth = h.state->authState();
            auth.tenantID.reset();
            h.state->setAuthState(auth);
            h.service.answer("GET", QStringLiteral("/api/tenants"), ScriptedAnswer::json(503, "{}"));
        };
        ClipperSettings settings = h.state->settings();
        settings.socialCrosspostPreferences = {
            preference("li", SocialCrosspostPlatform::linkedin, SocialCrosspostMode::adapt)};
        h.state->setSettings(settings);
        h.clipboard.text = QStringLiteral("Text");
        h.state->captureClipboard();
        QVERIFY(h.waitUntilIdle());
        const QUuid id = h.state->jobs().first().id;
        QVERIFY(QTest::qWaitFor(
            [&] {
                return h.state->job(id)->logs.last().message
                       == u"Crossposting skipped: missing tenant context";
            },
            5000));
        QVERIFY(h.state->job(id)->socialPublishes.isEmpty());
        QCOMPARE(changesAfterCompletion, 1);
        QVERIFY(h.service.requestsTo("POST", paths::adaptations).isEmpty());
    }

    void shopWithoutBlog()
    {
        AppStateHarness h;
        h.startSignedIn();
        h.service.answer("POST", paths::shop, ScriptedAnswer::json(204, ""));
        const JobRecord job = crosspost(
            h, {preference("s", SocialCrosspostPlatform::shopifyBlog, SocialCrosspostMode::article)});
        QCOMPARE(statuses(job), QStringList{QStringLiteral("shopify_blog:s=success")});
        QVERIFY(!h.service.requestsTo("POST", paths::shop)
                     .first()
                     .json.toObject()
                     .contains(QStringLiteral("blogId")));
    }

    // The follow-up of one job runs while the next job goes through the pipeline.
    void followUpRunsAlongsideTheNextJob()
    {
        AppStateHarness h;
        h.startSignedIn();
        ScriptedAnswer slow = ScriptedAnswer::json(200, q("{'adaptation':{'id':'ad-1'}}"));
        slow.delayMs = 700;
        h.service.answer("POST", paths::adaptations, slow);
        h.service.answer("POST", paths::publish, ScriptedAnswer::json(200, q("{'success':true}")));
        ClipperSettings settings = h.state->settings();
        settings.autoSend = false;
        settings.socialCrosspostPreferences = {
            preference("li", SocialCrosspostPlatform::linkedin, SocialCrosspostMode::adapt)};
        h.state->setSettings(settings);
        h.sendText(QStringLiteral("First"));
        settings.socialCrosspostPreferences.clear();
        h.state->setSettings(settings);
        h.sendText(QStringLiteral("Second"));
        QVERIFY(h.waitUntilIdle());
        const JobRecord second = h.state->jobs().at(0);
        const JobRecord first = h.state->jobs().at(1);
        QCOMPARE(second.status, JobStatus::success);
        QVERIFY(QTest::qWaitFor(
            [&] {
                return statuses(*h.state->job(first.id))
                       == QStringList{QStringLiteral("linkedin:li=success")};
            },
            5000));

        // The second job was analysed while the first one's adaptation was still outstanding.
        const QStringList paths = h.requestPaths();
        const qsizetype adaptation = paths.indexOf(paths::adaptations);
        const qsizetype secondAnalysis = paths.lastIndexOf(QStringLiteral("/api/blog/admin/analyze"));
        const qsizetype publish = paths.indexOf(paths::publish);
        QVERIFY(adaptation < secondAnalysis && secondAnalysis < publish);
        QVERIFY(h.state->job(second.id)->socialPublishes.isEmpty());
    }

    void availableAccountsOrder()
    {
        AppStateHarness h;
        AuxData aux;
        aux.socialAccounts = {account("x1", SocialCrosspostPlatform::xArticle, "Zed"),
                              account("l1", SocialCrosspostPlatform::linkedin, "beta"),
                              account("f1", SocialCrosspostPlatform::facebook, "Page"),
                              account("l2", SocialCrosspostPlatform::linkedin, "Alpha"),
                              account("l3", SocialCrosspostPlatform::linkedin, "ALPHA"),
                              account("i1", SocialCrosspostPlatform::instagram, "Gram", false),
                              account("s1", SocialCrosspostPlatform::shopifyBlog, "Shop"),
                              account("r1", SocialCrosspostPlatform::reddit, "u/ada")};
        h.state->setAuxData(aux);
        QStringList ids;
        for (const ConnectedSocialAccount &a : h.state->availableSocialCrosspostAccounts())
            ids << a.id;
        // Facebook, LinkedIn (Alpha = ALPHA kept in delivered order, then beta), Reddit, Shopify, X.
        QCOMPARE(ids.join(u','), QStringLiteral("f1,l2,l3,l1,r1,s1,x1"));
    }

    void preferenceEditsAndSync()
    {
        AppStateHarness h;
        blockingWait(h.state->bootstrap());
        ConnectedSocialAccount shop = account("s1", SocialCrosspostPlatform::shopifyBlog, "Shop");
        shop.metadata = SocialAccountMetadata{std::nullopt, 12, QStringLiteral("News"),
                                              QStringLiteral("x.myshopify.com")};
        ConnectedSocialAccount linkedin = account("l1", SocialCrosspostPlatform::linkedin, "Ada");
        ConnectedSocialAccount gone = account("g1", SocialCrosspostPlatform::facebook, "Gone", false);
        AuxData aux;
        aux.socialAccounts = {shop, linkedin, gone};
        h.state->setAuxData(aux);

        // Looked up, not stored.
        QCOMPARE(h.state->socialCrosspostPreference(linkedin),
                 SocialCrosspostPreference::defaultFor(linkedin));
        QVERIFY(h.state->settings().socialCrosspostPreferences.isEmpty());

        h.state->setSocialCrosspostMode(shop, SocialCrosspostMode::direct);
        QCOMPARE(h.state->socialCrosspostPreference(shop).mode, SocialCrosspostMode::article);
        QCOMPARE(h.state->socialCrosspostPreference(shop).selectedBlogId, qint64(12));
        QVERIFY(!h.state->socialCrosspostPreference(shop).enabled);
        h.state->setSocialCrosspostEnabled(linkedin, true);
        QCOMPARE(h.state->socialCrosspostPreference(linkedin).mode, SocialCrosspostMode::adapt);
        h.state->setSocialCrosspostMode(linkedin, SocialCrosspostMode::direct);
        QCOMPARE(h.stateFile().settings.socialCrosspostPreferences,
                 h.state->settings().socialCrosspostPreferences);
        QCOMPARE(h.state->settings().socialCrosspostPreferences.size(), 2);

        // An edit for an account that is not available stores nothing for it.
        h.state->setSocialCrosspostEnabled(gone, true);
        QCOMPARE(h.state->settings().socialCrosspostPreferences.size(), 2);

        // The account was renamed and the shop lost its metadata; LinkedIn went inactive.
        shop.accountName = QStringLiteral("Shop 2");
        shop.metadata.reset();
        linkedin.isActive = false;
        aux.socialAccounts = {shop, linkedin};
        h.state->setAuxData(aux);
        h.state->syncSocialCrosspostPreferences();
        const QList<SocialCrosspostPreference> kept = h.state->settings().socialCrosspostPreferences;
        QCOMPARE(kept.size(), 1);
        QCOMPARE(kept.first().accountName, QStringLiteral("Shop 2"));
        QVERIFY(!kept.first().selectedBlogId && !kept.first().selectedBlogTitle);
        QCOMPARE(h.stateFile().settings.socialCrosspostPreferences, kept);

        aux.socialAccounts.clear();
        h.state->setAuxData(aux);
        h.state->syncSocialCrosspostPreferences();
        QVERIFY(h.state->settings().socialCrosspostPreferences.isEmpty());
    }

    void openingTheConnectionsPage()
    {
        AppStateHarness h;
        qputenv("PENDREL_API_BASE_URL", "https://pendrel.test/app/");
        h.state->openSocialConnections();
        QVERIFY(QTest::qWaitFor([&] { return !h.opener.opened.isEmpty(); }, 2000));
        QCOMPARE(
            h.opener.opened.first(),
            QUrl(QStringLiteral("https://pendrel.test/dashboard/settings?section=account&tab=integrations")));
    }
};

QTEST_GUILESS_MAIN(TestCrossposting)
#include "tst_crossposting.moc"
