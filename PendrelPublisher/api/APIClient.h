#pragma once

#include "api/AuxData.h"
#include "api/JsonValues.h"
#include "auth/AuthState.h"
#include "model/ClipperSettings.h"
#include "model/Job.h"
#include "social/SocialCrossposting.h"
#include "support/Cancellation.h"
#include "support/Error.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QObject>
#include <QUrl>

#include <QCoroTask>

#include <optional>

namespace pendrel {

// Where authorised requests get the session from (the auth manager).
class SessionSource {
public:
    virtual ~SessionSource() = default;
    // The stored session, or nothing when there is none or it is about to expire.
    virtual QCoro::Task<std::optional<UserSession>> restoreSession() = 0;
};

class APIClientError : public Error {
public:
    enum class Kind { http, missingSession, invalidResponse, emptyText, unsupportedURL };

    explicit APIClientError(Kind kind) : kind_(kind) {}
    static APIClientError http(int statusCode, QString message, std::optional<QString> code,
                               std::optional<QString> requestID);

    [[nodiscard]] Kind kind() const { return kind_; }
    [[nodiscard]] int statusCode() const { return statusCode_; }
    [[nodiscard]] const QString &message() const { return message_; }
    [[nodiscard]] const std::optional<QString> &code() const { return code_; }
    [[nodiscard]] const std::optional<QString> &requestID() const { return requestID_; }
    // With the request id, for the log.
    [[nodiscard]] QString description() const override;
    // The service's own message, or a plain sentence for the status when it
    // sent none (a bare reason phrase such as "Unauthorized" tells a user
    // nothing); never the request id.
    [[nodiscard]] QString userMessage() const override;

private:
    Kind kind_;
    int statusCode_ = 0;
    QString message_;
    std::optional<QString> code_;
    std::optional<QString> requestID_;
};

// The request never got an HTTP answer: no connection, a time-out, a
// certificate the system does not trust, or cancellation.
class TransportError : public Error {
public:
    TransportError(QNetworkReply::NetworkError error, QString text) : error_(error), text_(std::move(text)) {}
    [[nodiscard]] QNetworkReply::NetworkError networkError() const { return error_; }
    // The network layer's own words, for the log.
    [[nodiscard]] QString description() const override { return text_; }
    [[nodiscard]] QString userMessage() const override;
    // The service could not be reached at all (no network, nothing
    // listening, no answer in time), as opposed to a refused certificate
    // or a broken exchange, which waiting will not mend.
    [[nodiscard]] bool isUnreachable() const
    {
        switch (error_) {
        case QNetworkReply::ConnectionRefusedError:
        case QNetworkReply::RemoteHostClosedError:
        case QNetworkReply::HostNotFoundError:
        case QNetworkReply::TimeoutError:
        case QNetworkReply::TemporaryNetworkFailureError:
        case QNetworkReply::NetworkSessionFailedError:
        case QNetworkReply::UnknownNetworkError:
        case QNetworkReply::ProxyConnectionRefusedError:
        case QNetworkReply::ProxyConnectionClosedError:
        case QNetworkReply::ProxyNotFoundError:
        case QNetworkReply::ProxyTimeoutError:
            return true;
        default:
            return false;
        }
    }

private:
    QNetworkReply::NetworkError error_;
    QString text_;
};

// How the client reads dates in the service's answers (none of the answers
// it decodes carries one today; the readers want a coding all the same).
const JsonDates &responseDates();

// The standard reason phrase of an HTTP status ("Payment Required").
QString httpReasonPhrase(int statusCode);

struct HttpResponse {
    int statusCode = 0;
    QByteArray body;
    QList<QNetworkReply::RawHeaderPair> headers;
};

// No answer of the service comes near this; a larger one is a fault (or
// hostile) and is cut off rather than held in memory.
inline constexpr qint64 maxResponseBytes = qint64(64) << 20;

// Whether Qt may send a request again by itself. It does so, once the body
// has been rewound, when a kept-alive connection closes before any answer:
// harmless for a question, a second charge (or a second article, a second
// post) for a call that does something.
enum class Resend { allowed, never };

// Sends one request and waits for its answer. Throws TransportError when no
// HTTP answer came (cancelling through `cancel` aborts the request, which
// ends the same way) and invalidResponse for an answer larger than
// `maxBytes`; statusCode is 0 for an answer that is not HTTP. With
// Resend::never a body that has gone out is not sent again: a connection
// that closes without an answer ends as RemoteHostClosedError.
QCoro::Task<HttpResponse> sendHttp(QNetworkAccessManager &network, QNetworkRequest request, QByteArray method,
                                   std::optional<QByteArray> body, const CancellationToken *cancel = nullptr,
                                   qint64 maxBytes = maxResponseBytes, Resend resend = Resend::allowed);

// The workspace (tenant) the signed-in user works in.
struct AuthenticatedContext {
    QString tenantID;
    std::optional<QString> tenantName;
    std::optional<QString> customDomain; // only when the service reports it active
    qint64 balanceCredits = 0;
    std::optional<QString> planType;

    bool operator==(const AuthenticatedContext &) const = default;
};

// What the illustrations stage continues with.
struct IllustrationsResult {
    QString content;
    IllustrationMetadata metadata;
};

// The competition part of a transformation request.
QJsonObject buildCompetitionConfig(const ClipperSettings &settings);

// The transformation answer's body, with a broken wrapper around the content
// rescued; throws APIClientError (empty content) or DecodingError.
TransformResult readTransformAnswer(const QByteArray &body);

// Every request to the content service except identity goes through here:
// it adds the session's bearer token, the client and request identifiers and
// the tenant header, and turns failures into APIClientError.
class APIClient : public QObject {
    Q_OBJECT

public:
    // How long a request may go without any bytes moving before it fails
    // (60 s); tests of stalled answers shorten it.
    static int transferTimeoutMs();
    static void setTransferTimeoutMs(int ms);

    explicit APIClient(SessionSource &sessions, QObject *parent = nullptr);

    // For the endpoint methods: sends one request and gives the 2xx answer.
    // `path` is relative to the service origin (a query may follow) or an
    // absolute address. A POST reaches the service at most once: every POST
    // of the service spends credits, stores or publishes.
    QCoro::Task<HttpResponse> performRequest(QString path, QByteArray method, std::optional<QString> tenantID,
                                             std::optional<RequestBody> body,
                                             const CancellationToken *cancel = nullptr);
    [[nodiscard]] std::optional<QUrl> buildURL(const QString &path) const;

    // The first tenant of the account, with its custom domain when active.
    QCoro::Task<AuthenticatedContext> fetchAuthenticatedContext();

    // The content pipeline, one call per service stage.
    QCoro::Task<QString> extractText(QString sourceURL, QString tenantID);
    QCoro::Task<ContentMetadata> analyze(QString text, QString language, QString tenantID);
    QCoro::Task<TransformResult> transform(QString text, ContentMetadata metadata, ClipperSettings settings,
                                           QString tenantID);
    QCoro::Task<IllustrationsResult> generateIllustrations(QString content, QString language,
                                                           QString tenantID, qint64 imagesCount);
    QCoro::Task<QString> humanize(QString content, QString tenantID);
    QCoro::Task<void> queueVoiceover(QString articleID, QString content, QString language);
    // Saves the article under the job's identifier; the result names the
    // service's article (the job's identifier when it names none).
    QCoro::Task<JobResult> saveArticle(QString content, QString title, QString language, QUuid articleID,
                                       QString tenantID, ContentMetadata metadata,
                                       TransformResult transformResult,
                                       std::optional<IllustrationMetadata> illustrations,
                                       ClipperSettings settings);
    // The adaptation's identifier.
    QCoro::Task<QString> createSocialAdaptation(QString articleID, QString tenantID,
                                                SocialCrosspostPlatform platform);

    // Crossposting. `subreddit` is sent only when it is present and not empty.
    // The post's identifier on the platform, when the service names one.
    QCoro::Task<std::optional<QString>> publishSocialAdaptation(QString adaptationID, QString tenantID,
                                                                SocialCrosspostPlatform platform,
                                                                QString accountID,
                                                                std::optional<QString> subreddit);
    struct DirectPublication {
        std::optional<QString> adaptationID;
        std::optional<QString> postID;
    };
    QCoro::Task<DirectPublication> publishArticleDirectly(QString articleID, QString tenantID,
                                                          SocialCrosspostPlatform platform, QString accountID,
                                                          std::optional<QString> subreddit);
    QCoro::Task<void> publishShopifyArticle(QString articleID, QString tenantID, QString accountID,
                                            std::optional<qint64> blogID);

    // Presets, authors, favourite domains and social accounts of the tenant,
    // fetched together; any one failing fails the whole fetch.
    QCoro::Task<AuxData> fetchAuxData(QString tenantID, QString language);

    // For tests of the cut-off.
    void setResponseLimit(qint64 maxBytes) { responseLimit_ = maxBytes; }

private:
    // A POST whose answer is read by the caller.
    QCoro::Task<QByteArray> post(QString path, RequestBody body, std::optional<QString> tenantID);

    SessionSource &sessions_;
    QNetworkAccessManager network_;
    qint64 responseLimit_ = maxResponseBytes;
};

} // namespace pendrel
