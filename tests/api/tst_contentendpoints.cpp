#include "api/APIClient.h"
#include "support/Tasks.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QTest>

#include "ApiTestUtil.h"
#include "FakeContentService.h"
#include "JsonTestUtil.h"
#include "ServicePaths.h"

using namespace pendrel;
using namespace pendrel::test;

namespace {

QJsonValue parsed(const QByteArray &json)
{
    return json::parseDocument(json);
}

const QString kIncompatible = QStringLiteral(
    "http 502 INVALID_ILLUSTRATIONS_RESPONSE Illustrations response is incompatible with this app build.");
const QString kEmptyTransform = QStringLiteral("http 500 EMPTY_TRANSFORM Transform returned empty content");

} // namespace

Q_DECLARE_METATYPE(TransformResult)

class TestContentEndpoints : public QObject {
    Q_OBJECT

    std::unique_ptr<FakeContentService> service;
    FixedSessions sessions;
    std::unique_ptr<APIClient> client;

    const RecordedRequest &onlyRequestTo(const QString &path)
    {
        const auto sent = service->requestsTo("POST", path);
        if (sent.size() != 1)
            qFatal("expected one request to %s, got %lld", qPrintable(path), qlonglong(sent.size()));
        return *std::find_if(service->requests().begin(), service->requests().end(),
                             [&](const RecordedRequest &r) { return r.path == path; });
    }

    // Calls the endpoint that serves `path` with fixed arguments.
    QString outcomeForPath(const QString &path)
    {
        const QString t = QStringLiteral("t1");
        if (path == paths::extract)
            return outcomeOf(client->extractText(QStringLiteral("https://a.test/x"), t));
        if (path == paths::analyze)
            return outcomeOf(client->analyze(QStringLiteral("text"), QStringLiteral("en"), t));
        if (path == paths::transform)
            return outcomeOf(client->transform(QStringLiteral("text"), {}, ClipperSettings::defaults(), t));
        if (path == paths::illustrations)
            return outcomeOf(
                client->generateIllustrations(QStringLiteral("body"), QStringLiteral("en"), t, 0));
        if (path == paths::humanize)
            return outcomeOf(client->humanize(QStringLiteral("body"), t));
        if (path == paths::voiceover)
            return outcomeOf(
                client->queueVoiceover(QStringLiteral("a1"), QStringLiteral("body"), QStringLiteral("en")));
        if (path == paths::save)
            return outcomeOf(client->saveArticle(QStringLiteral("body"), QStringLiteral("Title"),
                                                 QStringLiteral("en"), QUuid::createUuid(), t, {}, {},
                                                 std::nullopt, ClipperSettings::defaults()));
        if (path == paths::publish)
            return outcomeOf(client->publishSocialAdaptation(QStringLiteral("ad-1"), t,
                                                             SocialCrosspostPlatform::reddit,
                                                             QStringLiteral("acc"), std::nullopt));
        return outcomeOf(
            client->createSocialAdaptation(QStringLiteral("a1"), t, SocialCrosspostPlatform::reddit));
    }

private slots:
    void init()
    {
        service = std::make_unique<FakeContentService>();
        qputenv("PENDREL_API_BASE_URL", service->baseUrl().toString().toUtf8());
        client = std::make_unique<APIClient>(sessions);
    }

    // Every body exactly, and whether the tenant header goes along.
    void requestBodies()
    {
        for (const QString &path : {paths::extract, paths::analyze, paths::humanize, paths::voiceover})
            service->answer("POST", path, ScriptedAnswer::json(200, "{}"));
        service->answer("POST", paths::transform, ScriptedAnswer::json(200, q("{'transformedContent':'x'}")));
        service->answer("POST", paths::illustrations, ScriptedAnswer::json(200, "{}"));
        service->answer("POST", paths::adaptations,
                        ScriptedAnswer::json(200, q("{'adaptation':{'id':'ad-1'}}")));

        blockingWait(client->extractText(QStringLiteral("https://a.test/x?y=1"), QStringLiteral("t1")));
        blockingWait(
            client->analyze(QStringLiteral("Some text"), QStringLiteral("de"), QStringLiteral("t1")));
        blockingWait(client->humanize(QStringLiteral("Article"), QStringLiteral("t1")));
        blockingWait(
            client->queueVoiceover(QStringLiteral("art-9"), QStringLiteral("Article"), QStringLiteral("fr")));
        blockingWait(client->createSocialAdaptation(QStringLiteral("art-9"), QStringLiteral("t1"),
                                                    SocialCrosspostPlatform::xArticle));

        QCOMPARE(onlyRequestTo(paths::extract).json,
                 parsed(q("{'sourceUrls':['https://a.test/x?y=1'],'tenantId':'t1'}")));
        QCOMPARE(onlyRequestTo(paths::analyze).json,
                 parsed(q("{'originalText':'Some text','targetLanguage':'de','tenantId':'t1'}")));
        QCOMPARE(onlyRequestTo(paths::humanize).json,
                 parsed(q("{'content':'Article','tenantId':'t1','preserveStructure':true}")));
        QCOMPARE(onlyRequestTo(paths::voiceover).json,
                 parsed(q("{'articleId':'art-9','content':'Article','language':'fr'}")));
        QCOMPARE(onlyRequestTo(paths::adaptations).json,
                 parsed(q("{'articleId':'art-9','tenantId':'t1','platform':'x_article'}")));

        for (const QString &path : {paths::extract, paths::analyze, paths::humanize, paths::voiceover})
            QVERIFY2(!onlyRequestTo(path).hasHeader("X-Tenant-ID"), qPrintable(path));
        QCOMPARE(onlyRequestTo(paths::adaptations).header("X-Tenant-ID"), QByteArray("t1"));
        for (const RecordedRequest &r : service->requests())
            QCOMPARE(r.method, QByteArray("POST"));
    }

    void transformBody_data()
    {
        QTest::addColumn<ClipperSettings>("settings");
        QTest::addColumn<QByteArray>("extra"); // members beyond the six that are always sent
        ClipperSettings defaults;
        QTest::newRow("defaults") << defaults << QByteArray("{}");

        ClipperSettings preset = defaults;
        preset.linksPresetID = QStringLiteral("lp-2");
        QTest::newRow("links preset") << preset << q("{'linksPresetId':'lp-2'}");

        ClipperSettings serp = defaults;
        serp.competitionOptions.serpFeatures = true;
        QTest::newRow("only serp features")
            << serp
            << q("{'competitionConfig':{'enabled':true,'targetDomain':'','estimatedCost':8,'analysisOptions':"
                 "{'contentStrategies':false,'winningTitles':false,'pricingMentions':false,'gapAnalysis':"
                 "false,"
                 "'serpFeatures':true,'useSerpBasedDiscovery':true}}}");

        ClipperSettings switchedOff = defaults;
        switchedOff.enableCompetition = false;
        switchedOff.targetDomain = QStringLiteral("rival.test");
        switchedOff.competitionOptions = {true, true, false, true, false, false};
        QTest::newRow("insights while the switch is off")
            << switchedOff
            << q("{'competitionConfig':{'enabled':true,'targetDomain':'rival.test','estimatedCost':8,"
                 "'analysisOptions':{'contentStrategies':true,'winningTitles':true,'pricingMentions':false,"
                 "'gapAnalysis':true,'serpFeatures':false,'useSerpBasedDiscovery':false}}}");

        ClipperSettings switchOnly = defaults;
        switchOnly.enableCompetition = true;
        switchOnly.targetDomain = QStringLiteral("rival.test");
        QTest::newRow("switch on, no insight") << switchOnly << QByteArray("{}");
    }
    void transformBody()
    {
        QFETCH(ClipperSettings, settings);
        QFETCH(QByteArray, extra);
        settings.language = QStringLiteral("pt-BR");
        settings.articleSize = ArticleSize::pillar;
        settings.seoStandardMode = SEOStandardMode::eeat;
        service->answer("POST", paths::transform, ScriptedAnswer::json(200, q("{'transformedContent':'x'}")));
        const ContentMetadata metadata{{QStringLiteral("tech")}, {}, {QStringLiteral("slow")}};
        blockingWait(client->transform(QStringLiteral("Source"), metadata, settings, QStringLiteral("t1")));

        QJsonObject expected = parsed(extra).toObject();
        const QJsonObject always =
            parsed(q("{'originalText':'Source','metadata':{'categories':['tech'],'age':[],"
                     "'problems':['slow']},'targetLanguage':'pt-BR','tenantId':'t1',"
                     "'articleSize':'pillar','seoStandardMode':'e-e-a-t'}"))
                .toObject();
        for (auto it = always.begin(); it != always.end(); ++it)
            expected.insert(it.key(), it.value());
        const RecordedRequest &sent = onlyRequestTo(paths::transform);
        QCOMPARE(sent.json, QJsonValue(expected));
        QVERIFY(!sent.hasHeader("X-Tenant-ID"));
    }

    void transformAnswer_data()
    {
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<QString>("outcome");
        QTest::addColumn<TransformResult>("expected");
        const auto plain = [](const char *content) {
            TransformResult r;
            r.transformedContent = QString::fromUtf8(content);
            return r;
        };
        QTest::newRow("content only") << q("{'transformedContent':'# Title'}") << "ok" << plain("# Title");
        QTest::newRow("empty content")
            << q("{'transformedContent':''}") << kEmptyTransform << TransformResult{};
        QTest::newRow("no content") << q("{'content':'x'}") << kEmptyTransform << TransformResult{};
        QTest::newRow("content not a string")
            << q("{'transformedContent':7}") << kEmptyTransform << TransformResult{};
        QTest::newRow("top level array") << q("['x']") << kEmptyTransform << TransformResult{};
        QTest::newRow("not JSON") << QByteArray("<html>") << "decoding" << TransformResult{};
        QTest::newRow("empty body") << QByteArray() << "decoding" << TransformResult{};

        // The service's whole answer, as text, in the content member.
        const auto wrapped = [](const QString &inner) {
            return QJsonDocument(QJsonObject{{QStringLiteral("transformedContent"), inner}}).toJson();
        };
        QTest::newRow("wrapped answer")
            << wrapped(QStringLiteral("{\"transformedContent\": \"Line one\\nsaid \\\"hi\\\"\", \"x\": 1}"))
            << "ok" << plain("Line one\nsaid \"hi\"");
        QTest::newRow("wrapper without a string value stays")
            << wrapped(QStringLiteral("{\"transformedContent\": 42}")) << "ok"
            << plain("{\"transformedContent\": 42}");
        QTest::newRow("wrapper rescued to nothing")
            << wrapped(QStringLiteral("{\"transformedContent\": \"\"}")) << kEmptyTransform
            << TransformResult{};

        TransformResult sources = plain("a");
        sources.citations = {QStringLiteral("s1")};
        QTest::newRow("sources before references")
            << q("{'transformedContent':'a','sources':['s1'],'references':['r1']}") << "ok" << sources;
        QTest::newRow("null citations win over sources")
            << q("{'transformedContent':'a','citations':null,'sources':['s1']}") << "ok" << plain("a");

        TransformResult full = plain("a");
        full.citations = {QStringLiteral("T \u2014 https://c.test"), QStringLiteral("w")};
        full.talentIntegrations = {QStringLiteral("Ada")};
        full.seoMeta = {{QStringLiteral("title"), QStringLiteral("T")},
                        {QStringLiteral("score"), QStringLiteral("85")}};
        full.qualityScore = 87.0;
        full.seoScore = 71.5;
        QTest::newRow("every member")
            << q("{'transformedContent':'a','citations':[{'url':'https://c.test','title':'T'},'w',3],"
                 "'talentIntegrations':['Ada'],'seoMeta':{'title':'T','score':85},'qualityScore':87,"
                 "'seoScore':71.5,'extra':{'ignored':true}}")
            << "ok" << full;

        TransformResult boolScore = plain("a");
        boolScore.qualityScore = 1.0;
        QTest::newRow("numeric string is no score")
            << q("{'transformedContent':'a','qualityScore':'87','seoScore':null}") << "ok" << plain("a");
        QTest::newRow("Boolean score")
            << q("{'transformedContent':'a','qualityScore':true}") << "ok" << boolScore;
    }
    void transformAnswer()
    {
        QFETCH(QByteArray, answer);
        QFETCH(QString, outcome);
        QFETCH(TransformResult, expected);
        service->answer("POST", paths::transform, ScriptedAnswer::json(200, answer));
        if (outcome != u"ok") {
            QCOMPARE(outcomeForPath(paths::transform), outcome);
            return;
        }
        const TransformResult got = blockingWait(
            client->transform(QStringLiteral("t"), {}, ClipperSettings::defaults(), QStringLiteral("t1")));
        QCOMPARE(got.transformedContent, expected.transformedContent);
        QCOMPARE(got.citations, expected.citations);
        QCOMPARE(got.talentIntegrations, expected.talentIntegrations);
        QCOMPARE(got.seoMeta, expected.seoMeta);
        QCOMPARE(got.qualityScore, expected.qualityScore);
        QCOMPARE(got.seoScore, expected.seoScore);
    }

    void extractAnalyzeHumanizeAnswers_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<QString>("expected"); // the result as text, or the failure
        QTest::newRow("extract text") << paths::extract << q("{'text':'Hello','title':'x'}") << "Hello";
        QTest::newRow("extract without text") << paths::extract << q("{'title':'x'}") << "";
        QTest::newRow("extract null text") << paths::extract << q("{'text':null}") << "";
        QTest::newRow("extract text number") << paths::extract << q("{'text':5}") << "decoding";
        QTest::newRow("analyze categories only")
            << paths::analyze << q("{'categories':['a','b']}") << "a,b||";
        QTest::newRow("analyze all") << paths::analyze
                                     << q("{'categories':[],'age':['18-25'],'problems':['p']}") << "|18-25|p";
        QTest::newRow("analyze wrong list") << paths::analyze << q("{'age':'18-25'}") << "decoding";
        QTest::newRow("analyze list of numbers") << paths::analyze << q("{'problems':[1]}") << "decoding";
        QTest::newRow("humanized") << paths::humanize << q("{'success':true,'content':'Human'}") << "Human";
        QTest::newRow("humanize refused")
            << paths::humanize << q("{'success':false,'content':'Human'}") << "Sent";
        QTest::newRow("humanize without content") << paths::humanize << q("{'success':true}") << "Sent";
        QTest::newRow("humanize without success") << paths::humanize << q("{'content':'Human'}") << "Sent";
        QTest::newRow("humanize empty content")
            << paths::humanize << q("{'success':true,'content':''}") << "";
        QTest::newRow("humanize success as number")
            << paths::humanize << q("{'success':1,'content':'H'}") << "decoding";
        QTest::newRow("adaptation") << paths::adaptations
                                    << q("{'adaptation':{'id':'ad-7','status':'draft'}}") << "ad-7";
        QTest::newRow("adaptation without id") << paths::adaptations << q("{'adaptation':{}}") << "decoding";
        QTest::newRow("adaptation id number")
            << paths::adaptations << q("{'adaptation':{'id':7}}") << "decoding";
        QTest::newRow("no adaptation") << paths::adaptations << q("{'id':'ad-7'}") << "decoding";
        QTest::newRow("adaptation null") << paths::adaptations << q("{'adaptation':null}") << "decoding";
    }
    void extractAnalyzeHumanizeAnswers()
    {
        QFETCH(QString, path);
        QFETCH(QByteArray, answer);
        QFETCH(QString, expected);
        service->answer("POST", path, ScriptedAnswer::json(200, answer));
        if (expected == u"decoding") {
            QCOMPARE(outcomeForPath(path), expected);
            return;
        }
        const QString t = QStringLiteral("t1");
        QString got;
        if (path == paths::extract) {
            got = blockingWait(client->extractText(QStringLiteral("https://a.test"), t));
        } else if (path == paths::analyze) {
            const ContentMetadata m =
                blockingWait(client->analyze(QStringLiteral("x"), QStringLiteral("en"), t));
            got = m.categories.join(u',') + u'|' + m.age.join(u',') + u'|' + m.problems.join(u',');
        } else if (path == paths::humanize) {
            got = blockingWait(client->humanize(QStringLiteral("Sent"), t));
        } else {
            got = blockingWait(
                client->createSocialAdaptation(QStringLiteral("a"), t, SocialCrosspostPlatform::linkedin));
        }
        QCOMPARE(got, expected);
    }

    void voiceoverAcceptsAnySuccess_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("outcome");
        QTest::newRow("202 empty") << 202 << QByteArray() << "ok";
        QTest::newRow("200 html") << 200 << QByteArray("<p>queued</p>") << "ok";
        QTest::newRow("204") << 204 << QByteArray() << "ok";
        QTest::newRow("409") << 409 << q("{'error':'Already queued','code':'DUP'}")
                             << "http 409 DUP Already queued";
    }
    void voiceoverAcceptsAnySuccess()
    {
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        QFETCH(QString, outcome);
        service->answer("POST", paths::voiceover, ScriptedAnswer::text(status, body, "text/plain"));
        QCOMPARE(outcomeForPath(paths::voiceover), outcome);
    }

    void illustrationsBody()
    {
        service->answer("POST", paths::illustrations, ScriptedAnswer::json(200, "{}"));
        blockingWait(client->generateIllustrations(QStringLiteral("Body"), QStringLiteral("es"),
                                                   QStringLiteral("t1"), 0));
        blockingWait(client->generateIllustrations(QStringLiteral("Body"), QStringLiteral("es"),
                                                   QStringLiteral("t1"), 3));
        const auto sent = service->requestsTo("POST", paths::illustrations);
        QCOMPARE(sent.size(), 2);
        const QRegularExpression upperUuid(
            QStringLiteral("^[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}$"));
        QStringList ids;
        for (const RecordedRequest &r : sent) {
            QJsonObject body = r.json.toObject();
            ids << body.take(QStringLiteral("articleId")).toString();
            QVERIFY2(upperUuid.match(ids.last()).hasMatch(), qPrintable(ids.last()));
            QCOMPARE(r.header("X-Tenant-ID"), QByteArray("t1"));
            body.remove(QStringLiteral("imagesCount"));
            QCOMPARE(QJsonValue(body), parsed(q("{'content':'Body','language':'es','tenantId':'t1'}")));
        }
        QVERIFY(ids[0] != ids[1]);
        QVERIFY(sent[0].json.toObject().contains(QStringLiteral("imagesCount")));
        QCOMPARE(sent[0].json.toObject().value(QStringLiteral("imagesCount")), QJsonValue(QJsonValue::Null));
        QCOMPARE(sent[1].json.toObject().value(QStringLiteral("imagesCount")), QJsonValue(3));
    }

    void illustrationsAnswer_data()
    {
        QTest::addColumn<QByteArray>("answer");
        // content | asset urls joined by ',' | generation | style | provider, "-" for absent;
        // or the failure
        QTest::addColumn<QString>("expected");
        QTest::newRow("empty object") << QByteArray("{}") << "Sent||-|-|-";
        QTest::newRow("public address wins")
            << q("{'assets':[{'url':'https://i.test/a','publicUrl':'https://cdn.test/a'}]}")
            << "Sent|https://cdn.test/a|-|-|-";
        QTest::newRow("empty public address is not replaced")
            << q("{'assets':[{'url':'https://i.test/a','publicUrl':''},{'url':'https://i.test/b'}]}")
            << "Sent|https://i.test/b|-|-|-";
        QTest::newRow("trimmed, unusable and duplicate addresses")
            << q("{'assets':[{'url':'  https://i.test/a \\n'},{},{'publicUrl':null,'url':'   '},"
                 "{'url':'https://i.test/a'}]}")
            << "Sent|https://i.test/a,https://i.test/a|-|-|-";
        QTest::newRow("everything") << q(
            "{'content':'With images','assets':[],'generationId':'g-1','style':' Watercolour \\n',"
            "'provider':'painter'}") << "With images||g-1|Watercolour|painter";
        QTest::newRow("empty content is used") << q("{'content':''}") << "||-|-|-";
        QTest::newRow("style of spaces") << q("{'style':'   '}") << "Sent||-|-|-";
        QTest::newRow("profile with mood") << q("{'style':{'mood':'calm','palette':3}}") << "Sent||-|calm|-";
        QTest::newRow("profile medium first")
            << q("{'style':{'mood':'calm','medium':'ink'}}") << "Sent||-|ink|-";
        QTest::newRow("profile blank medium")
            << q("{'style':{'medium':' ','styleLock':'flat'}}") << "Sent||-|flat|-";
        QTest::newRow("empty profile") << q("{'style':{}}") << "Sent||-|-|-";
        QTest::newRow("nulls are absent")
            << q("{'content':null,'assets':null,'style':null,'generationId':null}") << "Sent||-|-|-";
        QTest::newRow("profile medium number") << q("{'style':{'medium':3}}") << kIncompatible;
        QTest::newRow("style number") << q("{'style':3}") << kIncompatible;
        QTest::newRow("style list") << q("{'style':['ink']}") << kIncompatible;
        QTest::newRow("style Boolean") << q("{'style':true}") << kIncompatible;
        QTest::newRow("assets object") << q("{'assets':{'url':'x'}}") << kIncompatible;
        QTest::newRow("asset null") << q("{'assets':[null]}") << kIncompatible;
        QTest::newRow("asset url number") << q("{'assets':[{'url':1}]}") << kIncompatible;
        QTest::newRow("content number") << q("{'content':1}") << kIncompatible;
        QTest::newRow("provider object") << q("{'provider':{}}") << kIncompatible;
        QTest::newRow("not JSON") << QByteArray("<html></html>") << kIncompatible;
        QTest::newRow("empty body") << QByteArray() << kIncompatible;
        QTest::newRow("array") << QByteArray("[]") << kIncompatible;
    }
    void illustrationsAnswer()
    {
        QFETCH(QByteArray, answer);
        QFETCH(QString, expected);
        service->answer("POST", paths::illustrations, ScriptedAnswer::json(200, answer));
        if (expected.startsWith(u"http ")) {
            QCOMPARE(outcomeForPath(paths::illustrations), expected);
            return;
        }
        const QDateTime before = QDateTime::currentDateTimeUtc();
        const IllustrationsResult result = blockingWait(client->generateIllustrations(
            QStringLiteral("Sent"), QStringLiteral("en"), QStringLiteral("t1"), 2));
        const IllustrationMetadata &m = result.metadata;
        QStringList urls;
        for (const IllustrationAsset &a : m.assets)
            urls << a.url;
        const QString dash = QStringLiteral("-");
        const QString got = QStringList{result.content, urls.join(u','), m.generationID.value_or(dash),
                                        m.style.value_or(dash), m.provider.value_or(dash)}
                                .join(u'|');
        QCOMPARE(got, expected);
        QVERIFY(m.generatedAt >= before.addSecs(-1) && m.generatedAt <= QDateTime::currentDateTimeUtc());
    }

    void illustrationAssetsGetFreshIdentifiers()
    {
        service->answer("POST", paths::illustrations,
                        ScriptedAnswer::json(
                            200, q("{'assets':[{'url':'https://i.test/a'},{'url':'https://i.test/a'}]}")));
        QSet<QUuid> ids;
        for (int call = 0; call < 2; ++call) {
            const IllustrationsResult r = blockingWait(client->generateIllustrations(
                QStringLiteral("c"), QStringLiteral("en"), QStringLiteral("t1"), 1));
            for (const IllustrationAsset &a : r.metadata.assets) {
                QVERIFY(!a.id.isNull());
                ids.insert(a.id);
            }
        }
        QCOMPARE(ids.size(), 4);
    }

    // Every endpoint fed answers of the wrong shape ends in its own error.
    void malformedAnswers_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<QString>("outcome");
        const QByteArray hugeArray = '[' + QByteArray("\"0123456789abcdef\",").repeated(300000) + "\"end\"]";
        const QByteArray hugeGarbage = QByteArray("<p>").repeated(2000000);
        const struct {
            QString path;
            QString wrongShape; // the outcome of any answer that is not the expected object
        } endpoints[] = {
            {paths::extract, QStringLiteral("decoding")},  {paths::analyze, QStringLiteral("decoding")},
            {paths::transform, kEmptyTransform},           {paths::illustrations, kIncompatible},
            {paths::humanize, QStringLiteral("decoding")}, {paths::adaptations, QStringLiteral("decoding")},
            {paths::voiceover, QStringLiteral("ok")},
        };
        for (const auto &e : endpoints) {
            const QByteArray name = e.path.section(u'/', -1).toUtf8();
            const QString notJson = e.path == paths::transform ? QStringLiteral("decoding") : e.wrongShape;
            QTest::newRow(name + " not JSON") << e.path << QByteArray("{\"text\":") << notJson;
            // A bare value at the top is no JSON document to the parser.
            QTest::newRow(name + " null") << e.path << QByteArray("null") << notJson;
            QTest::newRow(name + " string") << e.path << QByteArray("\"text\"") << notJson;
            QTest::newRow(name + " number") << e.path << QByteArray("12") << notJson;
            QTest::newRow(name + " huge array") << e.path << hugeArray << e.wrongShape;
            QTest::newRow(name + " huge garbage") << e.path << hugeGarbage << notJson;
        }
    }
    void malformedAnswers()
    {
        QFETCH(QString, path);
        QFETCH(QByteArray, answer);
        QFETCH(QString, outcome);
        service->answer("POST", path, ScriptedAnswer::json(200, answer));
        QCOMPARE(outcomeForPath(path), outcome);
    }

    // Failures of the request itself pass through every endpoint unchanged.
    void pipelineFailuresPassThrough_data()
    {
        QTest::addColumn<QString>("path");
        for (const QString &path : {paths::extract, paths::analyze, paths::transform, paths::illustrations,
                                    paths::humanize, paths::voiceover, paths::adaptations})
            QTest::newRow(path.section(u'/', -1).toUtf8()) << path;
    }
    void pipelineFailuresPassThrough()
    {
        QFETCH(QString, path);
        service->answerOnce(
            "POST", path,
            ScriptedAnswer::json(402, q("{'error':'Not enough credits','code':'INSUFFICIENT_CREDITS'}")));
        QCOMPARE(outcomeForPath(path), QStringLiteral("http 402 INSUFFICIENT_CREDITS Not enough credits"));
        service->answerOnce("POST", path, ScriptedAnswer::dropped());
        QCOMPARE(outcomeForPath(path), QStringLiteral("transport"));
        sessions.session.reset();
        QCOMPARE(outcomeForPath(path), QStringLiteral("missingSession"));
        sessions.session = FixedSessions().session;
    }

    // Qt sends a request again by itself when its connection closes before
    // any answer. Every one of these calls costs credits, stores or
    // publishes: it reaches the service once per call, whether its connection
    // is new or was kept alive from an earlier call, and the caller learns
    // that no answer came.
    void droppedCallIsSentOnce_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("before"); // the call made first on the same client
        for (const QString &path : {paths::extract, paths::transform, paths::illustrations, paths::humanize,
                                    paths::save, paths::voiceover, paths::adaptations, paths::publish}) {
            for (const char *before : {"nothing", "GET", "POST"})
                QTest::newRow(qPrintable(path.section(u'/', -2) + QStringLiteral(" after ") + before))
                    << path << QString::fromLatin1(before);
        }
    }
    void droppedCallIsSentOnce()
    {
        QFETCH(QString, path);
        QFETCH(QString, before);
        const QString earlier = QStringLiteral("/api/earlier");
        service->answer("GET", earlier, ScriptedAnswer::json(200, "{}"));
        service->answer("POST", earlier, ScriptedAnswer::json(200, "{}"));
        if (before != u"nothing") {
            const std::optional<RequestBody> body =
                before == u"POST" ? std::optional<RequestBody>(RequestBody{}) : std::nullopt;
            blockingWait(client->performRequest(earlier, before.toLatin1(), std::nullopt, body));
        }
        // Every request to the path is dropped, a second one as well.
        service->answer("POST", path, ScriptedAnswer::dropped());
        QCOMPARE(outcomeForPath(path), QStringLiteral("transport"));
        QTest::qWait(50); // a resend, were there one, arrives meanwhile
        QCOMPARE(service->requestsTo("POST", path).size(), 1);
    }

    // The same end for the caller as a connection closed at any other time.
    void droppedCallReadsAsClosedConnection()
    {
        service->answer("POST", paths::humanize, ScriptedAnswer::dropped());
        try {
            blockingWait(client->humanize(QStringLiteral("body"), QStringLiteral("t1")));
            QFAIL("no error");
        } catch (const TransportError &e) {
            QCOMPARE(e.networkError(), QNetworkReply::RemoteHostClosedError);
            QVERIFY(e.isUnreachable());
            QCOMPARE(e.userMessage(),
                     QStringLiteral("The connection to the service closed before it answered."));
        }
    }

    void oversizedAnswerIsCutOff()
    {
        client->setResponseLimit(1 << 20);
        const QByteArray big = "{\"text\":\"" + QByteArray(2 << 20, 'a') + "\"}";
        service->answer("POST", paths::extract, ScriptedAnswer::json(200, big));
        QCOMPARE(outcomeForPath(paths::extract), QStringLiteral("invalidResponse"));
        // Just under the limit is read as usual.
        const QByteArray fits = "{\"text\":\"" + QByteArray((1 << 20) - 20, 'a') + "\"}";
        service->answer("POST", paths::extract, ScriptedAnswer::json(200, fits));
        QCOMPARE(
            blockingWait(client->extractText(QStringLiteral("https://a.test"), QStringLiteral("t1"))).size(),
            (1 << 20) - 20);
    }
};

QTEST_GUILESS_MAIN(TestContentEndpoints)
#include "tst_contentendpoints.moc"
