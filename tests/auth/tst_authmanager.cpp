#include "auth/AuthManager.h"
#include "platform/FileSecretBackend.h"
#include "support/Tasks.h"

#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>

#include "FakeContentService.h"

using namespace pendrel;
using namespace pendrel::test;

namespace {

constexpr double kNow = 1'800'000'000.0;

const QByteArray kSignedIn =
    R"({"message":"ok","user":{"id":"u-1","email":"ann@pendrel.test"},)"
    R"("session":{"access_token":"at","refresh_token":"rt","expires_at":1800003600.5}})";

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
    }

    void signInWithoutEmail()
    {
        service->answer("POST", QStringLiteral("/api/auth/signin"),
                        ScriptedAnswer::json(
                            200, R"({"message":"ok","user":{"id":"u","email":null},)"
                                 R"("session":{"access_token":"a","refresh_token":"r","expires_at":1}})"));
        QCOMPARE(blockingWait(auth->signIn(QStringLiteral("a"), QStringLiteral("b"))).email, std::nullopt);
    }

    void signInFailures_data()
    {
        QTest::addColumn<ScriptedAnswer>("answer");
        QTest::addColumn<QString>("description");
        QTest::newRow("error text") << ScriptedAnswer::json(400, R"({"error":"Invalid login credentials"})")
                                    << "Invalid login credentials";
        QTest::newRow("error with a number beside it")
            << ScriptedAnswer::json(400, R"({"error":"x","code":5})") << "Authentication failed";
        QTest::newRow("message only")
            << ScriptedAnswer::json(401, R"({"message":"m"})") << "Authentication failed";
        QTest::newRow("html") << ScriptedAnswer::text(502, "<html>bad gateway</html>")
                              << "Authentication failed";
        QTest::newRow("missing session")
            << ScriptedAnswer::json(200, R"({"message":"ok","user":{"id":"u"}})") << "session: missing";
        QTest::newRow("expiry as text")
            << ScriptedAnswer::json(200,
                                    R"({"message":"ok","user":{"id":"u"},)"
                                    R"("session":{"access_token":"a","refresh_token":"r","expires_at":"1"}})")
            << "session.expires_at: expected a number, found a string";
        QTest::newRow("no message") << ScriptedAnswer::json(200, R"({"user":{"id":"u"}})")
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
};

QTEST_GUILESS_MAIN(TestAuthManager)
#include "tst_authmanager.moc"
