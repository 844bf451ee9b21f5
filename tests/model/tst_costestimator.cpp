#include "model/CostEstimator.h"

#include <QTest>

using namespace pendrel;

namespace {

QString words(int count)
{
    QStringList list;
    for (int i = 0; i < count; ++i)
        list << QStringLiteral("word");
    return list.join(u' ');
}

ClipPayload textClip(const QString &text)
{
    return ClipPayload::clipboardText(text);
}

// "Article 7, Images ×3 27" style summary of a breakdown.
QString summary(const CostBreakdown &b)
{
    QStringList lines;
    qint64 sum = 0;
    for (const auto &item : b.items) {
        lines << item.id + u'/' + item.label + u' ' + QString::number(item.credits);
        sum = item.credits > std::numeric_limits<qint64>::max() - sum ? std::numeric_limits<qint64>::max()
                                                                        : sum + item.credits;
    }
    if (sum != b.total)
        return QStringLiteral("total %1 is not the sum %2").arg(b.total).arg(sum);
    return lines.join(QStringLiteral(", ")) + QStringLiteral(" = ") + QString::number(b.total);
}

} // namespace

Q_DECLARE_METATYPE(std::optional<pendrel::ClipPayload>)

class TestCostEstimator : public QObject {
    Q_OBJECT

private slots:
    void breakdown_data()
    {
        QTest::addColumn<ClipperSettings>("settings");
        QTest::addColumn<std::optional<ClipPayload>>("clip");
        QTest::addColumn<QString>("expected");
        using Clip = std::optional<ClipPayload>;
        const ClipperSettings defaults;

        QTest::newRow("defaults, no clip") << defaults << Clip() << "article/Article 7 = 7";

        ClipperSettings pillar;
        pillar.articleSize = ArticleSize::pillar;
        pillar.enableImages = true;
        pillar.imagesCount = 3;
        QTest::newRow("pillar, 3 images")
            << pillar << Clip() << QStringLiteral("article/Article 40, images/Images ×3 27 = 67");

        ClipperSettings autoImages;
        autoImages.enableImages = true;
        QTest::newRow("1201 words") << autoImages << Clip(textClip(words(1201)))
                                    << QStringLiteral("article/Article 7, images/Images ×3 27 = 34");
        QTest::newRow("600 words") << autoImages << Clip(textClip(words(600)))
                                   << "article/Article 7, images/Images 9 = 16";
        QTest::newRow("601 words") << autoImages << Clip(textClip(words(601)))
                                   << QStringLiteral("article/Article 7, images/Images ×2 18 = 25");
        QTest::newRow("images, no clip") << autoImages << Clip() << "article/Article 7, images/Images 9 = 16";
        ClipperSettings minusOne = autoImages;
        minusOne.imagesCount = -1;
        QTest::newRow("imagesCount -1 is automatic")
            << minusOne << Clip(textClip(words(1201)))
            << QStringLiteral("article/Article 7, images/Images ×3 27 = 34");

        // Counts a 32-bit product would wrap: the estimate stays exact, and
        // at the very top it stops at the largest number.
        ClipperSettings many = autoImages;
        many.imagesCount = 300'000'000;
        QTest::newRow("300 million images") << many << Clip()
                                            << QStringLiteral("article/Article 7, images/Images ×300000000 "
                                                              "2700000000 = 2700000007");
        many.imagesCount = std::numeric_limits<qint64>::max() / 9 + 1;
        QTest::newRow("images beyond 64 bits of credits")
            << many << Clip()
            << QStringLiteral("article/Article 7, images/Images ×1024819115206086201 9223372036854775807 = "
                              "9223372036854775807");

        ClipperSettings humanize;
        humanize.enableHumanize = true;
        QTest::newRow("humanize 4999") << humanize << Clip(textClip(QString(4999, u'a')))
                                       << "article/Article 7, humanize/Humanize 2 = 9";
        QTest::newRow("humanize 5000") << humanize << Clip(textClip(QString(5000, u'a')))
                                       << "article/Article 7, humanize/Humanize 9 = 16";
        QTest::newRow("humanize 11999") << humanize << Clip(textClip(QString(11999, u'a')))
                                        << "article/Article 7, humanize/Humanize 9 = 16";
        QTest::newRow("humanize 12000") << humanize << Clip(textClip(QString(12000, u'a')))
                                        << "article/Article 7, humanize/Humanize 15 = 22";
        QTest::newRow("humanize, no clip")
            << humanize << Clip() << "article/Article 7, humanize/Humanize 2 = 9";
        // Length counts user-perceived characters: 4999 flags are 9998 code units.
        QString flags;
        for (int i = 0; i < 4999; ++i)
            flags += QStringLiteral("🇯🇵");
        QTest::newRow("humanize 4999 flags")
            << humanize << Clip(textClip(flags)) << "article/Article 7, humanize/Humanize 2 = 9";

        ClipperSettings audio;
        audio.enableAudio = true;
        QTest::newRow("audio 5000") << audio << Clip(textClip(QString(5000, u'a')))
                                    << "article/Article 7, audio/Audio 10 = 17";
        QTest::newRow("audio 5001") << audio << Clip(textClip(QString(5001, u'a')))
                                    << "article/Article 7, audio/Audio 20 = 27";
        QTest::newRow("audio 10001") << audio << Clip(textClip(QString(10001, u'a')))
                                     << "article/Article 7, audio/Audio 35 = 42";
        QTest::newRow("audio 20000") << audio << Clip(textClip(QString(20000, u'a')))
                                     << "article/Article 7, audio/Audio 35 = 42";
        QTest::newRow("audio 20001") << audio << Clip(textClip(QString(20001, u'a')))
                                     << "article/Article 7, audio/Audio 55 = 62";
        QTest::newRow("audio, no clip") << audio << Clip() << "article/Article 7, audio/Audio 10 = 17";

        ClipperSettings humanizeAudio = humanize;
        humanizeAudio.enableAudio = true;
        QTest::newRow("web address clip")
            << humanizeAudio << Clip(ClipPayload::webAddress(QStringLiteral("https://x.test")))
            << "article/Article 7, humanize/Humanize 2, audio/Audio 10, extract/URL extract 2 = 21";

        ClipperSettings switchOnly;
        switchOnly.enableCompetition = true;
        QTest::newRow("competition switch, no insight") << switchOnly << Clip() << "article/Article 7 = 7";
        ClipperSettings insightOnly;
        insightOnly.competitionOptions.pricingMentions = true;
        QTest::newRow("insight, switch off")
            << insightOnly << Clip() << "article/Article 7, competition/Competition 8 = 15";
        ClipperSettings serpOnly;
        serpOnly.competitionOptions.useSerpBasedDiscovery = true;
        QTest::newRow("serp discovery is no insight") << serpOnly << Clip() << "article/Article 7 = 7";

        ClipperSettings all;
        all.articleSize = ArticleSize::full;
        all.enableCompetition = all.enableImages = all.enableHumanize = all.enableAudio = true;
        all.competitionOptions.gapAnalysis = true;
        all.imagesCount = 2;
        QTest::newRow("everything on")
            << all << Clip(textClip(QString(6000, u'a')))
            << QStringLiteral("article/Article 25, competition/Competition 8, images/Images ×2 18, "
                              "humanize/Humanize 9, audio/Audio 20 = 80");
    }
    void breakdown()
    {
        QFETCH(ClipperSettings, settings);
        QFETCH(std::optional<ClipPayload>, clip);
        QFETCH(QString, expected);
        QCOMPARE(summary(CostEstimator::estimateBreakdown(settings, clip)), expected);
    }

    void imagesCount_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("language");
        QTest::addColumn<int>("count");
        const QString ja2401 = QString(2401, QChar(0x65E5));
        QTest::newRow("blank text") << QStringLiteral(" \n\t ") << "en" << 1;
        QTest::newRow("empty") << QString() << "ja" << 1;
        QTest::newRow("ja 2401 characters") << ja2401 << "ja" << 2;
        QTest::newRow("JA upper case") << ja2401 << "JA" << 2;
        QTest::newRow("ja 2400 characters") << QString(2400, QChar(0x65E5)) << "ja" << 1;
        QTest::newRow("tw counts words") << ja2401 << "tw" << 1;
        // White space of any kind does not count as a character.
        QTest::newRow("ko with ideographic spaces")
            << QString(2400, QChar(0xD55C)) + QString(500, QChar(0x3000)) + QStringLiteral("\uD55C") << "ko"
            << 2;
        QTest::newRow("cn with newlines")
            << QString(1200, QChar(0x4E2D)) + QStringLiteral("\n \n") + QString(1200, QChar(0x4E2D)) << "cn"
            << 1;
        QTest::newRow("words split at no-break spaces")
            << QStringList(QList<QString>(601, QStringLiteral("w"))).join(QChar(0x00A0)) << "en" << 2;
        QTest::newRow("1200 words") << words(1200) << "de" << 2;
    }
    void imagesCount()
    {
        QFETCH(QString, text);
        QFETCH(QString, language);
        QFETCH(int, count);
        QCOMPARE(CostEstimator::estimateImagesCount(text, language), count);
    }
};

QTEST_GUILESS_MAIN(TestCostEstimator)
#include "tst_costestimator.moc"
