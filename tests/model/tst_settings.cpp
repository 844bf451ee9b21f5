#include "model/ClipperSettings.h"

#include <QJsonArray>
#include <QTest>

#include "JsonTestUtil.h"

using namespace pendrel;
using namespace pendrel::test;
using L = QLatin1StringView;

class TestSettings : public QObject {
    Q_OBJECT

private slots:
    void defaultsEncodeExactly()
    {
        const QJsonObject expected = json::parseDocument(q(R"json({
            'language': 'en', 'articleSize': 'mini', 'seoStandardMode': 'auto',
            'enableHumanize': false, 'enableImages': false, 'imagesCount': 0, 'enableAudio': false,
            'enableCompetition': false,
            'competitionOptions': {'contentStrategies': false, 'winningTitles': false,
                                   'pricingMentions': false, 'gapAnalysis': false,
                                   'serpFeatures': false, 'useSerpBasedDiscovery': true},
            'targetDomain': '', 'linksPresetID': '', 'authorID': '', 'authorName': '',
            'autoSend': true, 'socialCrosspostPreferences': []})json"))
                                         .toObject();
        QCOMPARE(ClipperSettings::defaults().toJson(JsonDates::iso8601()), expected);
    }

    void everyKeyIsRequired_data()
    {
        QTest::addColumn<QString>("path");
        const QJsonObject encoded = ClipperSettings::defaults().toJson(JsonDates::iso8601());
        for (const QString &key : encoded.keys())
            QTest::newRow(qPrintable(key)) << key;
        for (const QString &key : encoded.value(L("competitionOptions")).toObject().keys())
            QTest::newRow(qPrintable(key)) << QStringLiteral("competitionOptions.") + key;
    }
    void everyKeyIsRequired()
    {
        QFETCH(QString, path);
        const auto dates = JsonDates::iso8601();
        QJsonObject o = ClipperSettings::defaults().toJson(dates);
        if (path.startsWith(QStringLiteral("competitionOptions."))) {
            QJsonObject inner = o.value(L("competitionOptions")).toObject();
            inner.remove(path.section(u'.', 1));
            o.insert(L("competitionOptions"), inner);
        } else {
            o.remove(path);
        }
        QCOMPARE(decodingFailure([&] { ClipperSettings::fromJson(o, dates); }),
                 path + QStringLiteral(": missing"));
    }

    void enumerationStrings_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("value");
        QTest::addColumn<bool>("decodes");
        QTest::newRow("e-e-a-t") << "seoStandardMode"
                                 << "e-e-a-t" << true;
        QTest::newRow("eeat") << "seoStandardMode"
                              << "eeat" << false;
        QTest::newRow("rank-math") << "seoStandardMode"
                                   << "rank-math" << true;
        QTest::newRow("Auto") << "seoStandardMode"
                              << "Auto" << false;
        QTest::newRow("pillar") << "articleSize"
                                << "pillar" << true;
        QTest::newRow("huge") << "articleSize"
                              << "huge" << false;
        // Unknown language codes are kept: nothing validates them.
        QTest::newRow("unknown language") << "language"
                                          << "xx-yy" << true;
    }
    void enumerationStrings()
    {
        QFETCH(QString, key);
        QFETCH(QString, value);
        QFETCH(bool, decodes);
        const auto dates = JsonDates::iso8601();
        QJsonObject o = ClipperSettings::defaults().toJson(dates);
        o.insert(key, value);
        const QString failure = decodingFailure([&] {
            const ClipperSettings s = ClipperSettings::fromJson(o, dates);
            QCOMPARE(s.toJson(dates).value(key).toString(), value);
        });
        QCOMPARE(failure == QStringLiteral("<decoded>"), decodes);
    }

    void roundTrip()
    {
        ClipperSettings s;
        s.language = QStringLiteral("en-gb");
        s.articleSize = ArticleSize::pillar;
        s.seoStandardMode = SEOStandardMode::nlpSemantic;
        s.enableHumanize = s.enableImages = s.enableAudio = s.enableCompetition = true;
        s.imagesCount = -1;
        s.competitionOptions.gapAnalysis = true;
        s.competitionOptions.useSerpBasedDiscovery = false;
        s.targetDomain = QStringLiteral("example.com/blog");
        s.linksPresetID = QStringLiteral("preset-1");
        s.authorID = QStringLiteral("a1");
        s.authorName = QStringLiteral("Zoë");
        s.autoSend = false;
        SocialCrosspostPreference p;
        p.accountId = QStringLiteral("acc");
        p.platform = SocialCrosspostPlatform::shopifyBlog;
        p.mode = SocialCrosspostMode::article;
        p.selectedBlogId = 87654321098;
        s.socialCrosspostPreferences = {p};
        QCOMPARE(throughStateFile(s), s);
        QVERIFY(!(s == ClipperSettings::defaults()));
        s.imagesCount = 5'000'000'000; // beyond 32 bits: still a readable file
        QCOMPARE(throughStateFile(s), s);
    }

    void storedKeyIsLinksPresetID()
    {
        ClipperSettings s;
        s.linksPresetID = QStringLiteral("p");
        const QJsonObject o = s.toJson(JsonDates::iso8601());
        QVERIFY(o.contains(L("linksPresetID")));
        QVERIFY(!o.contains(L("linksPresetId")));
    }

    void displayNames_data()
    {
        QTest::addColumn<SEOStandardMode>("mode");
        QTest::addColumn<QString>("name");
        QTest::newRow("auto") << SEOStandardMode::automatic << "Auto";
        QTest::newRow("eeat") << SEOStandardMode::eeat << "E E A T";
        QTest::newRow("nlp") << SEOStandardMode::nlpSemantic << "Nlp Semantic";
        QTest::newRow("rank math") << SEOStandardMode::rankMath << "Rank Math";
        QTest::newRow("yoast") << SEOStandardMode::yoast << "Yoast";
        QTest::newRow("hybrid") << SEOStandardMode::hybrid << "Hybrid";
    }
    void displayNames()
    {
        QFETCH(SEOStandardMode, mode);
        QFETCH(QString, name);
        QCOMPARE(seoStandardModeDisplayName(mode), name);
        QVERIFY(!seoStandardModeDescription(mode).isEmpty());
    }

    void articleSizesInOrder()
    {
        QStringList names;
        for (const ArticleSize size : enumCases<ArticleSize>())
            names << articleSizeDisplayName(size);
        QCOMPARE(names, (QStringList{"Mini", "Standard", "Full", "Pillar"}));
        QCOMPARE(displayNameForValue(QStringLiteral("MIXED-case")), QStringLiteral("Mixed Case"));
    }

    void insightsIgnoreSerpDiscovery()
    {
        CompetitionOptions o;
        QVERIFY(o.useSerpBasedDiscovery);
        QVERIFY(!o.hasSelectedInsight());
        o.serpFeatures = true;
        QVERIFY(o.hasSelectedInsight());
    }
};

QTEST_GUILESS_MAIN(TestSettings)
#include "tst_settings.moc"
