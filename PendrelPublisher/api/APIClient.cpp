#include "api/APIClient.h"

#include "state/AppConfiguration.h"
#include "support/JsonRead.h"
#include "support/Uuid.h"

#include <QCoroNetworkReply>
#include <QJsonDocument>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <memory>

namespace pendrel {

using L = QLatin1StringView;

APIClientError APIClientError::http(int statusCode, QString message, std::optional<QString> code,
                                    std::optional<QString> requestID)
{
    APIClientError error(Kind::http);
    error.statusCode_ = statusCode;
    error.message_ = std::move(message);
    error.code_ = std::move(code);
    error.requestID_ = std::move(requestID);
    return error;
}

QString APIClientError::description() const
{
    switch (kind_) {
    case Kind::http:
        return requestID_ ? message_ + QStringLiteral(" (requestId: ") + *requestID_ + u')' : message_;
    case Kind::missingSession:
        return QStringLiteral("No active session.");
    case Kind::invalidResponse:
        return QStringLiteral("Invalid server response.");
    case Kind::emptyText:
        return QStringLiteral("Empty source text.");
    case Kind::unsupportedURL:
        return QStringLiteral("Enter a valid URL.");
    }
    return {};
}

QString APIClientError::userMessage() const
{
    if (kind_ != Kind::http)
        return description();
    const QString said = message_.trimmed();
    if (!said.isEmpty() && said != httpReasonPhrase(statusCode_))
        return message_;
    switch (statusCode_) {
    case 401:
        return QStringLiteral("The service did not accept the sign-in. Please sign in again.");
    case 402:
        return QStringLiteral("There are not enough credits for this.");
    case 403:
        return QStringLiteral("The service refused this request.");
    case 408:
    case 504:
        return QStringLiteral("The service did not answer in time. Please try again.");
    case 413:
        return QStringLiteral("The text is too long for the service.");
    case 429:
        return QStringLiteral("The service is busy. Please try again in a moment.");
    default:
        break;
    }
    if (statusCode_ >= 500)
        return QStringLiteral("The service ran into a problem. Please try again later.");
    return QStringLiteral("The service refused the request.");
}

QString TransportError::userMessage() const
{
    switch (error_) {
    case QNetworkReply::RemoteHostClosedError:
    case QNetworkReply::ContentReSendError:
        return QStringLiteral("The connection to the service closed before it answered.");
    case QNetworkReply::TimeoutError:
    case QNetworkReply::ProxyTimeoutError:
        return QStringLiteral("The request timed out.");
    case QNetworkReply::OperationCanceledError:
        return QStringLiteral("The request was cancelled.");
    case QNetworkReply::SslHandshakeFailedError:
        return QStringLiteral("The service's certificate could not be verified, so nothing was sent.");
    case QNetworkReply::InsecureRedirectError:
        return QStringLiteral("The service sent the request to an insecure address, so it was not followed.");
    default:
        break;
    }
    if (isUnreachable())
        return QStringLiteral("The service cannot be reached. Check the network connection.");
    return QStringLiteral("The request to the service failed.");
}

const JsonDates &responseDates()
{
    static const JsonDates dates = JsonDates::iso8601();
    return dates;
}

QString httpReasonPhrase(int statusCode)
{
    static const QHash<int, const char *> phrases{
        {100, "Continue"},
        {101, "Switching Protocols"},
        {200, "OK"},
        {201, "Created"},
        {202, "Accepted"},
        {204, "No Content"},
        {301, "Moved Permanently"},
        {302, "Found"},
        {303, "See Other"},
        {304, "Not Modified"},
        {307, "Temporary Redirect"},
        {308, "Permanent Redirect"},
        {400, "Bad Request"},
        {401, "Unauthorized"},
        {402, "Payment Required"},
        {403, "Forbidden"},
        {404, "Not Found"},
        {405, "Method Not Allowed"},
        {406, "Not Acceptable"},
        {408, "Request Timeout"},
        {409, "Conflict"},
        {410, "Gone"},
        {411, "Length Required"},
        {412, "Precondition Failed"},
        {413, "Content Too Large"},
        {414, "URI Too Long"},
        {415, "Unsupported Media Type"},
        {416, "Range Not Satisfiable"},
        {417, "Expectation Failed"},
        {421, "Misdirected Request"},
        {422, "Unprocessable Content"},
        {423, "Locked"},
        {424, "Failed Dependency"},
        {425, "Too Early"},
        {426, "Upgrade Required"},
        {428, "Precondition Required"},
        {429, "Too Many Requests"},
        {431, "Request Header Fields Too Large"},
        {451, "Unavailable For Legal Reasons"},
        {500, "Internal Server Error"},
        {501, "Not Implemented"},
        {502, "Bad Gateway"},
        {503, "Service Unavailable"},
        {504, "Gateway Timeout"},
        {505, "HTTP Version Not Supported"},
        {507, "Insufficient Storage"},
        {508, "Loop Detected"},
        {511, "Network Authentication Required"},
    };
    if (const char *phrase = phrases.value(statusCode))
        return QString::fromLatin1(phrase);
    if (statusCode >= 100 && statusCode < 600) {
        static const char *const classes[] = {"Informational", "Success", "Redirection", "Client Error",
                                              "Server Error"};
        return QString::fromLatin1(classes[statusCode / 100 - 1]);
    }
    return QStringLiteral("HTTP Error %1").arg(statusCode);
}

namespace {

// A request body that can be read out once. Before Qt sends a request again
// on its own it rewinds the body; this one refuses to rewind past what it has
// handed out, and Qt then fails the request (ContentReSendError) instead of
// sending it a second time. A rewind before anything went out is allowed.
class SingleSendBody final : public QIODevice {
public:
    explicit SingleSendBody(QByteArray data) : data_(std::move(data)) { open(QIODevice::ReadOnly); }

    [[nodiscard]] bool isSequential() const override { return false; }
    [[nodiscard]] qint64 size() const override { return data_.size(); }
    bool seek(qint64 pos) override
    {
        if (pos < handedOut_)
            return false;
        return QIODevice::seek(pos);
    }

protected:
    qint64 readData(char *out, qint64 maxSize) override
    {
        const qint64 at = pos();
        const qint64 count = std::min(maxSize, qint64(data_.size()) - at);
        if (count <= 0)
            return at >= data_.size() ? -1 : 0;
        std::memcpy(out, data_.constData() + at, size_t(count));
        handedOut_ = std::max(handedOut_, at + count);
        return count;
    }
    qint64 writeData(const char *, qint64) override { return -1; }

private:
    QByteArray data_;
    qint64 handedOut_ = 0;
};

} // namespace

QCoro::Task<HttpResponse> sendHttp(QNetworkAccessManager &network, QNetworkRequest request, QByteArray method,
                                   std::optional<QByteArray> body, const CancellationToken *cancel,
                                   qint64 maxBytes, Resend resend)
{
    if (cancel)
        cancel->throwIfCancelled();
    QNetworkReply *reply = nullptr;
    if (body && resend == Resend::never) {
        auto *device = new SingleSendBody(*body);
        request.setHeader(QNetworkRequest::ContentLengthHeader, qint64(body->size()));
        reply = network.sendCustomRequest(request, method, device);
        device->setParent(reply);
    } else {
        reply = body ? network.sendCustomRequest(request, method, *body)
                     : network.sendCustomRequest(request, method);
    }
    const std::unique_ptr<QNetworkReply, void (*)(QNetworkReply *)> owned(
        reply, [](QNetworkReply *r) { r->deleteLater(); });
    QMetaObject::Connection cancelling;
    bool cancelledHere = false;
    if (cancel)
        cancelling = QObject::connect(cancel, &CancellationToken::cancelled, reply, [reply, &cancelledHere] {
            // A reply that has finished, or already failed and is about to,
            // ends on its own. (When the answer is crossing from Qt's network
            // thread at this moment, Qt may still warn that the reply failed
            // twice; the reply ends once all the same.)
            if (!reply->isFinished() && reply->error() == QNetworkReply::NoError) {
                cancelledHere = true;
                reply->abort();
            }
        });
    bool tooLarge = false;
    const QMetaObject::Connection limiting =
        QObject::connect(reply, &QNetworkReply::downloadProgress, reply,
                         [reply, maxBytes, &tooLarge](qint64 received, qint64 total) {
                             if (maxBytes > 0 && (received > maxBytes || total > maxBytes)) {
                                 tooLarge = true;
                                 reply->abort();
                             }
                         });
    co_await reply;
    QObject::disconnect(cancelling);
    QObject::disconnect(limiting);
    if (tooLarge)
        throw APIClientError(APIClientError::Kind::invalidResponse);
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    // Network-level errors (below the proxy range) mean the answer is missing
    // or cut short, even when its status line had arrived; the others only
    // restate an HTTP status and leave the answer to the caller.
    const QNetworkReply::NetworkError error = reply->error();
    // Qt ends a transfer that went quiet for too long as "Operation
    // canceled", which would tell the user they stopped it themselves.
    if (error == QNetworkReply::OperationCanceledError && !cancelledHere)
        throw TransportError(QNetworkReply::TimeoutError, QStringLiteral("The request timed out."));
    // Qt would have sent the request again after the connection closed
    // without an answer, and the body refused: for the caller that is the
    // closed connection itself.
    if (error == QNetworkReply::ContentReSendError)
        throw TransportError(QNetworkReply::RemoteHostClosedError,
                             QStringLiteral("Connection closed without an answer; not sent again (%1)")
                                 .arg(reply->errorString()));
    if ((!status.isValid() && error != QNetworkReply::NoError)
        || (error != QNetworkReply::NoError && error < QNetworkReply::ProxyConnectionRefusedError))
        throw TransportError(error, reply->errorString());
    co_return HttpResponse{status.isValid() ? status.toInt() : 0, reply->readAll(), reply->rawHeaderPairs()};
}

namespace {
std::atomic<int> transferTimeout{60000};
} // namespace

int APIClient::transferTimeoutMs()
{
    return transferTimeout.load();
}

void APIClient::setTransferTimeoutMs(int ms)
{
    transferTimeout.store(ms);
}

APIClient::APIClient(SessionSource &sessions, QObject *parent) : QObject(parent), sessions_(sessions)
{
}

std::optional<QUrl> APIClient::buildURL(const QString &path) const
{
    const QUrl direct(path);
    if (direct.isValid() && !direct.scheme().isEmpty())
        return direct;
    QString base = AppConfiguration::apiBaseURL().toString(QUrl::FullyEncoded);
    while (base.startsWith(u'/'))
        base.remove(0, 1);
    while (base.endsWith(u'/'))
        base.chop(1);
    const QString relative = path.startsWith(u'/') ? path.mid(1) : path;
    const QUrl url(base + u'/' + relative);
    if (!url.isValid() || url.scheme().isEmpty())
        return std::nullopt;
    return url;
}

QCoro::Task<HttpResponse> APIClient::performRequest(QString path, QByteArray method,
                                                    std::optional<QString> tenantID,
                                                    std::optional<RequestBody> body,
                                                    const CancellationToken *cancel)
{
    const std::optional<UserSession> session = co_await sessions_.restoreSession();
    if (!session)
        throw APIClientError(APIClientError::Kind::missingSession);
    const QString requestID = uuidString(QUuid::createUuid());
    const std::optional<QUrl> url = buildURL(path);
    if (!url)
        throw APIClientError(APIClientError::Kind::unsupportedURL);

    QNetworkRequest request(*url);
    request.setTransferTimeout(transferTimeoutMs());
    request.setRawHeader("Content-Type", "application/json");
    request.setRawHeader("Authorization", "Bearer " + session->accessToken.toUtf8());
    request.setRawHeader("x-client", "macos-menu-bar");
    request.setRawHeader("x-request-id", requestID.toLatin1());
    if (tenantID && !tenantID->isEmpty())
        request.setRawHeader("X-Tenant-ID", tenantID->toUtf8());
    std::optional<QByteArray> payload;
    if (body)
        payload = QJsonDocument(*body).toJson(QJsonDocument::Compact);
    // Asking twice costs nothing; doing twice may cost credits or make a
    // copy. Such a call also goes out on a connection of its own (a manager
    // of its own: Qt keeps connections per manager), so that it never meets a
    // kept-alive one the service has just closed, which Qt would mend by
    // sending again and which now ends the call instead.
    const bool once = method != "GET";
    std::unique_ptr<QNetworkAccessManager, void (*)(QNetworkAccessManager *)> ownNetwork(
        nullptr, [](QNetworkAccessManager *n) { n->deleteLater(); });
    if (once) {
        // A child of the client: gone with it, as the shared one is, so that
        // no answer resumes a run whose queue and state are gone.
        ownNetwork.reset(new QNetworkAccessManager(this));
        request.setRawHeader("Connection", "close");
        // One request per connection gains nothing from HTTP/2, whose
        // recovery from a lost connection differs from the one above.
        request.setAttribute(QNetworkRequest::Http2AllowedAttribute, false);
    }
    const HttpResponse response =
        co_await sendHttp(once ? *ownNetwork : network_, request, method, payload, cancel, responseLimit_,
                          once ? Resend::never : Resend::allowed);
    if (response.statusCode == 0)
        throw APIClientError(APIClientError::Kind::invalidResponse);
    if (response.statusCode >= 200 && response.statusCode <= 299)
        co_return response;

    QString message = httpReasonPhrase(response.statusCode);
    std::optional<QString> code;
    try {
        const json::ObjectReader payloadReader(json::parseDocument(response.body), responseDates());
        const auto error = payloadReader.optionalString(L("error"));
        const auto text = payloadReader.optionalString(L("message"));
        const auto errorCode = payloadReader.optionalString(L("code"));
        message = error ? *error : text ? *text : message;
        code = errorCode;
    } catch (const DecodingError &) {
        // An unreadable error body leaves the reason phrase and no code.
    }
    throw APIClientError::http(response.statusCode, message, code, requestID);
}

namespace {

struct Tenant {
    QString id;
    std::optional<QString> name;
    std::optional<double> balanceCredits;
    std::optional<QString> planType;

    static Tenant fromJson(const QJsonValue &value, const JsonDates &dates)
    {
        const json::ObjectReader r(value, dates);
        return Tenant{r.requireString(L("id")), r.optionalString(L("name")),
                      r.optionalDouble(L("balance_credits")), r.optionalString(L("plan_type"))};
    }
};

qint64 wholeCredits(std::optional<double> balance)
{
    if (!balance || !std::isfinite(*balance))
        return 0;
    const double truncated = std::trunc(*balance);
    // Beyond 64 bits is no real balance; keep the nearest representable one.
    if (truncated >= 9.2e18)
        return std::numeric_limits<qint64>::max();
    if (truncated <= -9.2e18)
        return std::numeric_limits<qint64>::min();
    return qint64(truncated);
}

std::optional<QString> activeDomain(const QByteArray &body)
{
    if (body.trimmed() == "null")
        return std::nullopt;
    const json::ObjectReader r(json::parseDocument(body), responseDates());
    const auto status = r.optionalString(L("status"));
    const auto domain = r.optionalString(L("domain"));
    if (status == QStringLiteral("active") && domain)
        return domain;
    return std::nullopt;
}

} // namespace

QCoro::Task<AuthenticatedContext> APIClient::fetchAuthenticatedContext()
{
    // Named arguments only: GCC 12 mishandles temporaries with destructors
    // inside a co_await expression.
    const QByteArray get = "GET";
    const std::optional<QString> noTenant;
    const std::optional<RequestBody> noBody;
    const QString tenantsPath = QStringLiteral("api/tenants");
    const HttpResponse tenantsResponse = co_await performRequest(tenantsPath, get, noTenant, noBody);
    const json::ObjectReader root(json::parseDocument(tenantsResponse.body), responseDates());
    const QList<Tenant> tenants = root.requireArray<Tenant>(L("tenants"));
    if (tenants.isEmpty())
        throw APIClientError::http(401, QStringLiteral("No active tenant"), QStringLiteral("UNAUTHENTICATED"),
                                   std::nullopt);
    const Tenant &tenant = tenants.first();

    std::optional<QString> customDomain;
    try {
        const QString domainsPath = QStringLiteral("api/domains?tenantId=") + tenant.id;
        const HttpResponse domains = co_await performRequest(domainsPath, get, noTenant, noBody);
        customDomain = activeDomain(domains.body);
    } catch (const Error &) {
        // Without domain information the context is still usable.
    }
    co_return AuthenticatedContext{tenant.id, tenant.name, customDomain, wholeCredits(tenant.balanceCredits),
                                   tenant.planType};
}

} // namespace pendrel
