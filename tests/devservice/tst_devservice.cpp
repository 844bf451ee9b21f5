#include "jobs/JobQueue.h"
#include "shell/Appcast.h"
#include "state/AppState.h"

#include <QCoroNetworkReply>
#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include "AppStateHarness.h"
#include "DevContent.h"
#include "DevServiceProcess.h"

using namespace pendrel;
using namespace pendrel::test;

namespace {

SocialCrosspostPreference enabled(const char *id, SocialCrosspostPlatform platform, SocialCrosspostMode mode)
{
    SocialCrosspostPreference p;
    p.accountId = QString::fromLatin1(id);
    p.platform = platform;
    p.accountName = p.accountId;
    p.enabled = true;
    p.mode = mode;
    return p;
}

} // namespace

QByteArray accessToken(const Answer &signIn)
{
    return QJsonDocument::fromJson(signIn.body)
        .object()
        .value(QStringLiteral("session"))
        .toObject()
        .value(QStringLiteral("access_token"))
        .toString()
        .toUtf8();
}

class TestDevService : public QObject {
    Q_OBJECT

    std::unique_ptr<DevServiceProcess> shared; // for the request table
    QByteArray sharedToken;

private slots:
    void initTestCase()
    {
        shared = std::make_unique<DevServiceProcess>();
        QVERIFY2(!shared->origin().isEmpty(), "the service did not start");
        sharedToken = accessToken(request("POST", shared->origin() + QStringLiteral("/api/auth/signin"),
                                          q("{'email':'demo@pendrel.test','password':'demo'}")));
        QVERIFY(!sharedToken.isEmpty());
    }
    void cleanupTestCase() { shared.reset(); }

    // A lone surrogate (a "\ud800" escape in a request) makes Qt's regular
    // expressions give up with "no match": the text is made well-formed first.
    void textWithALoneSurrogate()
    {
        const QString html = QStringLiteral("<p>Body") + QChar(0xD800)
                             + QStringLiteral("</p><script>alert(1)</script><p>End</p>");
        const QString text = dev::content::htmlToText(html);
        QVERIFY2(!text.contains(QStringLiteral("alert")) && !text.contains(u'<'), qPrintable(text));
        QCOMPARE(text, QStringLiteral("Body\uFFFD\n\nEnd"));
    }

    // Sign-in, context and a whole article with every stage, through the
    // application's own client, queue and state.
    void wholeArticle()
    {
        DevServiceProcess dev;
        QVERIFY2(!dev.origin().isEmpty(), "the service did not start");
        AppStateHarness h;
        qputenv("PENDREL_API_BASE_URL", dev.origin().toUtf8());
        blockingWait(h.state->bootstrap());
        h.state->setSignInEmail(QStringLiteral("demo@pendrel.test"));
        h.state->setSignInPassword(QStringLiteral("wrong"));
        h.state->signIn();
        QVERIFY(QTest::qWaitFor([&] { return !h.state->isSigningIn(); }, 10000));
        QCOMPARE(h.state->authErrorMessage(), QStringLiteral("Invalid email or password"));
        h.state->setSignInPassword(QStringLiteral("demo"));
        h.state->signIn();
        QVERIFY(QTest::qWaitFor([&] { return !h.state->isSigningIn(); }, 10000));
        QCOMPARE(h.state->authState().status, AuthStatus::authenticated);
        QCOMPARE(h.state->authState().balanceCredits, qint64(500));
        QCOMPARE(h.state->authState().customDomain, dev.origin());
        const QList<ConnectedSocialAccount> accounts = h.state->availableSocialCrosspostAccounts();
        QCOMPARE(accounts.size(), 4); // the inactive and the unknown-platform accounts are left out
        QVERIFY(!h.state->auxData().presets.isEmpty() && !h.state->auxData().authors.isEmpty());

        ClipperSettings settings = h.state->settings();
        settings.enableImages = true;
        settings.imagesCount = 2;
        settings.enableHumanize = true;
        settings.enableAudio = true;
        settings.articleSize = ArticleSize::standard;
        settings.competitionOptions.gapAnalysis = true;
        settings.socialCrosspostPreferences = {
            enabled("acct-linkedin", SocialCrosspostPlatform::linkedin, SocialCrosspostMode::adapt),
            enabled("acct-reddit", SocialCrosspostPlatform::reddit, SocialCrosspostMode::direct),
            enabled("acct-shopify", SocialCrosspostPlatform::shopifyBlog, SocialCrosspostMode::article)};
        settings.socialCrosspostPreferences[2].selectedBlogId = 7;
        h.state->setSettings(settings);
        h.state->setUrlInput(dev.origin() + QStringLiteral("/samples/fast-builds"));
        h.state->captureURL();
        QVERIFY(h.waitUntilIdle(30000));

        const QUuid id = h.state->jobs().first().id;
        QVERIFY(QTest::qWaitFor(
            [&] {
                return h.state->job(id)->socialPublishes.size() == 3
                       && h.state->job(id)->socialPublishes.last().status != JobSocialPublishStatus::pending
                       && h.state->job(id)->socialPublishes.last().status != JobSocialPublishStatus::running;
            },
            10000));
        const JobRecord job = *h.state->job(id);
        QCOMPARE(job.status, JobStatus::success);
        QVERIFY(job.sourceText->toString().contains(QStringLiteral("Teams that wait for slow builds")));
        QVERIFY(!job.metadata->categories.isEmpty());
        QVERIFY(job.transformResult->transformedContent.toString().startsWith(QStringLiteral("# ")));
        QCOMPARE(job.illustrationsMetadata->assets.size(), 2);
        QVERIFY(job.contentAfterHumanize);
        QVERIFY(job.voiceoverQueued);
        QVERIFY(job.result->url->startsWith(dev.origin() + QStringLiteral("/blog/")));
        QCOMPARE(job.socialPublishes[0].status, JobSocialPublishStatus::success);
        QCOMPARE(job.socialPublishes[1].status, JobSocialPublishStatus::error); // Reddit without a subreddit
        QCOMPARE(job.socialPublishes[2].status, JobSocialPublishStatus::success);

        // The article page and its images are served.
        const Answer page = request("GET", *job.result->url);
        QCOMPARE(page.status, 200);
        QVERIFY(page.body.contains("<h1>"));
        const Answer image = request("GET", job.illustrationsMetadata->assets.first().url);
        QCOMPARE(image.status, 200);
        QVERIFY(image.body.startsWith("<svg"));
        // Credits were charged: 2 extract + 12 standard + 8 competition + 18 images + 2 humanize + 10
        // voice-over.
        QVERIFY(
            QTest::qWaitFor([&] { return h.state->authState().balanceCredits == qint64(500 - 52); }, 5000));
        const QJsonObject state =
            QJsonDocument::fromJson(request("GET", dev.origin() + QStringLiteral("/_dev/state")).body)
                .object();
        QCOMPARE(state.value(QStringLiteral("articles")).toInt(), 1);
        QCOMPARE(state.value(QStringLiteral("posts")).toInt(), 2);
    }

    void browserSignIn()
    {
        DevServiceProcess dev;
        AppStateHarness h;
        qputenv("PENDREL_API_BASE_URL", dev.origin().toUtf8());
        blockingWait(h.state->bootstrap());
        h.state->browserAuthPollIntervalMs = 100;
        h.state->startBrowserAuth(NativeAuthFlowMode::signin);
        QVERIFY(QTest::qWaitFor([&] { return !h.opener.opened.isEmpty(); }, 10000));
        const QString page = h.opener.opened.first().toString();
        QVERIFY(page.startsWith(dev.origin() + QStringLiteral("/auth/native/")));
        const Answer form = request("GET", page);
        QCOMPARE(form.status, 200);
        QVERIFY(form.body.contains("Continue with github"));
        QCOMPARE(
            request("GET", page + QStringLiteral("/complete?email=demo%40pendrel.test&password=nope")).status,
            401);
        QCOMPARE(
            request("GET", page + QStringLiteral("/complete?email=demo%40pendrel.test&password=demo")).status,
            200);
        QVERIFY(QTest::qWaitFor([&] { return !h.state->isBrowserAuthInProgress(); }, 10000));
        QCOMPARE(h.state->authState().status, AuthStatus::authenticated);
        QCOMPARE(h.state->authState().session->email, QStringLiteral("demo@pendrel.test"));
        QVERIFY(QTest::qWaitFor([&] { return h.state->auxData().lastFetchedAt.has_value(); }, 10000));
    }

    void unauthorisedAndExpired()
    {
        DevServiceProcess dev({QStringLiteral("--token-lifetime"), QStringLiteral("1")});
        QCOMPARE(request("GET", dev.origin() + QStringLiteral("/api/tenants")).status, 401);
        QCOMPARE(request("GET", dev.origin() + QStringLiteral("/api/tenants"), {}, "made-up").status, 401);
        const Answer signIn =
            request("POST", dev.origin() + QStringLiteral("/api/auth/signin"),
                    q("{'email':'demo@pendrel.test','password':'demo','method':'macos_menu_bar'}"));
        QCOMPARE(signIn.status, 200);
        const QByteArray token = accessToken(signIn);
        QCOMPARE(request("GET", dev.origin() + QStringLiteral("/api/tenants"), {}, token).status, 200);
        QTest::qWait(1100);
        const Answer expired = request("GET", dev.origin() + QStringLiteral("/api/tenants"), {}, token);
        QCOMPARE(expired.status, 401);
        QVERIFY(expired.body.contains("Session expired"));
        // Polls of unknown sessions answer the expired form.
        const Answer unknown = request("GET", dev.origin() + QStringLiteral("/api/auth/native/session/nope"));
        QCOMPARE(unknown.status, 404);
        QCOMPARE(QJsonDocument::fromJson(unknown.body).object().value(QStringLiteral("status")).toString(),
                 QStringLiteral("expired"));
    }

    // Requests the service cannot read get a 400, never a crash.
    void malformedRequests_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<int>("status");
        QTest::newRow("sign-in not JSON") << "/api/auth/signin" << QByteArray("{email") << 400;
        QTest::newRow("sign-in without password")
            << "/api/auth/signin" << q("{'email':'demo@pendrel.test'}") << 400;
        QTest::newRow("browser start, bad mode")
            << "/api/auth/native/session" << q("{'mode':'maybe'}") << 400;
        QTest::newRow("analyze array") << "/api/blog/admin/analyze" << QByteArray("[]") << 400;
        QTest::newRow("analyze empty text")
            << "/api/blog/admin/analyze"
            << q("{'originalText':'  ','targetLanguage':'en','tenantId':'tenant-demo'}") << 422;
        QTest::newRow("transform without metadata")
            << "/api/blog/admin/transform"
            << q("{'originalText':'x','targetLanguage':'en','articleSize':'mini','seoStandardMode':'auto'}")
            << 400;
        QTest::newRow("extract two addresses")
            << "/api/documents/extract-text" << q("{'sourceUrls':['http://a','http://b']}") << 400;
        QTest::newRow("extract not a web address")
            << "/api/documents/extract-text" << q("{'sourceUrls':['file:///etc/passwd']}") << 422;
        QTest::newRow("save with number title")
            << "/api/blog/save"
            << q("{'content':'x','title':3,'language':'en','articleId':'a','metadata':{}}") << 400;
        QTest::newRow("publish without account")
            << "/api/blog/social-adaptations/publish" << q("{'platform':'linkedin'}") << 400;
        QTest::newRow("foreign tenant")
            << "/api/blog/humanize" << q("{'content':'x','tenantId':'someone-else'}") << 403;
        QTest::newRow("unknown endpoint") << "/api/nothing" << QByteArray("{}") << 404;
    }
    void malformedRequests()
    {
        QFETCH(QString, path);
        QFETCH(QByteArray, body);
        QFETCH(int, status);
        QCOMPARE(request("POST", shared->origin() + path, body, sharedToken).status, status);
        QCOMPARE(shared->process().state(), QProcess::Running);
    }

    void dataSurvivesRestart()
    {
        QTemporaryDir data;
        const QStringList args{QStringLiteral("--data-dir"), data.path()};
        const QByteArray article =
            q("{'content':'# Kept\\n\\nBody','title':'Kept across restarts','language':'en','articleId':'A1',"
              "'tenantId':'tenant-demo','metadata':{}}");
        {
            DevServiceProcess dev(args);
            const QByteArray token =
                accessToken(request("POST", dev.origin() + QStringLiteral("/api/auth/signin"),
                                    q("{'email':'demo@pendrel.test','password':'demo'}")));
            QCOMPARE(request("POST", dev.origin() + QStringLiteral("/api/blog/save"), article, token).status,
                     200);
        }
        DevServiceProcess again(args);
        const Answer list = request("GET", again.origin() + QStringLiteral("/dashboard/blog"));
        QVERIFY(list.body.contains("Kept across restarts"));
        QCOMPARE(request("GET", again.origin() + QStringLiteral("/blog/kept-across-restarts")).status, 200);
    }

    void faultInjection()
    {
        DevServiceProcess dev({QStringLiteral("--fail"), QStringLiteral("/api/tenants=503")});
        QCOMPARE(request("GET", dev.origin() + QStringLiteral("/api/tenants")).status, 503);
        QCOMPARE(request("POST", dev.origin() + QStringLiteral("/_dev/reset")).status, 200);
        QCOMPARE(request("GET", dev.origin() + QStringLiteral("/api/tenants")).status,
                 401); // the real answer again
        QCOMPARE(
            request("POST", dev.origin() + QStringLiteral("/_dev/fail?path=/macos/appcast.xml&status=500"))
                .status,
            200);
        QCOMPARE(request("GET", dev.origin() + QStringLiteral("/macos/appcast.xml")).status, 500);
        QCOMPARE(request("POST", dev.origin() + QStringLiteral("/_dev/reset")).status, 200);
        const Answer feed = request("GET", dev.origin() + QStringLiteral("/macos/appcast.xml"));
        QCOMPARE(feed.status, 200);
        // The feed is one the updater accepts, offering the default version.
        const auto offered = Appcast::newest(Appcast::parse(feed.body, QUrl(dev.origin())));
        QVERIFY(offered);
        QCOMPARE(offered->offeredVersion(), QStringLiteral("1.0.0"));
        QVERIFY(offered->downloadURL()->path().endsWith(u"_amd64.deb"));
        QCOMPARE(request("GET", offered->releaseNotesURL->toString()).status, 200);
        QCOMPARE(request("GET", dev.origin() + QStringLiteral("/releases/0.9/notes")).status, 404);
        dev.process().terminate();
        QVERIFY(dev.process().waitForFinished(5000));
        QCOMPARE(dev.process().exitStatus(), QProcess::NormalExit);
        QCOMPARE(dev.process().exitCode(), 0);
    }
};

QTEST_GUILESS_MAIN(TestDevService)
#include "tst_devservice.moc"
