#include "api/APIClient.h"
#include "support/Tasks.h"

#include <QTest>

#include "ApiTestUtil.h"
#include "FakeContentService.h"
#include "JsonTestUtil.h"
#include "ServicePaths.h"

using namespace pendrel;
using namespace pendrel::test;

namespace {

// Standing answers by path.
using Answers = QList<QPair<QString, pendrel::test::ScriptedAnswer>>;

} // namespace

class TestWorkspaceData : public QObject {
    Q_OBJECT

    std::unique_ptr<FakeContentService> service;
    FixedSessions sessions;
    std::unique_ptr<APIClient> client;

    // Answers every request with an empty but valid list.
    void answerEmpty()
    {
        service->answer("GET", paths::presets, ScriptedAnswer::json(200, q("{'presets':[]}")));
        service->answer("GET", paths::tenantSettings, ScriptedAnswer::json(200, "{}"));
        service->answer("GET", paths::favorites, ScriptedAnswer::json(200, q("{'favorites':[]}")));
        service->answer("GET", paths::socialAccounts, ScriptedAnswer::json(200, q("{'accounts':[]}")));
    }

    AuxData fetch(const QString &tenant = QStringLiteral("t1"),
                  const QString &language = QStringLiteral("de"))
    {
        return blockingWait(client->fetchAuxData(tenant, language));
    }

private slots:
    void init()
    {
        service = std::make_unique<FakeContentService>();
        qputenv("PENDREL_API_BASE_URL", service->baseUrl().toString().toUtf8());
        client = std::make_unique<APIClient>(sessions);
    }

    void requests()
    {
        answerEmpty();
        const QDateTime before = QDateTime::currentDateTimeUtc();
        const AuxData data = fetch(QStringLiteral("acme+1"), QStringLiteral("pt-BR"));
        QCOMPARE(data.language, QStringLiteral("pt-BR"));
        QVERIFY(data.lastFetchedAt && *data.lastFetchedAt >= before.addSecs(-1));
        QVERIFY(data.presets.isEmpty() && data.authors.isEmpty() && data.favorites.isEmpty()
                && data.socialAccounts.isEmpty());

        QStringList targets;
        for (const RecordedRequest &r : service->requests()) {
            QCOMPARE(r.method, QByteArray("GET"));
            QVERIFY(!r.hasHeader("X-Tenant-ID"));
            QVERIFY(r.body.isEmpty());
            QCOMPARE(r.header("Authorization"), QByteArray("Bearer token-1"));
            targets << r.pathWithQuery();
        }
        targets.sort();
        // The values go in as they are: a "+" is not escaped to "%2B".
        QCOMPARE(targets,
                 (QStringList{QStringLiteral("/api/ai-insights/favorites?tenantId=acme+1"),
                              QStringLiteral("/api/internal-links/presets?tenantId=acme+1&language=pt-BR"),
                              QStringLiteral("/api/social-accounts?tenantId=acme+1"),
                              QStringLiteral("/api/tenant-settings?tenantId=acme+1")}));
    }

    void requestsAreInFlightTogether()
    {
        answerEmpty();
        // While presets, the first one waited for, is held back, the other
        // three must already have been sent.
        ScriptedAnswer slow = ScriptedAnswer::json(200, q("{'presets':[]}"));
        slow.delayMs = 3000;
        service->answer("GET", paths::presets, slow);
        bool done = false;
        const auto run = [&]() -> QCoro::Task<void> {
            co_await client->fetchAuxData(QStringLiteral("t1"), QStringLiteral("en"));
            done = true;
        };
        QCoro::Task<void> running = run();
        QVERIFY(service->waitForRequests(4, 2500));
        QVERIFY(!done);
        QVERIFY(QTest::qWaitFor([&] { return done; }, 10000));
    }

    void mapping()
    {
        service->answer("GET", paths::presets,
                        ScriptedAnswer::json(200, q("{'presets':[{'id':'p1','name':'Docs'},{'id':'p2'},"
                                                    "{'id':'p3','name':null,'extra':1}]}")));
        service->answer("GET", paths::tenantSettings,
                        ScriptedAnswer::json(200, q("{'settings':{'seo':{'authors':[{'id':'a1','name':'Ada'},"
                                                    "{'id':'a2','name':'Bo','bio':'x'}]},'other':1}}")));
        service->answer("GET", paths::favorites,
                        ScriptedAnswer::json(200, q("{'favorites':[{'id':'f1','domain':'one.test'}]}")));
        service->answer(
            "GET", paths::socialAccounts,
            ScriptedAnswer::json(
                200,
                q("{'accounts':["
                  "{'id':'c1','platform':'linkedin','account_id':'li-1','is_active':true},"
                  "{'id':'c2','platform':'LinkedIn','account_id':'li-2','is_active':true},"
                  "{'id':'c3','platform':'mastodon','account_id':'m-1','is_active':true},"
                  "{'id':'c4','platform':'reddit','account_id':'r-1','account_name':'u/ada',"
                  "'account_type':'user','is_active':true,'metadata':{'default_subreddit':'cpp'}},"
                  "{'id':'c5','platform':'facebook','account_id':'fb-1','is_active':false},"
                  "{'id':'c6','platform':'shopify_blog','account_id':'s-1','is_active':true,"
                  "'metadata':{'selectedBlogId':12,'selectedBlogTitle':'News','myshopifyDomain':'x.myshopify."
                  "com'}},"
                  "{'id':'c7','platform':'x_article','account_id':'x-1','account_name':null,'is_active':true}"
                  "]}")));
        const AuxData data = fetch();
        QCOMPARE(data.presets, (QList<LinksPreset>{{QStringLiteral("p1"), QStringLiteral("Docs")},
                                                   {QStringLiteral("p2"), QStringLiteral("p2")},
                                                   {QStringLiteral("p3"), QStringLiteral("p3")}}));
        QCOMPARE(data.authors, (QList<AuthorOption>{{QStringLiteral("a1"), QStringLiteral("Ada")},
                                                    {QStringLiteral("a2"), QStringLiteral("Bo")}}));
        QCOMPARE(data.favorites, (QList<FavoriteDomain>{{QStringLiteral("f1"), QStringLiteral("one.test")}}));

        QStringList summary;
        for (const ConnectedSocialAccount &a : data.socialAccounts)
            summary << a.id + u' ' + enumString(a.platform) + u' ' + a.accountID + u' ' + a.accountName;
        QCOMPARE(summary, (QStringList{QStringLiteral("c1 linkedin li-1 LinkedIn"),
                                       QStringLiteral("c4 reddit r-1 u/ada"),
                                       QStringLiteral("c6 shopify_blog s-1 Shopify"),
                                       QStringLiteral("c7 x_article x-1 X")}));
        const ConnectedSocialAccount &reddit = data.socialAccounts[1];
        QCOMPARE(reddit.accountType, QStringLiteral("user"));
        QVERIFY(reddit.isActive);
        QCOMPARE(reddit.metadata->defaultSubreddit, QStringLiteral("cpp"));
        const ConnectedSocialAccount &shop = data.socialAccounts[2];
        QCOMPARE(shop.metadata->selectedBlogId, qint64(12));
        QCOMPARE(shop.metadata->myshopifyDomain, QStringLiteral("x.myshopify.com"));
        QVERIFY(!data.socialAccounts[0].metadata);
    }

    void authorsLookup_data()
    {
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<QString>("outcome"); // author ids joined, or the failure
        QTest::newRow("empty object") << QByteArray("{}") << "";
        QTest::newRow("settings null") << q("{'settings':null}") << "";
        QTest::newRow("no seo") << q("{'settings':{}}") << "";
        QTest::newRow("seo null") << q("{'settings':{'seo':null}}") << "";
        QTest::newRow("no authors") << q("{'settings':{'seo':{}}}") << "";
        QTest::newRow("authors null") << q("{'settings':{'seo':{'authors':null}}}") << "";
        QTest::newRow("authors") << q("{'settings':{'seo':{'authors':[{'id':'a','name':'A'}]}}}") << "a";
        QTest::newRow("author without name")
            << q("{'settings':{'seo':{'authors':[{'id':'a'}]}}}") << "decoding";
        QTest::newRow("settings a list") << q("{'settings':[]}") << "decoding";
        QTest::newRow("authors an object") << q("{'settings':{'seo':{'authors':{}}}}") << "decoding";
    }
    void authorsLookup()
    {
        QFETCH(QByteArray, answer);
        QFETCH(QString, outcome);
        answerEmpty();
        service->answer("GET", paths::tenantSettings, ScriptedAnswer::json(200, answer));
        if (outcome == u"decoding") {
            QCOMPARE(outcomeOf(client->fetchAuxData(QStringLiteral("t1"), QStringLiteral("en"))), outcome);
            return;
        }
        QStringList ids;
        for (const AuthorOption &a : fetch().authors)
            ids << a.id;
        QCOMPARE(ids.join(u','), outcome);
    }

    // One failing request fails the whole fetch; of several, the first in
    // the fixed order presets, settings, favourites, accounts is reported.
    void failures_data()
    {
        QTest::addColumn<Answers>("answers");
        QTest::addColumn<QString>("outcome");
        const auto fail = [](int status, const char *code) {
            return ScriptedAnswer::json(status,
                                        QByteArray("{\"error\":\"") + code + "\",\"code\":\"" + code + "\"}");
        };
        QTest::newRow("favourites 500") << Answers{{paths::favorites, fail(500, "F")}} << "http 500 F F";
        QTest::newRow("presets and accounts fail")
            << Answers{{paths::socialAccounts, fail(503, "A")}, {paths::presets, fail(500, "P")}}
            << "http 500 P P";
        QTest::newRow("accounts then settings fail")
            << Answers{{paths::socialAccounts, fail(500, "A")}, {paths::tenantSettings, fail(403, "S")}}
            << "http 403 S S";
        QTest::newRow("is_active as a number")
            << Answers{{paths::socialAccounts,
                        ScriptedAnswer::json(200, q("{'accounts':[{'id':'c','platform':'linkedin',"
                                                    "'account_id':'x','is_active':1}]}"))}}
            << "decoding";
        QTest::newRow("unknown platform without is_active")
            << Answers{{paths::socialAccounts,
                        ScriptedAnswer::json(
                            200, q("{'accounts':[{'id':'c','platform':'tiktok','account_id':'x'}]}"))}}
            << "decoding";
        QTest::newRow("account_name number")
            << Answers{{paths::socialAccounts,
                        ScriptedAnswer::json(200,
                                             q("{'accounts':[{'id':'c','platform':'linkedin',"
                                               "'account_id':'x','account_name':5,'is_active':true}]}"))}}
            << "decoding";
        QTest::newRow("no accounts key")
            << Answers{{paths::socialAccounts, ScriptedAnswer::json(200, "{}")}} << "decoding";
        QTest::newRow("presets without id")
            << Answers{{paths::presets, ScriptedAnswer::json(200, q("{'presets':[{'name':'x'}]}"))}}
            << "decoding";
        QTest::newRow("favourites null")
            << Answers{{paths::favorites, ScriptedAnswer::json(200, q("{'favorites':null}"))}} << "decoding";
        QTest::newRow("favourite domain missing")
            << Answers{{paths::favorites, ScriptedAnswer::json(200, q("{'favorites':[{'id':'f'}]}"))}}
            << "decoding";
        QTest::newRow("presets html")
            << Answers{{paths::presets, ScriptedAnswer::text(200, "<html>")}} << "decoding";
        QTest::newRow("settings dropped")
            << Answers{{paths::tenantSettings, ScriptedAnswer::dropped()}} << "transport";
    }
    void failures()
    {
        QFETCH(Answers, answers);
        QFETCH(QString, outcome);
        answerEmpty();
        for (const auto &[path, answer] : answers)
            service->answer("GET", path, answer);
        QCOMPARE(outcomeOf(client->fetchAuxData(QStringLiteral("t1"), QStringLiteral("en"))), outcome);
    }

    // After the first failure the requests still loading are cancelled and
    // their (late) outcome is dropped.
    void outstandingRequestsAreCancelled()
    {
        answerEmpty();
        service->answer("GET", paths::presets, ScriptedAnswer::json(500, q("{'error':'P'}")));
        ScriptedAnswer late = ScriptedAnswer::json(500, q("{'error':'late'}"));
        late.delayMs = 8000;
        service->answer("GET", paths::favorites, late);
        service->answer("GET", paths::socialAccounts, late);
        QCOMPARE(outcomeOf(client->fetchAuxData(QStringLiteral("t1"), QStringLiteral("en"))),
                 QStringLiteral("http 500 - P"));
        QVERIFY(QTest::qWaitFor([&] { return service->abandoned().size() == 2; }, 5000));
        QStringList abandoned = service->abandoned();
        abandoned.sort();
        QCOMPARE(abandoned, (QStringList{QStringLiteral("/api/ai-insights/favorites?tenantId=t1"),
                                         QStringLiteral("/api/social-accounts?tenantId=t1")}));
    }

    void noSession()
    {
        sessions.session.reset();
        QCOMPARE(outcomeOf(client->fetchAuxData(QStringLiteral("t1"), QStringLiteral("en"))),
                 QStringLiteral("missingSession"));
        QCOMPARE(service->requests().size(), 0);
        sessions.session = FixedSessions().session;
    }
};

QTEST_GUILESS_MAIN(TestWorkspaceData)
#include "tst_workspacedata.moc"
