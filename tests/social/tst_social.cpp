#include "social/SocialCrossposting.h"

#include <QTest>

#include "JsonTestUtil.h"

using namespace pendrel;
using namespace pendrel::test;
using L = QLatin1StringView;

namespace {

ConnectedSocialAccount account(SocialCrosspostPlatform platform,
                               std::optional<SocialAccountMetadata> metadata)
{
    return ConnectedSocialAccount{QStringLiteral("conn-1"),
                                  platform,
                                  QStringLiteral("ext-1"),
                                  QStringLiteral("My account"),
                                  std::nullopt,
                                  true,
                                  metadata};
}

} // namespace

class TestSocial : public QObject {
    Q_OBJECT

private slots:
    void availability_data()
    {
        QTest::addColumn<ConnectedSocialAccount>("account");
        QTest::addColumn<bool>("canPublish");
        QTest::addColumn<QString>("reason");   // empty: none
        QTest::addColumn<QString>("subtitle"); // empty: none
        using M = SocialAccountMetadata;
        using P = SocialCrosspostPlatform;
        const QString redditReason = QStringLiteral("Choose a default subreddit on Pendrelweb first.");
        const QString shopifyReason = QStringLiteral("Choose a Shopify blog on Pendrelweb first.");

        QTest::newRow("reddit, empty subreddit") << account(P::reddit, M{QString(), {}, {}, {}}) << false
                                                 << redditReason << "Default subreddit required";
        QTest::newRow("reddit, no metadata")
            << account(P::reddit, std::nullopt) << false << redditReason << "Default subreddit required";
        QTest::newRow("reddit, subreddit")
            << account(P::reddit, M{QStringLiteral("cpp"), {}, {}, {}}) << true << ""
            << "r/cpp";
        QTest::newRow("shopify, domain only")
            << account(P::shopifyBlog, M{{}, {}, {}, QStringLiteral("shop.myshopify.com")}) << false
            << shopifyReason << "shop.myshopify.com";
        QTest::newRow("shopify, no metadata")
            << account(P::shopifyBlog, std::nullopt) << false << shopifyReason << "";
        QTest::newRow("shopify, blog with title")
            << account(P::shopifyBlog, M{{}, 7, QStringLiteral("News"), QStringLiteral("shop.myshopify.com")})
            << true << ""
            << "News";
        QTest::newRow("shopify, blog, empty title")
            << account(P::shopifyBlog, M{{}, 7, QString(), QStringLiteral("shop.myshopify.com")}) << true
            << ""
            << "shop.myshopify.com";
        QTest::newRow("shopify, blog id 0 counts") << account(P::shopifyBlog, M{{}, 0, {}, {}}) << true << ""
                                                   << "";
        QTest::newRow("linkedin") << account(P::linkedin, std::nullopt) << true << ""
                                  << "";
        ConnectedSocialAccount inactive = account(P::xArticle, std::nullopt);
        inactive.isActive = false;
        QTest::newRow("inactive x is still publishable") << inactive << true << ""
                                                         << "";
    }
    void availability()
    {
        QFETCH(ConnectedSocialAccount, account);
        QFETCH(bool, canPublish);
        QFETCH(QString, reason);
        QFETCH(QString, subtitle);
        QCOMPARE(account.canPublishNow(), canPublish);
        QCOMPARE(account.unavailableReason().value_or(QString()), reason);
        QCOMPARE(account.subtitle().has_value(), !subtitle.isEmpty());
        QCOMPARE(account.subtitle().value_or(QString()), subtitle);
    }

    void defaultPreference_data()
    {
        QTest::addColumn<SocialCrosspostPlatform>("platform");
        QTest::addColumn<SocialCrosspostMode>("mode");
        QTest::newRow("shopify") << SocialCrosspostPlatform::shopifyBlog << SocialCrosspostMode::article;
        QTest::newRow("linkedin") << SocialCrosspostPlatform::linkedin << SocialCrosspostMode::adapt;
        QTest::newRow("facebook") << SocialCrosspostPlatform::facebook << SocialCrosspostMode::adapt;
        QTest::newRow("x") << SocialCrosspostPlatform::xArticle << SocialCrosspostMode::adapt;
        QTest::newRow("reddit") << SocialCrosspostPlatform::reddit << SocialCrosspostMode::adapt;
        QTest::newRow("instagram") << SocialCrosspostPlatform::instagram << SocialCrosspostMode::adapt;
    }
    void defaultPreference()
    {
        QFETCH(SocialCrosspostPlatform, platform);
        QFETCH(SocialCrosspostMode, mode);
        const auto a = account(platform, SocialAccountMetadata{QStringLiteral("sub"), 42,
                                                               QStringLiteral("Blog"), QStringLiteral("d")});
        const auto p = SocialCrosspostPreference::defaultFor(a);
        QCOMPARE(p.accountId, QStringLiteral("conn-1"));
        QCOMPARE(p.platform, platform);
        QCOMPARE(p.accountName, QStringLiteral("My account"));
        QVERIFY(!p.enabled);
        QCOMPARE(p.mode, mode);
        QCOMPARE(p.defaultSubreddit, QStringLiteral("sub"));
        QCOMPARE(p.selectedBlogId, 42);
        QCOMPARE(p.selectedBlogTitle, QStringLiteral("Blog"));
        QVERIFY(platformModes(platform).contains(mode));
        const auto bare = SocialCrosspostPreference::defaultFor(account(platform, std::nullopt));
        QVERIFY(!bare.defaultSubreddit && !bare.selectedBlogId && !bare.selectedBlogTitle);
    }

    void publishResultId()
    {
        JobSocialPublishResult r;
        r.platform = SocialCrosspostPlatform::shopifyBlog;
        r.accountId = QStringLiteral("42");
        QCOMPARE(r.id(), QStringLiteral("shopify_blog:42"));
        r.platform = SocialCrosspostPlatform::xArticle;
        QCOMPARE(r.id(), QStringLiteral("x_article:42"));
    }

    void accountWireFormat()
    {
        const auto dates = JsonDates::iso8601();
        const QJsonValue wire = json::parseDocument(
            q("{'id':'c1','platform':'reddit','account_id':'u1','account_name':'Me','is_active':true,"
              "'metadata':{'default_subreddit':'cpp','selectedBlogId':12345678901,'selectedBlogTitle':'B',"
              "'myshopifyDomain':'s'},'unknown':1}"));
        const auto a = ConnectedSocialAccount::fromJson(wire, dates);
        QCOMPARE(a.accountID, QStringLiteral("u1"));
        QCOMPARE(a.accountType, std::nullopt);
        QCOMPARE(a.metadata->defaultSubreddit, QStringLiteral("cpp"));
        QCOMPARE(a.metadata->selectedBlogId, Q_INT64_C(12345678901));
        QJsonObject expected = wire.toObject();
        expected.remove(L("unknown"));
        QCOMPARE(a.toJson(dates), expected);
        QCOMPARE(throughStateFile(a), a);

        QJsonObject unknownPlatform = expected;
        unknownPlatform.insert(L("platform"), QStringLiteral("myspace"));
        QCOMPARE(decodingFailure([&] { ConnectedSocialAccount::fromJson(unknownPlatform, dates); }),
                 QStringLiteral("platform: unknown value \"myspace\""));
        QJsonObject noActive = expected;
        noActive.remove(L("is_active"));
        QCOMPARE(decodingFailure([&] { ConnectedSocialAccount::fromJson(noActive, dates); }),
                 QStringLiteral("is_active: missing"));
    }

    void recordsOmitAbsentOptionals()
    {
        const auto dates = JsonDates::iso8601();
        SocialCrosspostPreference p;
        p.accountId = QStringLiteral("a");
        QCOMPARE(p.toJson(dates).keys(),
                 (QStringList{"accountId", "accountName", "enabled", "mode", "platform"}));
        JobSocialPublishResult r;
        QCOMPARE(r.toJson(dates).keys(),
                 (QStringList{"accountId", "accountName", "mode", "platform", "status"}));
        r.errorMessage = QStringLiteral("Rate limited");
        r.status = JobSocialPublishStatus::error;
        QCOMPARE(throughStateFile(r), r);
        p.selectedBlogId = 3;
        QCOMPARE(throughStateFile(p), p);
        QCOMPARE(SocialAccountMetadata().toJson(dates), QJsonObject());
    }

    void enumerationStrings()
    {
        QStringList platforms, titles;
        for (const auto p : enumCases<SocialCrosspostPlatform>()) {
            platforms << enumString(p);
            titles << platformDisplayTitle(p);
        }
        QCOMPARE(platforms,
                 (QStringList{"linkedin", "facebook", "x_article", "reddit", "instagram", "shopify_blog"}));
        QCOMPARE(titles, (QStringList{"LinkedIn", "Facebook", "X", "Reddit", "Instagram", "Shopify"}));
        QCOMPARE(modeLabel(SocialCrosspostMode::direct), QStringLiteral("Direct"));
        QCOMPARE(enumFromString<JobSocialPublishStatus>(u"skipped"), JobSocialPublishStatus::skipped);
        QCOMPARE(enumFromString<JobSocialPublishStatus>(u"Skipped"), std::nullopt);
    }
};

QTEST_GUILESS_MAIN(TestSocial)
#include "tst_social.moc"
