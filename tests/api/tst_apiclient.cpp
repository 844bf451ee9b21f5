#include "api/APIClient.h"
#include "support/Tasks.h"

#include <QSet>
#include <QTest>

#include "JsonTestUtil.h"

#include "ApiTestUtil.h"
#include "FakeContentService.h"

using namespace pendrel;
using namespace pendrel::test;

namespace {

APIClientError httpFailure(APIClient &client, const QString &path)
{
    try {
        blockingWait(
            client.performRequest(path, "POST", QStringLiteral("t1"), RequestBody{{QStringLiteral("a"), 1}}));
    } catch (const APIClientError &e) {
        return e;
    }
    return APIClientError(APIClientError::Kind::invalidResponse);
}

} // namespace

class TestAPIClient : public QObject {
    Q_OBJECT

    std::unique_ptr<FakeContentService> service;
    FixedSessions sessions;

private slots:
    void init()
    {
        service = std::make_unique<FakeContentService>();
        qputenv("PENDREL_API_BASE_URL", service->baseUrl().toString().toUtf8());
        sessions.session->accessToken = QStringLiteral("token-1");
    }

    void requestHeadersAndBody()
    {
        service->answer("POST", QStringLiteral("/api/x"), ScriptedAnswer::json(200, q("{'ok':true}")));
        APIClient client(sessions);
        const HttpResponse r =
            blockingWait(client.performRequest(QStringLiteral("api/x"), "POST", QStringLiteral("tenant-9"),
                                               RequestBody{{QStringLiteral("text"), QStringLiteral("a/b")}}));
        QCOMPARE(r.statusCode, 200);
        QCOMPARE(r.body, q("{'ok':true}"));
        const RecordedRequest &sent = service->requests().first();
        QCOMPARE(sent.header("Content-Type"), QByteArray("application/json"));
        QCOMPARE(sent.header("Authorization"), QByteArray("Bearer token-1"));
        QCOMPARE(sent.header("x-client"), QByteArray("macos-menu-bar"));
        QCOMPARE(sent.header("X-Tenant-ID"), QByteArray("tenant-9"));
        QVERIFY(QRegularExpression(
                    QStringLiteral("^[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}$"))
                    .match(QString::fromLatin1(sent.header("x-request-id")))
                    .hasMatch());
        QCOMPARE(sent.json.toObject().value(QStringLiteral("text")).toString(), QStringLiteral("a/b"));
        // The names go out spelled as the service documents them, case included.
        for (const QByteArray name :
             {"Content-Type", "Authorization", "x-client", "x-request-id", "X-Tenant-ID"})
            QVERIFY2(sent.headerNames().contains(name), name.constData());
    }

    void getWithoutTenantOrBody()
    {
        service->answer("GET", QStringLiteral("/api/y"), ScriptedAnswer::json(204, ""));
        APIClient client(sessions);
        const HttpResponse r =
            blockingWait(client.performRequest(QStringLiteral("/api/y"), "GET", QString(), std::nullopt));
        QCOMPARE(r.statusCode, 204);
        QVERIFY(r.body.isEmpty());
        const RecordedRequest &sent = service->requests().first();
        QCOMPARE(sent.header("Content-Type"), QByteArray("application/json"));
        QVERIFY(!sent.hasHeader("X-Tenant-ID")); // an empty tenant sends no header
        QVERIFY(sent.body.isEmpty());
    }

    void requestIdsAreDistinct()
    {
        service->answer("GET", QStringLiteral("/api/z"), ScriptedAnswer::json(200, "{}"));
        APIClient client(sessions);
        for (int i = 0; i < 5; ++i)
            blockingWait(client.performRequest(QStringLiteral("api/z"), "GET", std::nullopt, std::nullopt));
        QSet<QByteArray> ids;
        for (const auto &r : service->requests())
            ids.insert(r.header("x-request-id"));
        QCOMPARE(ids.size(), 5);
    }

    void noSessionNoTraffic()
    {
        FixedSessions none;
        none.session.reset();
        APIClient client(none);
        try {
            blockingWait(client.performRequest(QStringLiteral("api/x"), "GET", std::nullopt, std::nullopt));
            QFAIL("no error");
        } catch (const APIClientError &e) {
            QCOMPARE(e.kind(), APIClientError::Kind::missingSession);
            QCOMPARE(e.description(), QStringLiteral("No active session."));
        }
        QCOMPARE(service->requests().size(), 0);
    }

    void addressForming_data()
    {
        QTest::addColumn<QString>("base");
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("url");
        QTest::newRow("both slashes") << "https://p.test/"
                                      << "/api/tenants"
                                      << "https://p.test/api/tenants";
        QTest::newRow("no slashes") << "https://p.test"
                                    << "api/tenants"
                                    << "https://p.test/api/tenants";
        QTest::newRow("base with path") << "https://p.test/v1/"
                                        << "api/a?x=1"
                                        << "https://p.test/v1/api/a?x=1";
        QTest::newRow("absolute path") << "https://p.test"
                                       << "https://cdn.test/a.png"
                                       << "https://cdn.test/a.png";
    }
    void addressForming()
    {
        QFETCH(QString, base);
        QFETCH(QString, path);
        QFETCH(QString, url);
        qputenv("PENDREL_API_BASE_URL", base.toUtf8());
        APIClient client(sessions);
        QCOMPARE(client.buildURL(path).value_or(QUrl()).toString(), url);
    }

    void absoluteAddressCarriesToken()
    {
        service->answer("GET", QStringLiteral("/elsewhere"), ScriptedAnswer::json(200, "{}"));
        qputenv("PENDREL_API_BASE_URL", "https://unused.invalid");
        APIClient client(sessions);
        const QString absolute = service->baseUrl().toString() + QStringLiteral("elsewhere");
        blockingWait(client.performRequest(absolute, "GET", std::nullopt, std::nullopt));
        QCOMPARE(service->requests().first().header("Authorization"), QByteArray("Bearer token-1"));
    }

    void errorMapping_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("message");
        QTest::addColumn<std::optional<QString>>("code");
        QTest::newRow("three keys") << 402 << q("{'error':'A','message':'B','code':'C'}") << "A"
                                    << std::optional<QString>(QStringLiteral("C"));
        QTest::newRow("message only") << 400 << q("{'message':'B'}") << "B" << std::optional<QString>();
        QTest::newRow("html") << 500 << QByteArray("<html>boom</html>") << "Internal Server Error"
                              << std::optional<QString>();
        QTest::newRow("empty error") << 422 << q("{'error':'','code':'EMPTY_TEXT'}") << ""
                                     << std::optional<QString>(QStringLiteral("EMPTY_TEXT"));
        QTest::newRow("non-string value")
            << 401 << q("{'error':{'x':1},'code':'C'}") << "Unauthorized" << std::optional<QString>();
        QTest::newRow("empty body") << 503 << QByteArray() << "Service Unavailable"
                                    << std::optional<QString>();
        QTest::newRow("array body") << 404 << QByteArray("[]") << "Not Found" << std::optional<QString>();
    }
    void errorMapping()
    {
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        QFETCH(QString, message);
        QFETCH(std::optional<QString>, code);
        service->answer("POST", QStringLiteral("/api/fail"), ScriptedAnswer::json(status, body));
        APIClient client(sessions);
        const APIClientError e = httpFailure(client, QStringLiteral("api/fail"));
        QCOMPARE(e.kind(), APIClientError::Kind::http);
        QCOMPARE(e.statusCode(), status);
        QCOMPARE(e.message(), message);
        QCOMPARE(e.code(), code);
        const QString sentID = QString::fromLatin1(service->requests().last().header("x-request-id"));
        QCOMPARE(e.requestID(), sentID);
        QCOMPARE(e.description(), message + QStringLiteral(" (requestId: ") + sentID + u')');
    }

    void transportFailure()
    {
        service->answer("GET", QStringLiteral("/drop"), ScriptedAnswer::dropped());
        APIClient client(sessions);
        QVERIFY_THROWS_EXCEPTION(
            TransportError,
            blockingWait(client.performRequest(QStringLiteral("drop"), "GET", std::nullopt, std::nullopt)));
    }

    void tenantResolution_data()
    {
        QTest::addColumn<QByteArray>("tenants");
        QTest::addColumn<ScriptedAnswer>("domains");
        QTest::addColumn<qint64>("balance");
        QTest::addColumn<std::optional<QString>>("domain");
        const QByteArray two =
            q("{'tenants':[{'id':'t1','name':'One','balance_credits':12.9,'plan_type':'pro'},{'id':'t2'}]}");
        QTest::newRow("active domain")
            << two << ScriptedAnswer::json(200, q("{'status':'active','domain':'blog.one.test'}"))
            << qint64(12) << std::optional<QString>(QStringLiteral("blog.one.test"));
        QTest::newRow("pending domain")
            << two << ScriptedAnswer::json(200, q("{'status':'pending','domain':'d'}")) << qint64(12)
            << std::optional<QString>();
        QTest::newRow("Active is not active")
            << two << ScriptedAnswer::json(200, q("{'status':'Active','domain':'d'}")) << qint64(12)
            << std::optional<QString>();
        QTest::newRow("null domains")
            << two << ScriptedAnswer::json(200, "null") << qint64(12) << std::optional<QString>();
        QTest::newRow("domains failure")
            << two << ScriptedAnswer::json(500, "{}") << qint64(12) << std::optional<QString>();
        QTest::newRow("domains dropped")
            << two << ScriptedAnswer::dropped() << qint64(12) << std::optional<QString>();
        QTest::newRow("negative balance")
            << q("{'tenants':[{'id':'t1','balance_credits':-3.5}]}") << ScriptedAnswer::json(200, "{}")
            << qint64(-3) << std::optional<QString>();
        QTest::newRow("no balance") << q("{'tenants':[{'id':'t1'}]}") << ScriptedAnswer::json(200, "{}")
                                    << qint64(0) << std::optional<QString>();
    }
    void tenantResolution()
    {
        QFETCH(QByteArray, tenants);
        QFETCH(ScriptedAnswer, domains);
        QFETCH(qint64, balance);
        QFETCH(std::optional<QString>, domain);
        service->answer("GET", QStringLiteral("/api/tenants"), ScriptedAnswer::json(200, tenants));
        service->answer("GET", QStringLiteral("/api/domains"), domains);
        APIClient client(sessions);
        const AuthenticatedContext context = blockingWait(client.fetchAuthenticatedContext());
        QCOMPARE(context.tenantID, QStringLiteral("t1"));
        QCOMPARE(context.balanceCredits, balance);
        QCOMPARE(context.customDomain, domain);
        const auto domainRequests = service->requestsTo("GET", QStringLiteral("/api/domains"));
        // Qt sends a GET once more when a reused keep-alive connection closes
        // before any answer; that is the transport's, not a retry of ours.
        QCOMPARE(domainRequests.size(), domains.dropConnection ? 2 : 1);
        QCOMPARE(domainRequests.first().query.queryItemValue(QStringLiteral("tenantId")),
                 QStringLiteral("t1"));
        QVERIFY(!domainRequests.first().hasHeader("X-Tenant-ID"));
        if (tenants.contains("One")) {
            QCOMPARE(context.tenantName, QStringLiteral("One"));
            QCOMPARE(context.planType, QStringLiteral("pro"));
        }
    }

    void tenantFailures()
    {
        APIClient client(sessions);
        service->answer("GET", QStringLiteral("/api/tenants"),
                        ScriptedAnswer::json(200, q("{'tenants':[]}")));
        try {
            blockingWait(client.fetchAuthenticatedContext());
            QFAIL("no error");
        } catch (const APIClientError &e) {
            QCOMPARE(e.statusCode(), 401);
            QCOMPARE(e.code(), QStringLiteral("UNAUTHENTICATED"));
            QCOMPARE(e.description(), QStringLiteral("No active tenant"));
        }
        service->answer("GET", QStringLiteral("/api/tenants"),
                        ScriptedAnswer::json(200, q("{'tenants':[{'name':'x'}]}")));
        QVERIFY_THROWS_EXCEPTION(DecodingError, blockingWait(client.fetchAuthenticatedContext()));
        QCOMPARE(service->requestsTo("GET", QStringLiteral("/api/domains")).size(), 0);
    }
};

QTEST_GUILESS_MAIN(TestAPIClient)
#include "tst_apiclient.moc"
