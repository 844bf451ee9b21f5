#pragma once

#include <QAbstractHttpServer>
#include <QByteArray>
#include <QHash>
#include <QJsonValue>
#include <QList>
#include <QQueue>
#include <QStringList>
#include <QUrl>
#include <QUrlQuery>

#include <functional>

namespace pendrel::test {

// What the fake answers to one request.
struct ScriptedAnswer {
    int status = 200;
    QByteArray body;
    QByteArray contentType = "application/json";
    QList<QPair<QByteArray, QByteArray>> headers;
    int delayMs = 0;             // answer only after this long
    bool dropConnection = false; // close the connection without any answer

    static ScriptedAnswer json(int status, const QByteArray &body)
    {
        return {status, body, "application/json", {}, 0, false};
    }
    static ScriptedAnswer text(int status, const QByteArray &body, const QByteArray &type = "text/html")
    {
        return {status, body, type, {}, 0, false};
    }
    static ScriptedAnswer dropped() { return {0, {}, {}, {}, 0, true}; }
};

// One request as the fake received it.
struct RecordedRequest {
    QByteArray method; // "GET", "POST" …
    QString path;      // without the query
    QUrlQuery query;
    QList<QPair<QByteArray, QByteArray>> headers;
    QByteArray body;
    QJsonValue json{QJsonValue::Undefined}; // the body parsed as JSON; undefined when it is not JSON
    quint16 peerPort = 0; // the client's end of the connection: equal ports, the same connection

    [[nodiscard]] QString pathWithQuery() const;
    // The header's value (names compare case-insensitively); empty when absent.
    [[nodiscard]] QByteArray header(const QByteArray &name) const;
    [[nodiscard]] bool hasHeader(const QByteArray &name) const;
    // The header names exactly as they came over the wire, case included.
    [[nodiscard]] QList<QByteArray> headerNames() const;
};

// An HTTP server on 127.0.0.1 at a random port that plays the content
// service in tests. Answers are scripted per method and path: answerOnce()
// answers queue up and are used first, in order; answer() sets the standing
// answer used after them. A request with nothing scripted gets a 404 whose
// body names it. Every request is recorded.
class FakeContentService : public QAbstractHttpServer {
public:
    FakeContentService();

    [[nodiscard]] quint16 port() const { return port_; }
    // "http://127.0.0.1:<port>/"
    [[nodiscard]] QUrl baseUrl() const;

    void answer(const QByteArray &method, const QString &path, const ScriptedAnswer &answer);
    void answerOnce(const QByteArray &method, const QString &path, const ScriptedAnswer &answer);

    [[nodiscard]] const QList<RecordedRequest> &requests() const { return requests_; }
    [[nodiscard]] QList<RecordedRequest> requestsTo(const QByteArray &method, const QString &path) const;
    void clearRequests() { requests_.clear(); }
    // Paths (with query) of delayed answers whose client hung up first.
    [[nodiscard]] const QStringList &abandoned() const { return abandoned_; }
    // Called for every request as it arrives, before it is answered.
    std::function<void(const RecordedRequest &)> onRequest;

    // Runs the event loop until `count` requests have arrived in all.
    bool waitForRequests(qsizetype count, int timeoutMs = 5000);

protected:
    bool handleRequest(const QHttpServerRequest &request, QTcpSocket *socket) override;
    void missingHandler(const QHttpServerRequest &request, QTcpSocket *socket) override;

private:
    struct Script {
        QQueue<ScriptedAnswer> once;
        std::optional<ScriptedAnswer> standing;
    };
    static QString key(const QByteArray &method, const QString &path);
    void respond(const QHttpServerRequest &request, QTcpSocket *socket, const ScriptedAnswer &answer);

    quint16 port_ = 0;
    QHash<QString, Script> scripts_;
    QList<RecordedRequest> requests_;
    QStringList abandoned_;
};

} // namespace pendrel::test
