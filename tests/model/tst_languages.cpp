#include "model/SupportedContentLanguage.h"

#include <QSet>
#include <QTest>

using namespace pendrel;

class TestLanguages : public QObject {
    Q_OBJECT

private slots:
    void tableShape()
    {
        const auto &all = SupportedContentLanguage::all();
        QCOMPARE(all.size(), 55);
        QSet<QString> codes;
        for (const auto &language : all) {
            codes.insert(language.code);
            const QString rule =
                language.nativeName == language.name
                    ? language.name
                    : language.nativeName + QStringLiteral(" (") + language.name + QStringLiteral(")");
            QCOMPARE(language.label, rule);
            // A flag is two regional indicator symbols.
            const QList<uint> flag = language.flag.toUcs4();
            QCOMPARE(flag.size(), 2);
            for (const uint c : flag)
                QVERIFY(c >= 0x1F1E6 && c <= 0x1F1FF);
        }
        QCOMPARE(codes.size(), 55);
        QCOMPARE(all.first().code, QStringLiteral("en"));
        QCOMPARE(all.last().code, QStringLiteral("am"));
    }

    void byCode_data()
    {
        QTest::addColumn<QString>("code");
        QTest::addColumn<QString>("label"); // empty: not found
        QTest::addColumn<QString>("flag");
        QTest::newRow("en") << "en"
                            << "English" << QStringLiteral("🇺🇸");
        QTest::newRow("en-gb") << "en-gb"
                               << "English (UK)" << QStringLiteral("🇬🇧");
        QTest::newRow("es") << "es" << QStringLiteral("Español (Spanish)") << QStringLiteral("🇪🇸");
        QTest::newRow("br") << "br" << QStringLiteral("Português (Brasil) (Brazilian Portuguese)")
                            << QStringLiteral("🇧🇷");
        QTest::newRow("fil") << "fil"
                             << "Filipino" << QStringLiteral("🇵🇭");
        QTest::newRow("tw") << "tw" << QStringLiteral("繁體中文 (Chinese (Traditional))")
                            << QStringLiteral("🇹🇼");
        QTest::newRow("upper case") << "EN"
                                    << ""
                                    << "";
        QTest::newRow("leading blank") << " en"
                                       << ""
                                       << "";
        QTest::newRow("iso chinese") << "zh"
                                     << ""
                                     << "";
        QTest::newRow("empty") << ""
                               << ""
                               << "";
    }
    void byCode()
    {
        QFETCH(QString, code);
        QFETCH(QString, label);
        QFETCH(QString, flag);
        const auto found = SupportedContentLanguage::byCode(code);
        QCOMPARE(found.has_value(), !label.isEmpty());
        if (found) {
            QCOMPARE(found->label, label);
            QCOMPARE(found->flag, flag);
            QCOMPARE(found->id(), code);
        }
    }

    void grouping()
    {
        const auto groups = SupportedContentLanguage::grouped();
        QStringList titles;
        QList<qsizetype> sizes;
        qsizetype total = 0;
        for (const auto &group : groups) {
            titles << regionMenuTitle(group.region);
            sizes << group.languages.size();
            total += group.languages.size();
            for (const auto &language : group.languages)
                QCOMPARE(language.region, group.region);
        }
        QCOMPARE(titles, (QStringList{"Core", "Europe", "Asia", "Middle East", "Africa & Other"}));
        QCOMPARE(sizes, (QList<qsizetype>{13, 19, 14, 5, 4}));
        QCOMPARE(total, 55);
        QCOMPARE(SupportedContentLanguage::byCode(QStringLiteral("en-gb"))->region,
                 SupportedContentLanguageRegion::europe);
        QCOMPARE(SupportedContentLanguage::byCode(QStringLiteral("tw"))->region,
                 SupportedContentLanguageRegion::asia);
        QCOMPARE(SupportedContentLanguage::byCode(QStringLiteral("hi"))->region,
                 SupportedContentLanguageRegion::core);
        // Table order inside a group.
        QCOMPARE(groups.at(3).languages.first().code, QStringLiteral("ar"));
        QCOMPARE(groups.at(3).languages.last().code, QStringLiteral("ps"));
    }
};

QTEST_GUILESS_MAIN(TestLanguages)
#include "tst_languages.moc"
