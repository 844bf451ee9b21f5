#include "FakeContentService.h"

#include "HttpServerBits.h"

#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMetaEnum>
#include <QPointer>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>

namespace pendrel::test {

namespace {

using http::methodName;

void writeAnswer(QHttpServerResponder &responder, const ScriptedAnswer &answer)
{
    http::writeReply(responder, answer.status, answer.contentType, answer.headers, answer.body);
}

} // namespace

QString RecordedRequest::pathWithQuery() const
{
    const QString q = query.toString(QUrl::FullyEncoded);
    return q.isEmpty() ? path : path + u'?' + q;
}

QByteArray RecordedRequest::header(const QByteArray &name) const
{
    for (const auto &[key, value] : headers) {
        if (key.compare(name, Qt::CaseInsensitive) == 0)
            return value;
    }
    return {};
}

bool RecordedRequest::hasHeader(const QByteArray &name) const
{
    for (const auto &entry : headers) {
        if (entry.first.compare(name, Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

QList<QByteArray> RecordedRequest::headerNames() const
{
    QList<QByteArray> names;
    for (const auto &entry : headers)
        names.append(entry.first);
    return names;
}

FakeContentService::FakeContentService()
{
    port_ = listen(QHostAddress::LocalHost, 0);
}

QUrl FakeContentService::baseUrl() const
{
    return QUrl(QStringLiteral("http://127.0.0.1:%1/").arg(port_));
}

QString FakeContentService::key(const QByteArray &method, const QString &path)
{
    return QString::fromLatin1(method) + u' ' + path;
}

void FakeContentService::answer(const QByteArray &method, const QString &path, const ScriptedAnswer &answer)
{
    scripts_[key(method, path)].standing = answer;
}

void FakeContentService::answerOnce(const QByteArray &method, const QString &path,
                                    const ScriptedAnswer &answer)
{
    scripts_[key(method, path)].once.enqueue(answer);
}

QList<RecordedRequest> FakeContentService::requestsTo(const QByteArray &method, const QString &path) const
{
    QList<RecordedRequest> matching;
    for (const RecordedRequest &r : requests_) {
        if (r.method == method && r.path == path)
            matching.append(r);
    }
    return matching;
}

bool FakeContentService::waitForRequests(qsizetype count, int timeoutMs)
{
    return QTest::qWaitFor([&] { return requests_.size() >= count; }, timeoutMs);
}

bool FakeContentService::handleRequest(const QHttpServerRequest &request, QTcpSocket *socket)
{
    RecordedRequest recorded;
    recorded.method = methodName(request.method());
    recorded.path = request.url().path();
    recorded.query = QUrlQuery(request.url());
    recorded.headers = request.headers();
    recorded.body = request.body();
    recorded.peerPort = socket->peerPort();
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(recorded.body, &error);
    if (error.error == QJsonParseError::NoError)
        recorded.json = document.isObject() ? QJsonValue(document.object()) : QJsonValue(document.array());
    requests_.append(recorded);
    if (onRequest)
        onRequest(recorded);

    Script &script = scripts_[key(recorded.method, recorded.path)];
    ScriptedAnswer answer;
    if (!script.once.isEmpty())
        answer = script.once.dequeue();
    else if (script.standing)
        answer = *script.standing;
    else
        answer = ScriptedAnswer::json(
            404,
            QJsonDocument(QJsonObject{{QStringLiteral("error"), QStringLiteral("no scripted answer for ")
                                                                    + key(recorded.method, recorded.path)}})
                .toJson(QJsonDocument::Compact));

    if (answer.delayMs <= 0) {
        respond(request, socket, answer);
        return true;
    }
    // Answer later; the client may have given up and closed the socket by then.
    auto responder = std::make_shared<QHttpServerResponder>(makeResponder(request, socket));
    QPointer<QTcpSocket> guard(socket);
    auto answered = std::make_shared<bool>(false);
    const QString pathWithQuery = recorded.pathWithQuery();
    connect(socket, &QTcpSocket::disconnected, this, [this, answered, pathWithQuery] {
        if (!*answered)
            abandoned_.append(pathWithQuery);
    });
    QTimer::singleShot(answer.delayMs, this, [this, responder, guard, answer, answered] {
        if (!guard || guard->state() != QAbstractSocket::ConnectedState)
            return;
        *answered = true;
        if (answer.dropConnection) {
            guard->abort();
            return;
        }
        writeAnswer(*responder, answer);
    });
    return true;
}

void FakeContentService::respond(const QHttpServerRequest &request, QTcpSocket *socket,
                                 const ScriptedAnswer &answer)
{
    if (answer.dropConnection) {
        socket->abort();
        return;
    }
    QHttpServerResponder responder = makeResponder(request, socket);
    writeAnswer(responder, answer);
}

void FakeContentService::missingHandler(const QHttpServerRequest &request, QTcpSocket *socket)
{
    respond(request, socket, ScriptedAnswer::json(404, "{}"));
}

} // namespace pendrel::test
