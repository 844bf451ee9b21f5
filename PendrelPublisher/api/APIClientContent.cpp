// The content pipeline's calls: one per service stage.

#include "api/APIClient.h"
#include "api/IllustrationsResponse.h"
#include "support/JsonRead.h"
#include "support/Uuid.h"

#include <QJsonArray>

namespace pendrel {

using L = QLatin1StringView;

namespace {

APIClientError emptyTransform()
{
    return APIClientError::http(500, QStringLiteral("Transform returned empty content"),
                                QStringLiteral("EMPTY_TRANSFORM"), std::nullopt);
}

// Integer or fraction; a Boolean counts as 1 or 0, a numeric string not at all.
std::optional<double> score(const QJsonValue &value)
{
    if (value.isDouble())
        return value.toDouble();
    if (value.isBool())
        return value.toBool() ? 1.0 : 0.0;
    return std::nullopt;
}

} // namespace

// The service varies the shape of this answer, so it is read member by
// member rather than as a fixed record.
TransformResult readTransformAnswer(const QByteArray &body)
{
    const QJsonValue root = json::parseDocument(body);
    const QJsonObject answer = root.toObject();
    const QJsonValue contentValue = answer.value(L("transformedContent"));
    if (!root.isObject() || !contentValue.isString())
        throw emptyTransform();
    QString content = contentValue.toString();
    if (!content.isEmpty() && looksLikeBrokenTransformWrapper(content)) {
        if (std::optional<QString> rescued = rescueContentFromBrokenJson(content))
            content = std::move(*rescued);
    }
    if (content.isEmpty())
        throw emptyTransform();

    TransformResult result;
    result.transformedContent = content;
    // The first of these that exists counts, even when it is null.
    for (const char *key : {"citations", "sources", "references"}) {
        if (answer.contains(QLatin1StringView(key))) {
            result.citations = normalizeStringList(answer.value(QLatin1StringView(key)));
            break;
        }
    }
    result.talentIntegrations = normalizeStringList(answer.value(L("talentIntegrations")));
    result.seoMeta = normalizeStringDictionary(answer.value(L("seoMeta")));
    result.qualityScore = score(answer.value(L("qualityScore")));
    result.seoScore = score(answer.value(L("seoScore")));
    return result;
}

QJsonObject buildCompetitionConfig(const ClipperSettings &settings)
{
    const CompetitionOptions &options = settings.competitionOptions;
    return QJsonObject{
        {L("enabled"), true},
        {L("targetDomain"), settings.targetDomain},
        {L("analysisOptions"),
         QJsonObject{
             {L("contentStrategies"), options.contentStrategies},
             {L("winningTitles"), options.winningTitles},
             {L("pricingMentions"), options.pricingMentions},
             {L("gapAnalysis"), options.gapAnalysis},
             {L("serpFeatures"), options.serpFeatures},
             {L("useSerpBasedDiscovery"), options.useSerpBasedDiscovery},
         }},
        {L("estimatedCost"), 8},
    };
}

QCoro::Task<QByteArray> APIClient::post(QString path, RequestBody body, std::optional<QString> tenantID)
{
    const QByteArray method = "POST";
    const std::optional<RequestBody> payload = std::move(body);
    const HttpResponse response = co_await performRequest(path, method, tenantID, payload);
    co_return response.body;
}

QCoro::Task<QString> APIClient::extractText(QString sourceURL, QString tenantID)
{
    const RequestBody body = normalizeBody({
        {QStringLiteral("sourceUrls"), QStringList{sourceURL}},
        {QStringLiteral("tenantId"), tenantID},
    });
    const QString path = QStringLiteral("api/documents/extract-text");
    const std::optional<QString> noTenant;
    const QByteArray answer = co_await post(path, body, noTenant);
    const json::ObjectReader r(json::parseDocument(answer), responseDates());
    co_return r.optionalString(L("text")).value_or(QString());
}

QCoro::Task<ContentMetadata> APIClient::analyze(QString text, QString language, QString tenantID)
{
    const RequestBody body = normalizeBody({
        {QStringLiteral("originalText"), text},
        {QStringLiteral("targetLanguage"), language},
        {QStringLiteral("tenantId"), tenantID},
    });
    const QString path = QStringLiteral("api/blog/admin/analyze");
    const std::optional<QString> noTenant;
    const QByteArray answer = co_await post(path, body, noTenant);
    const json::ObjectReader r(json::parseDocument(answer), responseDates());
    const auto list = [&r](const char *key) {
        return r.optional(QLatin1StringView(key), json::readStringArray).value_or(QStringList());
    };
    co_return ContentMetadata{list("categories"), list("age"), list("problems")};
}

QCoro::Task<TransformResult> APIClient::transform(QString text, ContentMetadata metadata,
                                                  ClipperSettings settings, QString tenantID)
{
    RequestBody body{
        {L("originalText"), text},
        {L("metadata"), metadata.toJson(responseDates())},
        {L("targetLanguage"), settings.language},
        {L("tenantId"), tenantID},
        {L("articleSize"), enumString(settings.articleSize)},
        {L("seoStandardMode"), enumString(settings.seoStandardMode)},
    };
    // Selected insights are requested whatever the competition switch says.
    if (settings.competitionOptions.hasSelectedInsight())
        body.insert(L("competitionConfig"), buildCompetitionConfig(settings));
    if (!settings.linksPresetID.isEmpty())
        body.insert(L("linksPresetId"), settings.linksPresetID);
    const QString path = QStringLiteral("api/blog/admin/transform");
    const std::optional<QString> noTenant;
    const QByteArray answer = co_await post(path, body, noTenant);
    co_return readTransformAnswer(answer);
}

QCoro::Task<IllustrationsResult> APIClient::generateIllustrations(QString content, QString language,
                                                                  QString tenantID, qint64 imagesCount)
{
    // A fresh identifier per call: the service keys its generation on it, and
    // it is neither the job's nor the article's.
    const RequestBody body{
        {L("articleId"), uuidString(QUuid::createUuid())},
        {L("content"), content},
        {L("language"), language},
        {L("tenantId"), tenantID},
        {L("imagesCount"), imagesCount >= 1 ? QJsonValue(imagesCount) : QJsonValue(QJsonValue::Null)},
    };
    const QString path = QStringLiteral("api/blog/illustrations/generate");
    const std::optional<QString> tenant = tenantID;
    const QByteArray answer = co_await post(path, body, tenant);
    std::optional<IllustrationsGenerateResponse> response;
    try {
        response = IllustrationsGenerateResponse::decode(answer);
    } catch (const DecodingError &) {
        throw APIClientError::http(
            502, QStringLiteral("Illustrations response is incompatible with this app build."),
            QStringLiteral("INVALID_ILLUSTRATIONS_RESPONSE"), std::nullopt);
    }
    co_return IllustrationsResult{response->resultingContent(content),
                                  response->metadata(QDateTime::currentDateTimeUtc())};
}

QCoro::Task<QString> APIClient::humanize(QString content, QString tenantID)
{
    const RequestBody body = normalizeBody({
        {QStringLiteral("content"), content},
        {QStringLiteral("tenantId"), tenantID},
        {QStringLiteral("preserveStructure"), true},
    });
    const QString path = QStringLiteral("api/blog/humanize");
    const std::optional<QString> noTenant;
    const QByteArray answer = co_await post(path, body, noTenant);
    const json::ObjectReader r(json::parseDocument(answer), responseDates());
    const std::optional<bool> success = r.optionalBool(L("success"));
    const std::optional<QString> humanized = r.optionalString(L("content"));
    co_return success == true && humanized ? *humanized : content;
}

QCoro::Task<void> APIClient::queueVoiceover(QString articleID, QString content, QString language)
{
    const RequestBody body = normalizeBody({
        {QStringLiteral("articleId"), articleID},
        {QStringLiteral("content"), content},
        {QStringLiteral("language"), language},
    });
    const QString path = QStringLiteral("api/blog/voice-over/generate");
    const std::optional<QString> noTenant;
    // Any 2xx is success; the answer is not read.
    co_await post(path, body, noTenant);
}

namespace {

// The stored article's body: the content with the analysis, the
// transformation's extras and the illustrations. Absent values go as null.
RequestBody saveBody(const QString &content, const QString &title, const QString &language,
                     const QUuid &articleID, const QString &tenantID, const ContentMetadata &metadata,
                     const TransformResult &transformResult,
                     const std::optional<IllustrationMetadata> &illustrations,
                     const ClipperSettings &settings)
{
    const JsonDates bodyDates = JsonDates::secondsSinceReferenceDate();
    const auto strings = [](const QStringList &list) { return QJsonArray::fromStringList(list); };
    const auto nonEmpty = [](const QString &text) {
        return text.isEmpty() ? QJsonValue(QJsonValue::Null) : QJsonValue(text);
    };
    QJsonObject seoMeta;
    for (auto it = transformResult.seoMeta.begin(); it != transformResult.seoMeta.end(); ++it)
        seoMeta.insert(it.key(), it.value());
    const QJsonObject meta{
        {L("categories"), strings(metadata.categories)},
        {L("age"), strings(metadata.age)},
        {L("interests"), strings(metadata.categories)},
        {L("problems"), strings(metadata.problems)},
        {L("qualityScore"), nullable(transformResult.qualityScore)},
        {L("talentIntegrations"), strings(transformResult.talentIntegrations)},
        {L("seoScore"), nullable(transformResult.seoScore)},
        {L("seoMeta"), seoMeta},
        {L("sources"), strings(transformResult.citations)},
        {L("illustrations"),
         illustrations ? QJsonValue(illustrations->toJson(bodyDates)) : QJsonValue(QJsonValue::Null)},
        {L("authorId"), nonEmpty(settings.authorID)},
        {L("author"), nonEmpty(settings.authorName)},
    };
    return RequestBody{
        {L("content"), content},   {L("title"), title},
        {L("language"), language}, {L("articleId"), uuidString(articleID)},
        {L("tenantId"), tenantID}, {L("metadata"), meta},
    };
}

} // namespace

QCoro::Task<JobResult> APIClient::saveArticle(QString content, QString title, QString language,
                                              QUuid articleID, QString tenantID, ContentMetadata metadata,
                                              TransformResult transformResult,
                                              std::optional<IllustrationMetadata> illustrations,
                                              ClipperSettings settings)
{
    const RequestBody body = saveBody(content, title, language, articleID, tenantID, metadata,
                                      transformResult, illustrations, settings);
    const QString path = QStringLiteral("api/blog/save");
    const std::optional<QString> noTenant;
    const QByteArray answer = co_await post(path, body, noTenant);
    const json::ObjectReader r(json::parseDocument(answer), responseDates());
    const std::optional<QString> savedID = r.optionalString(L("articleId"));
    co_return JobResult{savedID.value_or(uuidString(articleID)), r.optionalString(L("url")), title};
}

QCoro::Task<QString> APIClient::createSocialAdaptation(QString articleID, QString tenantID,
                                                       SocialCrosspostPlatform platform)
{
    const RequestBody body = normalizeBody({
        {QStringLiteral("articleId"), articleID},
        {QStringLiteral("tenantId"), tenantID},
        {QStringLiteral("platform"), enumString(platform)},
    });
    const QString path = QStringLiteral("api/blog/social-adaptations");
    const std::optional<QString> tenant = tenantID;
    const QByteArray answer = co_await post(path, body, tenant);
    const json::ObjectReader r(json::parseDocument(answer), responseDates());
    co_return r.require(L("adaptation"), [](const QJsonValue &adaptation) {
        return json::ObjectReader(adaptation, responseDates()).requireString(L("id"));
    });
}

} // namespace pendrel
