#include "FakeContentService.h"

#include <QElapsedTimer>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QSignalSpy>
#include <QTest>

#include "JsonTestUtil.h"

using namespace pendrel::test;

namespace {

struct Reply {
    int status = 0;
    QByteArray body;
    QNetworkReply::NetworkError error = QNetworkReply::NoError;
    QByteArray contentType;
};

Reply send(QNetworkAccessManager &network, const QByteArray &method, const QUrl &url,
           const QByteArray &body = {})
{
    QNetworkRequest request(url);
    request.setRawHeader("x-client", "macos-menu-bar");
    request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/json"));
    QNetworkReply *reply = network.sendCustomRequest(request, method, body);
    QSignalSpy finished(reply, &QNetworkReply::finished);
    finished.wait(10000);
    Reply out{reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), reply->readAll(),
              reply->error(), reply->header(QNetworkRequest::ContentTypeHeader).toByteArray()};
    reply->deleteLater();
    return out;
}

} // namespace

// The fake itself: later tests rely on it answering and recording exactly.
class TestFakeContentService : public QObject {
    Q_OBJECT

    QNetworkAccessManager network;

private slots:
    void scriptedAnswersAndRecords()
    {
        FakeContentService service;
        QVERIFY(service.port() != 0);
        service.answerOnce("POST", QStringLiteral("/api/x"),
                           ScriptedAnswer::json(402, q("{'error':'first'}")));
        service.answer("POST", QStringLiteral("/api/x"), ScriptedAnswer::json(200, q("{'ok':true}")));
        const QUrl url = service.baseUrl().resolved(QUrl(QStringLiteral("api/x?tenant=t%201&b=2")));
        const Reply first = send(network, "POST", url, q("{'text':'a/b'}"));
        QCOMPARE(first.status, 402);
        QCOMPARE(first.body, q("{'error':'first'}"));
        QCOMPARE(first.contentType, QByteArray("application/json"));
        QCOMPARE(send(network, "POST", url).status, 200);
        QCOMPARE(send(network, "POST", url).status, 200);

        QCOMPARE(service.requests().size(), 3);
        const RecordedRequest &r = service.requests().first();
        QCOMPARE(r.method, QByteArray("POST"));
        QCOMPARE(r.path, QStringLiteral("/api/x"));
        QCOMPARE(r.query.queryItemValue(QStringLiteral("tenant")), QStringLiteral("t 1"));
        QCOMPARE(r.header("X-Client"), QByteArray("macos-menu-bar"));
        QVERIFY(!r.hasHeader("authorization"));
        QCOMPARE(r.json.toObject().value(QStringLiteral("text")).toString(), QStringLiteral("a/b"));
        QVERIFY(service.requests().at(1).json.isUndefined()); // no body
        QCOMPARE(service.requestsTo("POST", QStringLiteral("/api/x")).size(), 3);
        QCOMPARE(service.requestsTo("GET", QStringLiteral("/api/x")).size(), 0);
    }

    void unscriptedRequestsGet404()
    {
        FakeContentService service;
        const Reply reply =
            send(network, "GET", service.baseUrl().resolved(QUrl(QStringLiteral("api/none"))));
        QCOMPARE(reply.status, 404);
        QVERIFY(reply.body.contains("GET /api/none"));
    }

    void delayedAndDroppedAnswers()
    {
        FakeContentService service;
        ScriptedAnswer slow = ScriptedAnswer::text(500, "<html>oops</html>");
        slow.delayMs = 200;
        service.answer("GET", QStringLiteral("/slow"), slow);
        service.answer("GET", QStringLiteral("/drop"), ScriptedAnswer::dropped());
        QElapsedTimer clock;
        clock.start();
        const Reply late = send(network, "GET", service.baseUrl().resolved(QUrl(QStringLiteral("slow"))));
        QVERIFY(clock.elapsed() >= 150);
        QCOMPARE(late.status, 500);
        QCOMPARE(late.body, QByteArray("<html>oops</html>"));
        const Reply dropped = send(network, "GET", service.baseUrl().resolved(QUrl(QStringLiteral("drop"))));
        QVERIFY(dropped.error != QNetworkReply::NoError);
        QCOMPARE(dropped.status, 0);
    }
};

QTEST_GUILESS_MAIN(TestFakeContentService)
#include "tst_fakecontentservice.moc"
