#include "auth/AuthManager.h"
#include "platform/FileSecretBackend.h"
#include "support/Tasks.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>

#include "JsonTestUtil.h"

#include "FakeContentService.h"

using namespace pendrel;
using namespace pendrel::test;

namespace {

constexpr double kNow = 1'800'000'000.0;

const QByteArray kSignedIn = q("{'message':'ok','user':{'id':'u-1','email':'ann@pendrel.test'},'session':{'"
                               "access_token':'at','refresh_token':'rt','expires_at':1800003600.5}}");

} // namespace

class TestAuthManager : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> dir;
    std::unique_ptr<FileSecretBackend> secrets;
    std::unique_ptr<KeychainStore> keychain;
    std::unique_ptr<AuthManager> auth;
    std::unique_ptr<FakeContentService> service;

    UserSession stored(double secondsLeft)
    {
        return UserSession{QStringLiteral("a"), QStringLiteral("r"), kNow + secondsLeft, QStringLiteral("u"),
                           std::nullopt};
    }

    QString signInFailure()
    {
        try {
            blockingWait(auth->signIn(QStringLiteral("ann@pendrel.test"), QStringLiteral("pw")));
        } catch (const Error &e) {
            return e.description();
        }
        return QStringLiteral("<signed in>");
    }

private slots:
    void init()
    {
        dir = std::make_unique<QTemporaryDir>();
        secrets = std::make_unique<FileSecretBackend>(dir->filePath(QStringLiteral("secrets")));
        keychain = std::make_unique<KeychainStore>(*secrets, QStringLiteral("com.pendrel.publisher.dev"));
        auth = std::make_unique<AuthManager>(*keychain, [] { return kNow; });
        service = std::make_unique<FakeContentService>();
        qputenv("PENDREL_API_BASE_URL", service->baseUrl().toString().toUtf8());
    }

    void restoreRule_data()
    {
        QTest::addColumn<double>("secondsLeft");
        QTest::addColumn<bool>("kept");
        QTest::newRow("31 s left") << 31.0 << true;
        QTest::newRow("exactly 30 s left") << 30.0 << true;
        QTest::newRow("29 s left") << 29.0 << false;
        QTest::newRow("29.9 s left") << 29.9 << false;
        QTest::newRow("expired") << -100.0 << false;
    }
    void restoreRule()
    {
        QFETCH(double, secondsLeft);
        QFETCH(bool, kept);
        blockingWait(keychain->save(stored(secondsLeft)));
        const auto restored = blockingWait(auth->restoreSession());
        QCOMPARE(restored.has_value(), kept);
        if (kept)
            QCOMPARE(*restored, stored(secondsLeft));
        // A session too close to expiry is gone from the store as well.
        QCOMPARE(blockingWait(keychain->loadSession()).has_value(), kept);
    }

    void restoreWithoutOrUnreadableItem()
    {
        QCOMPARE(blockingWait(auth->restoreSession()), std::nullopt);
        blockingWait(secrets->write(keychain->service(), QStringLiteral("default"), "{broken"));
        QCOMPARE(blockingWait(auth->restoreSession()), std::nullopt);
        // The unreadable item is left in place.
        QCOMPARE(blockingWait(secrets->read(keychain->service(), QStringLiteral("default"))).data,
                 QByteArray("{broken"));
    }

    void signInRequestAndSession()
    {
        service->answer("POST", QStringLiteral("/api/auth/signin"), ScriptedAnswer::json(200, kSignedIn));
        const UserSession session =
            blockingWait(auth->signIn(QStringLiteral(" Ann@Pendrel.test "), QStringLiteral(" ")));
        QCOMPARE(session, (UserSession{QStringLiteral("at"), QStringLiteral("rt"), 1800003600.5,
                                       QStringLiteral("u-1"), QStringLiteral("ann@pendrel.test")}));
        QCOMPARE(blockingWait(keychain->loadSession()), session);

        const RecordedRequest &sent = service->requests().first();
        QCOMPARE(sent.header("Content-Type"), QByteArray("application/json"));
        QCOMPARE(sent.header("x-client"), QByteArray("macos-menu-bar"));
        QVERIFY(!sent.hasHeader("Authorization"));
        QCOMPARE(sent.json.toObject(),
                 (QJsonObject{{QStringLiteral("email"), QStringLiteral(" Ann@Pendrel.test ")},
                              {QStringLiteral("password"), QStringLiteral(" ")},
                              {QStringLiteral("method"), QStringLiteral("macos_menu_bar")}}));
        blockingWait(auth->signIn(QStringLiteral("a"), QStringLiteral("b")));
        QCOMPARE(service->requests().size(), 2);
        QVERIFY(service->requests().at(0).header("x-request-id")
                != service->requests().at(1).header("x-request-id"));
        QCOMPARE(service->requests().at(1).header("x-request-id").size(), 36);
        for (const QByteArray name :
             {"Content-Type", "x-client", "x-request-id"}) // as spelled, case included
            QVERIFY2(service->requests().at(1).headerNames().contains(name), name.constData());
    }

    void signInWithoutEmail()
    {
        service->answer(
            "POST", QStringLiteral("/api/auth/signin"),
            ScriptedAnswer::json(200, q("{'message':'ok','user':{'id':'u','email':null},'session':{'access_"
                                        "token':'a','refresh_token':'r','expires_at':1}}")));
        QCOMPARE(blockingWait(auth->signIn(QStringLiteral("a"), QStringLiteral("b"))).email, std::nullopt);
    }

    void signInFailures_data()
    {
        QTest::addColumn<ScriptedAnswer>("answer");
        QTest::addColumn<QString>("description");
        QTest::newRow("error text") << ScriptedAnswer::json(400, q("{'error':'Invalid login credentials'}"))
                                    << "Invalid login credentials";
        QTest::newRow("error with a number beside it")
            << ScriptedAnswer::json(400, q("{'error':'x','code':5}")) << "Authentication failed";
        QTest::newRow("message only")
            << ScriptedAnswer::json(401, q("{'message':'m'}")) << "Authentication failed";
        QTest::newRow("html") << ScriptedAnswer::text(502, "<html>bad gateway</html>")
                              << "Authentication failed";
        QTest::newRow("missing session")
            << ScriptedAnswer::json(200, q("{'message':'ok','user':{'id':'u'}}")) << "session: missing";
        QTest::newRow("expiry as text")
            << ScriptedAnswer::json(200, q("{'message':'ok','user':{'id':'u'},'session':{'access_token':'a','"
                                           "refresh_token':'r','expires_at':'1'}}"))
            << "session.expires_at: expected a number, found a string";
        QTest::newRow("no message") << ScriptedAnswer::json(200, q("{'user':{'id':'u'}}"))
                                    << "message: missing";
    }
    void signInFailures()
    {
        QFETCH(ScriptedAnswer, answer);
        QFETCH(QString, description);
        service->answer("POST", QStringLiteral("/api/auth/signin"), answer);
        QCOMPARE(signInFailure(), description);
        QCOMPARE(blockingWait(keychain->loadSession()), std::nullopt); // nothing saved
    }

    void unreachableService()
    {
        service->answer("POST", QStringLiteral("/api/auth/signin"), ScriptedAnswer::dropped());
        QVERIFY_THROWS_EXCEPTION(TransportError,
                                 blockingWait(auth->signIn(QStringLiteral("a"), QStringLiteral("b"))));
    }

    void browserStart_data()
    {
        QTest::addColumn<NativeAuthFlowMode>("mode");
        QTest::addColumn<std::optional<NativeAuthProvider>>("provider");
        QTest::addColumn<QByteArray>("body");
        QTest::newRow("linkedin") << NativeAuthFlowMode::signin
                                  << std::optional(NativeAuthProvider::linkedinOIDC)
                                  << q("{'mode':'signin','provider':'linkedin_oidc'}");
        QTest::newRow("account creation")
            << NativeAuthFlowMode::signup << std::optional<NativeAuthProvider>() << q("{'mode':'signup'}");
    }
    void browserStart()
    {
        QFETCH(NativeAuthFlowMode, mode);
        QFETCH(std::optional<NativeAuthProvider>, provider);
        QFETCH(QByteArray, body);
        service->answer("POST", QStringLiteral("/api/auth/native/session"),
                        ScriptedAnswer::json(200, q("{'sessionId':'s1','pollToken':'pt','mode':'signin','"
                                                    "authUrl':'https://pendrel.test/native?s=s1'}")));
        const auto started = blockingWait(auth->startBrowserAuth(mode, provider));
        QCOMPARE(started.sessionId, QStringLiteral("s1"));
        QCOMPARE(started.pollToken, QStringLiteral("pt"));
        QCOMPARE(started.authUrl, QStringLiteral("https://pendrel.test/native?s=s1"));
        const RecordedRequest &sent = service->requests().first();
        QCOMPARE(sent.json, QJsonDocument::fromJson(body).object());
        QCOMPARE(sent.header("Content-Type"), QByteArray("application/json"));
        QVERIFY(!sent.hasHeader("x-request-id"));
        QVERIFY(!sent.hasHeader("Authorization"));
    }

    void browserStartFailures()
    {
        service->answer("POST", QStringLiteral("/api/auth/native/session"), ScriptedAnswer::json(503, "{}"));
        try {
            blockingWait(auth->startBrowserAuth(NativeAuthFlowMode::signin, std::nullopt));
            QFAIL("no error");
        } catch (const APIClientError &e) {
            QCOMPARE(e.statusCode(), 503);
            QCOMPARE(e.description(), QStringLiteral("Could not start browser sign in"));
        }
        service->answer("POST", QStringLiteral("/api/auth/native/session"),
                        ScriptedAnswer::json(200, q("{'sessionId':'s1','pollToken':'pt','mode':'signin'}")));
        QVERIFY_THROWS_EXCEPTION(
            DecodingError, blockingWait(auth->startBrowserAuth(NativeAuthFlowMode::signin, std::nullopt)));
    }

    void browserPoll_data()
    {
        QTest::addColumn<ScriptedAnswer>("answer");
        QTest::addColumn<QString>("outcome"); // the status read, or the error's description
        QTest::addColumn<bool>("hasSession");
        QTest::newRow("pending") << ScriptedAnswer::json(200, q("{'status':'pending'}")) << "pending"
                                 << false;
        QTest::newRow("completed") << ScriptedAnswer::json(
            200, q("{'status':'completed','user':{'id':'u'},'session':{'access_token':'a','refresh_token':'r'"
                   ",'expires_at':2e9}}"))
                                   << "completed" << true;
        QTest::newRow("completed without tokens")
            << ScriptedAnswer::json(200, q("{'status':'completed','user':{'id':'u'}}")) << "completed"
            << false;
        QTest::newRow("expired as 404")
            << ScriptedAnswer::json(404, q("{'status':'expired'}")) << "expired" << false;
        QTest::newRow("other 404") << ScriptedAnswer::json(404, q("{'error':'No such session'}"))
                                   << "No such session" << false;
        QTest::newRow("404 pending") << ScriptedAnswer::json(404, q("{'status':'pending'}"))
                                     << "Could not read browser sign in status" << false;
        QTest::newRow("server error")
            << ScriptedAnswer::text(500, "oops") << "Could not read browser sign in status" << false;
    }
    void browserPoll()
    {
        QFETCH(ScriptedAnswer, answer);
        QFETCH(QString, outcome);
        QFETCH(bool, hasSession);
        service->answer("GET", QStringLiteral("/api/auth/native/session/s 1"), answer);
        QString seen;
        bool session = false;
        try {
            const auto poll =
                blockingWait(auth->pollBrowserAuth(QStringLiteral("s 1"), QStringLiteral("pt")));
            seen = poll.status;
            session = poll.completedSession().has_value();
        } catch (const Error &e) {
            seen = e.description();
        }
        QCOMPARE(seen, outcome);
        QCOMPARE(session, hasSession);
        const RecordedRequest &sent = service->requests().first();
        QCOMPARE(sent.header("Authorization"), QByteArray("Bearer pt"));
        QCOMPARE(sent.header("x-client"), QByteArray("macos-menu-bar"));
        QVERIFY(!sent.hasHeader("x-request-id"));
        QVERIFY(sent.body.isEmpty());
    }

    void providerTexts()
    {
        QStringList copies;
        for (const auto provider : enumCases<NativeAuthProvider>())
            copies << providerHelperCopy(provider);
        QCOMPARE(copies, (QStringList{"Continue with Apple", "Continue with Google", "Continue with GitHub",
                                      "Continue with LinkedIn", "Continue with Facebook"}));
        QCOMPARE(enumString(NativeAuthProvider::linkedinOIDC), QStringLiteral("linkedin_oidc"));
    }
};

QTEST_GUILESS_MAIN(TestAuthManager)
#include "tst_authmanager.moc"
