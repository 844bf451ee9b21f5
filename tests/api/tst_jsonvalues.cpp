#include "api/JsonValues.h"

#include <QJsonArray>
#include <QTest>

#include "BrokenWrapperReference.h"
#include "JsonTestUtil.h"

#include <QRandomGenerator>

using namespace pendrel;
using pendrel::test::q;

using OptString = std::optional<QString>;

class TestJsonValues : public QObject {
    Q_OBJECT

private slots:
    void bodyValues()
    {
        const QVariantMap input{
            {QStringLiteral("s"), QStringLiteral("text")},
            {QStringLiteral("i"), 3},
            {QStringLiteral("d"), 1.5},
            {QStringLiteral("b"), true},
            {QStringLiteral("l"), QStringList{QStringLiteral("a"), QStringLiteral("b")}},
            {QStringLiteral("vl"), QVariantList{QStringLiteral("x")}},
            {QStringLiteral("mixed"), QVariantList{QStringLiteral("x"), 1}},
            {QStringLiteral("nested"), QVariantMap{{QStringLiteral("k"), 1}}},
        };
        const QJsonObject expected = json::parseDocument(q("{'s':'text','i':3,'d':1.5,'b':true,'l':['a','b'],"
                                                           "'vl':['x'],'mixed':null,'nested':null}"))
                                         .toObject();
        QCOMPARE(normalizeBody(input), expected);
        QCOMPARE(nullable(std::optional<int>()), QJsonValue(QJsonValue::Null));
        QCOMPARE(nullable(std::optional<int>(4)), QJsonValue(4));
    }

    void stringLists_data()
    {
        QTest::addColumn<QByteArray>("value");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("mixed sources") << q(
            "[{'url':'u','title':'T'},{'url':'v','title':''},{'source':'s'},7,'w',{'title':''},{'other':1}]")
                                       << QStringList{QStringLiteral("T \u2014 u"), "v", "s", "w", ""};
        QTest::newRow("strings kept, empty ones too") << q("['a','','b']") << QStringList{"a", "", "b"};
        QTest::newRow("single string") << q("'a'") << QStringList{};
        QTest::newRow("number") << q("4") << QStringList{};
        QTest::newRow("object") << q("{'url':'u'}") << QStringList{};
        QTest::newRow("null") << q("null") << QStringList{};
        QTest::newRow("title without url") << q("[{'title':'Only'}]") << QStringList{"Only"};
    }
    void stringLists()
    {
        QFETCH(QByteArray, value);
        QFETCH(QStringList, expected);
        const QJsonValue parsed = QJsonDocument::fromJson("[" + value + "]").array().at(0);
        QCOMPARE(normalizeStringList(parsed), expected);
    }

    void stringDictionary()
    {
        const QJsonValue value = json::parseDocument(
            q("{'score':85,'ratio':0.25,'on':true,'title':'X','list':[1,'a'],'none':null}"));
        const QMap<QString, QString> out = normalizeStringDictionary(value);
        QCOMPARE(out.value(QStringLiteral("score")), QStringLiteral("85"));
        QCOMPARE(out.value(QStringLiteral("ratio")), QStringLiteral("0.25"));
        QCOMPARE(out.value(QStringLiteral("on")), QStringLiteral("1"));
        QCOMPARE(out.value(QStringLiteral("title")), QStringLiteral("X"));
        QCOMPARE(out.value(QStringLiteral("list")), QStringLiteral("[1,\"a\"]"));
        QCOMPARE(out.value(QStringLiteral("none")), QStringLiteral("null"));
        QCOMPARE(out.size(), 6);
        QVERIFY(normalizeStringDictionary(QJsonValue(QStringLiteral("x"))).isEmpty());
        QVERIFY(normalizeStringDictionary(QJsonValue(QJsonArray{1})).isEmpty());
    }

    void brokenWrapperDetection_data()
    {
        QTest::addColumn<QString>("content");
        QTest::addColumn<bool>("broken");
        QTest::newRow("markdown") << QStringLiteral("# Title\n{\"transformedContent\": \"x\"}") << false;
        QTest::newRow("wrapped") << QStringLiteral("\n  {\"transformedContent\": \"# T\"}") << true;
        QTest::newRow("content key") << QStringLiteral("{\"content\": \"# T\"}") << true;
        QTest::newRow("mention after 500")
            << QStringLiteral("{") + QString(500, u' ') + QStringLiteral("\"transformedContent\": \"x\"}")
            << false;
        // The 500 are user-perceived characters: 499 flags plus the brace fit.
        QString flags;
        for (int i = 0; i < 480; ++i)
            flags += QStringLiteral("🇯🇵");
        QTest::newRow("mention within 500 characters")
            << QStringLiteral("{") + flags + QStringLiteral("\"content\"") << true;
        QTest::newRow("no key") << QStringLiteral("{\"title\": \"x\"}") << false;
    }
    void brokenWrapperDetection()
    {
        QFETCH(QString, content);
        QFETCH(bool, broken);
        QCOMPARE(looksLikeBrokenTransformWrapper(content), broken);
    }

    void rescue_data()
    {
        QTest::addColumn<QString>("content");
        QTest::addColumn<OptString>("rescued");
        QTest::newRow("escapes decoded")
            << QStringLiteral("{\"transformedContent\": \"# T\\n\\nSay \\\"hi\\\" \\u00e9\", \"seoScore\": 3")
            << OptString(QStringLiteral("# T\n\nSay \"hi\" \u00e9"));
        QTest::newRow("prefers transformedContent")
            << QStringLiteral("{\"content\": \"other\", \"transformedContent\": \"main\"}")
            << OptString(QStringLiteral("main"));
        QTest::newRow("key ending in content") << QStringLiteral("{\"article_content\": \"body\", \"x\": 1}")
                                               << OptString(QStringLiteral("body"));
        QTest::newRow("raw line break kept")
            << QStringLiteral("{\"content\": \"a\nb\"}") << OptString(QStringLiteral("a\nb"));
        QTest::newRow("invalid escape verbatim")
            << QStringLiteral("{\"content\": \"a\\xb\"}") << OptString(QStringLiteral("a\\xb"));
        QTest::newRow("capital Content is not content")
            << QStringLiteral("{\"Content\": \"x\"}") << OptString();
        QTest::newRow("unterminated") << QStringLiteral("{\"content\": \"never closed") << OptString();
        QTest::newRow("escaped line break ends the value, later member found")
            << QStringLiteral("{\"content\": \"a\\\nb\", \"x_content\": \"c\"}") << OptString(QStringLiteral("c"));
        QTest::newRow("a start inside an escaped quote")
            << QStringLiteral("{\"x\": \"\\\"content\": \"in\"}") << OptString(QStringLiteral("in"));

        // Article-sized values: a backtracking engine gives up on these
        // and reads "no match"; every one must still be rescued whole.
        for (const qsizetype size : {qsizetype(50'000), qsizetype(2'000'000)}) {
            QString raw;
            QString decoded;
            const QString pieces[][2] = {
                {QStringLiteral("Plain words, "), QStringLiteral("Plain words, ")},
                {QStringLiteral("\\n"), QStringLiteral("\n")},
                {QStringLiteral("a \\\"quote\\\" "), QStringLiteral("a \"quote\" ")},
                {QStringLiteral("raw\nbreak "), QStringLiteral("raw\nbreak ")},
                {QStringLiteral("\u00e9t\u00e9 \u65e5\u672c 🙂 "), QStringLiteral("\u00e9t\u00e9 \u65e5\u672c 🙂 ")},
                {QStringLiteral("\\u00e9\\\\"), QStringLiteral("\u00e9\\")},
            };
            for (int i = 0; raw.size() < size; ++i) {
                raw += pieces[i % 6][0];
                decoded += pieces[i % 6][1];
            }
            const QString name = QString::number(size / 1000) + QStringLiteral(" KB");
            QTest::newRow(qPrintable(name + QStringLiteral(" transformedContent")))
                << QStringLiteral("{\"transformedContent\": \"") + raw + QStringLiteral("\", \"seoScore\": 1}")
                << OptString(decoded);
            QTest::newRow(qPrintable(name + QStringLiteral(" key ending in content")))
                << QStringLiteral("{\"body_content\": \"") + raw + QStringLiteral("\"}")
                << OptString(decoded);
        }
    }
    void rescue()
    {
        QFETCH(QString, content);
        QFETCH(OptString, rescued);
        QCOMPARE(rescueContentFromBrokenJson(content), rescued);
    }

    // The hand-written scan against the expressions themselves on random
    // texts made of the characters that matter to them.
    void rescueMatchesExpressions()
    {
        const QString atoms[] = {
            QStringLiteral("\""), QStringLiteral("\\"), QStringLiteral(":"), QStringLiteral(" "),
            QStringLiteral("\n"), QStringLiteral("\r"), QStringLiteral("\t"), QStringLiteral("\u2028"),
            QStringLiteral("\u0085"), QStringLiteral("\u00a0"), QStringLiteral("\u000b"), QStringLiteral("content"),
            QStringLiteral("transformedContent"), QStringLiteral("Content"), QStringLiteral("x"), QStringLiteral("é"),
            QStringLiteral("🙂"), QStringLiteral("\\u00e9"), QStringLiteral("\\n"), QStringLiteral("{"),
            QStringLiteral("\"content\": \""), QStringLiteral("\"a_transformedContent\":\""),
        };
        QRandomGenerator random(22);
        for (int round = 0; round < 20'000; ++round) {
            QString content;
            const int length = random.bounded(1, 40);
            for (int i = 0; i < length; ++i)
                content += atoms[random.bounded(int(std::size(atoms)))];
            if (rescueContentFromBrokenJson(content) != test::referenceRescue(content))
                QFAIL(qPrintable(QStringLiteral("differs from the expressions on: ") + content.toHtmlEscaped()));
        }
    }

    void quotedValues_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<OptString>("value");
        QTest::newRow("plain") << QStringLiteral("\"k\": \"v\"") << OptString(QStringLiteral("v"));
        QTest::newRow("tabs and spaces trimmed")
            << QStringLiteral("\"k\":\t \"v\" \t") << OptString(QStringLiteral("v"));
        QTest::newRow("line break not trimmed") << QStringLiteral("\"k\": \"v\"\n") << OptString();
        QTest::newRow("no colon") << QStringLiteral("\"k\" \"v\"") << OptString();
        QTest::newRow("not quoted") << QStringLiteral("\"k\": 12") << OptString();
        QTest::newRow("lone quote is the empty value") << QStringLiteral("\"k\": \"") << OptString(QString());
        QTest::newRow("empty value") << QStringLiteral("\"k\": \"\"") << OptString(QString());
        QTest::newRow("raw control characters")
            << QStringLiteral("\"k\": \"a\tb\u0001c\"") << OptString(QStringLiteral("a\tb\u0001c"));
        QTest::newRow("surrogate pair")
            << QStringLiteral("\"k\": \"\\ud83d\\ude42\"") << OptString(QStringLiteral("🙂"));
        QTest::newRow("lone surrogate verbatim")
            << QStringLiteral("\"k\": \"\\ud83d\"") << OptString(QStringLiteral("\\ud83d"));
        QTest::newRow("bare inner quote verbatim")
            << QStringLiteral("\"k\": \"a\"b\"") << OptString(QStringLiteral("a\"b"));
        QTest::newRow("escaped slash")
            << QStringLiteral("\"k\": \"a\\/b\"") << OptString(QStringLiteral("a/b"));
        QTest::newRow("first colon wins") << QStringLiteral("\"a:b\": \"v\"") << OptString();
    }
    void quotedValues()
    {
        QFETCH(QString, text);
        QFETCH(OptString, value);
        QCOMPARE(decodeQuotedJsonValue(text), value);
    }
};

QTEST_GUILESS_MAIN(TestJsonValues)
#include "tst_jsonvalues.moc"
