#include "api/APIClient.h"
#include "support/JsonRead.h"
#include "support/Tasks.h"

#include <QSet>
#include <QTest>

#include <functional>
#include <stdexcept>

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

using Thrower = std::function<void()>;

} // namespace

Q_DECLARE_METATYPE(Thrower)

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

    // What a user reads (job error, notification, panel) is a plain sentence;
    // the request id and the parser's or network layer's words stay in the
    // whole account that log lines get.
    void userMessages_data()
    {
        QTest::addColumn<Thrower>("thrower");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<QString>("logged"); // a part of the log text
        const auto row = [](const char *name, Thrower thrower, const char *shown, const char *logged) {
            QTest::newRow(name) << thrower << QString::fromUtf8(shown) << QString::fromUtf8(logged);
        };
        const auto http = [](int status, const char *message) -> Thrower {
            return [=] {
                throw APIClientError::http(status, QString::fromUtf8(message), std::nullopt,
                                           QStringLiteral("R-1"));
            };
        };
        const auto transport = [](QNetworkReply::NetworkError error, const char *text) -> Thrower {
            return [=] { throw TransportError(error, QString::fromUtf8(text)); };
        };
        const auto parsing = [](QByteArray bytes) -> Thrower { return [=] { json::parseDocument(bytes); }; };
        const char *closed = "The connection to the service closed before it answered.";
        const char *unreadable = "The service sent an answer that could not be read.";
        row("service's own message", http(402, "Not enough credits"), "Not enough credits",
            "Not enough credits (requestId: R-1)");
        row("bare 401", http(401, "Unauthorized"),
            "The service did not accept the sign-in. Please sign in again.", "Unauthorized (requestId: R-1)");
        row("bare 500", http(500, "Internal Server Error"),
            "The service ran into a problem. Please try again later.",
            "Internal Server Error (requestId: R-1)");
        row("empty message", http(422, ""), "The service refused the request.", " (requestId: R-1)");
        row("bare 504", http(504, "Gateway Timeout"), "The service did not answer in time. Please try again.",
            "Gateway Timeout (requestId: R-1)");
        row("bare 429", http(429, "Too Many Requests"), "The service is busy. Please try again in a moment.",
            "Too Many Requests");
        row(
            "no session", [] { throw APIClientError(APIClientError::Kind::missingSession); },
            "No active session.", "No active session.");
        row("connection closed", transport(QNetworkReply::RemoteHostClosedError, "Connection closed"), closed,
            "Connection closed");
        row("not sent again", transport(QNetworkReply::ContentReSendError, "cannot rewind"), closed,
            "cannot rewind");
        row("refused", transport(QNetworkReply::ConnectionRefusedError, "Connection refused"),
            "The service cannot be reached. Check the network connection.", "Connection refused");
        row("timed out", transport(QNetworkReply::TimeoutError, "Socket operation timed out"),
            "The request timed out.", "Socket operation timed out");
        row("certificate", transport(QNetworkReply::SslHandshakeFailedError, "SSL handshake failed"),
            "The service's certificate could not be verified, so nothing was sent.", "SSL");
        row("bad UTF-8", parsing("{\"a\":\"\xff\"}"), unreadable, "invalid UTF-8 string at offset");
        row("deep nesting", parsing(QByteArray(5000, '[') + QByteArray(5000, ']')), unreadable,
            "too deeply nested at offset");
        row(
            "wrong member",
            [] {
                (void)json::ObjectReader(json::parseDocument("{\"id\":5}"), responseDates())
                    .requireString(QLatin1StringView("id"));
            },
            unreadable, "id: ");
        row(
            "plain message with details",
            [] { throw MessageError(QStringLiteral("Shown."), QStringLiteral("Logged.")); }, "Shown.",
            "Logged.");
        row(
            "not ours", [] { throw std::runtime_error("vector::_M_range_check"); },
            "Something unexpected went wrong.", "vector::_M_range_check");
    }
    void userMessages()
    {
        QFETCH(Thrower, thrower);
        QFETCH(QString, shown);
        QFETCH(QString, logged);
        try {
            thrower();
            QFAIL("nothing thrown");
        } catch (const std::exception &e) {
            QCOMPARE(userMessage(e), shown);
            QVERIFY2(describeError(e).contains(logged), qPrintable(describeError(e)));
        }
    }

    // Sentences joined into one text keep their full stops.
    void joiningSentences_data()
    {
        QTest::addColumn<QString>("first");
        QTest::addColumn<QString>("second");
        QTest::addColumn<QString>("joined");
        QTest::newRow("without a stop") << "Connection closed"
                                        << "Retry."
                                        << "Connection closed. Retry.";
        QTest::newRow("with a stop") << "It closed."
                                     << "Retry."
                                     << "It closed. Retry.";
        QTest::newRow("question") << "Closed?"
                                  << "Retry."
                                  << "Closed? Retry.";
        QTest::newRow("inside a bracket") << "Closed (after 60 s.)"
                                          << "Retry."
                                          << "Closed (after 60 s.) Retry.";
        QTest::newRow("bracket without a stop") << "Closed (R-1)"
                                                << "Retry."
                                                << "Closed (R-1). Retry.";
        QTest::newRow("trailing space") << "Closed. "
                                        << "Retry."
                                        << "Closed. Retry.";
        QTest::newRow("empty first") << ""
                                     << "Retry."
                                     << "Retry.";
        QTest::newRow("empty second") << "Closed"
                                      << ""
                                      << "Closed";
    }
    void joiningSentences()
    {
        QFETCH(QString, first);
        QFETCH(QString, second);
        QFETCH(QString, joined);
        QCOMPARE(joinSentences(first, second), joined);
    }

    // Questions share a kept-alive connection; a call that does something
    // gets a new one each time, never one that may have gone stale.
    void connectionsOfPostsAreNotReused()
    {
        service->answer("GET", QStringLiteral("/api/q"), ScriptedAnswer::json(200, "{}"));
        service->answer("POST", QStringLiteral("/api/do"), ScriptedAnswer::json(200, "{}"));
        APIClient client(sessions);
        const RequestBody body{{QStringLiteral("a"), 1}};
        for (const QByteArray method : {"GET", "GET", "POST", "POST", "GET", "POST"}) {
            const QString path = method == "GET" ? QStringLiteral("api/q") : QStringLiteral("api/do");
            const std::optional<RequestBody> sent =
                method == "GET" ? std::nullopt : std::optional<RequestBody>(body);
            blockingWait(client.performRequest(path, method, std::nullopt, sent));
        }
        QList<quint16> getPorts;
        QList<quint16> postPorts;
        for (const RecordedRequest &r : service->requests())
            (r.method == "GET" ? getPorts : postPorts).append(r.peerPort);
        QCOMPARE(getPorts.size(), 3);
        QCOMPARE(getPorts[1], getPorts[0]);
        QCOMPARE(getPorts[2], getPorts[0]);
        const QSet<quint16> distinctPosts(postPorts.begin(), postPorts.end());
        QCOMPARE(distinctPosts.size(), 3);
        QVERIFY(!distinctPosts.contains(getPorts[0]));
        for (const RecordedRequest &r : service->requestsTo("POST", QStringLiteral("/api/do")))
            QCOMPARE(r.header("Connection").toLower(), QByteArray("close"));
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
