#include "support/Error.h"
#include "support/JsonDates.h"
#include "support/JsonParse.h"
#include "support/JsonRead.h"
#include "support/JsonWrite.h"
#include "support/Uuid.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QTest>

#include <optional>

#include "JsonTestUtil.h"

using namespace pendrel;
using L = QLatin1StringView;
using pendrel::test::decodingFailure;
using pendrel::test::q;

namespace {

struct Inner {
    bool flag = false;
    static Inner fromJson(const QJsonValue &v, const JsonDates &d)
    {
        return Inner{json::ObjectReader(v, d).requireBool(L("flag"))};
    }
};

QJsonValue parse(const char *text)
{
    return json::parseDocument(test::q(text));
}

// Qt's reading of a document: its root, or nothing when Qt refuses it.
std::optional<QJsonValue> qtReading(const QByteArray &bytes)
{
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &error);
    if (error.error != QJsonParseError::NoError)
        return std::nullopt;
    return document.isObject() ? QJsonValue(document.object()) : QJsonValue(document.array());
}

std::optional<QJsonValue> ourReading(const QByteArray &bytes)
{
    try {
        return json::parseDocument(bytes);
    } catch (const DecodingError &) {
        return std::nullopt;
    }
}

// Compact text tells integers from doubles, which QJsonValue's == does not.
QByteArray exactForm(const QJsonValue &root)
{
    return QJsonDocument(QJsonArray{root}).toJson(QJsonDocument::Compact);
}

// Empty when both readers agree on the document; otherwise what differs.
QString disagreement(const QByteArray &bytes)
{
    const std::optional<QJsonValue> qt = qtReading(bytes);
    const std::optional<QJsonValue> ours = ourReading(bytes);
    if (qt.has_value() != ours.has_value())
        return QStringLiteral("Qt %1, we %2: %3")
            .arg(QLatin1StringView(qt ? "accepts" : "refuses"), QLatin1StringView(ours ? "accept" : "refuse"),
                 QString::fromLatin1(bytes.toPercentEncoding()));
    if (qt && (*qt != *ours || exactForm(*qt) != exactForm(*ours)))
        return QStringLiteral("different values for %1: %2 against %3")
            .arg(QString::fromLatin1(bytes.toPercentEncoding()), QString::fromUtf8(exactForm(*qt)),
                 QString::fromUtf8(exactForm(*ours)));
    return {};
}

} // namespace

class TestJson : public QObject {
    Q_OBJECT

private slots:
    void errorPathNamesTheMember_data()
    {
        QTest::addColumn<QByteArray>("document");
        QTest::addColumn<QString>("expected");
        QTest::newRow("missing nested")
            << q("{'items':[{'flag':true},{'flag':true},{'flag':true},{}]}") << "items[3].flag: missing";
        QTest::newRow("wrong type") << q("{'items':[{'flag':'yes'}]}")
                                    << "items[0].flag: expected a boolean, found a string";
        QTest::newRow("null for required")
            << q("{'items':[{'flag':null}]}") << "items[0].flag: expected a boolean, found null";
        QTest::newRow("array is an object") << q("{'items':{}}") << "items: expected an array";
        QTest::newRow("element not an object")
            << q("{'items':[1]}") << "items[0]: expected an object, found a number";
        QTest::newRow("missing array") << q("{}") << "items: missing";
    }
    void errorPathNamesTheMember()
    {
        QFETCH(QByteArray, document);
        QFETCH(QString, expected);
        const auto dates = JsonDates::iso8601();
        const QJsonValue root = json::parseDocument(document);
        QCOMPARE(
            decodingFailure([&] { (void)json::ObjectReader(root, dates).requireArray<Inner>(L("items")); }),
            expected);
    }

    void optionalMembers()
    {
        const auto dates = JsonDates::iso8601();
        const json::ObjectReader r(parse(("{'a':null,'b':'x','c':3,'extra':{'ignored':true}}")), dates);
        QCOMPARE(r.optionalString(L("a")), std::nullopt);
        QCOMPARE(r.optionalString(L("b")), QStringLiteral("x"));
        QCOMPARE(r.optionalString(L("missing")), std::nullopt);
        // Present with the wrong type is still an error, not "absent".
        QCOMPARE(decodingFailure([&] { (void)r.optionalString(L("c")); }),
                 QStringLiteral("c: expected a string, found a number"));
    }

    void integersAreExact_data()
    {
        QTest::addColumn<QString>("value");
        QTest::addColumn<bool>("accepted");
        QTest::addColumn<qint64>("expected");
        QTest::newRow("whole") << "42" << true << qint64(42);
        QTest::newRow("negative") << "-1" << true << qint64(-1);
        QTest::newRow("whole written with fraction") << "5.0" << true << qint64(5);
        QTest::newRow("fraction") << "1.5" << false << qint64(0);
        QTest::newRow("string") << QStringLiteral("\"5\"") << false << qint64(0);
        QTest::newRow("bool") << "true" << false << qint64(0);
        QTest::newRow("beyond int") << "3000000000" << false << qint64(0);
        QTest::newRow("exponent") << "1e3" << true << qint64(1000);
    }
    void integersAreExact()
    {
        QFETCH(QString, value);
        QFETCH(bool, accepted);
        QFETCH(qint64, expected);
        const auto dates = JsonDates::iso8601();
        const QJsonValue root = json::parseDocument(("{\"n\":" + value + "}").toUtf8());
        const json::ObjectReader r(root, dates);
        if (accepted) {
            QCOMPARE(qint64(r.requireInt<int>(L("n"))), expected);
        } else {
            QVERIFY_THROWS_EXCEPTION(DecodingError, (void)r.requireInt<int>(L("n")));
        }
    }

    void largeIntegersKeepPrecision()
    {
        const auto dates = JsonDates::iso8601();
        const json::ObjectReader r(parse(("{'n':9007199254740993}")), dates);
        QCOMPARE(r.requireInt(L("n")), Q_INT64_C(9007199254740993));
    }

    void malformedDocuments_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("truncated") << q("{'a':");
        QTest::newRow("not json") << QByteArray("hello");
        QTest::newRow("trailing garbage") << q("{'a':1} x");
    }
    void malformedDocuments()
    {
        QFETCH(QByteArray, bytes);
        QVERIFY_THROWS_EXCEPTION(DecodingError, json::parseDocument(bytes));
    }

    // The reader must take exactly what QJsonDocument takes, with the same
    // values: a state file Qt could read must never be put aside.
    void parserAgreesWithQt_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        const auto row = [](const char *name, const QByteArray &bytes) { QTest::newRow(name) << bytes; };
        row("plain", q("{'a':[1,-2.5,true,false,null,'x',{}],'b':{'c':[]}}"));
        row("white space", "\r\n\t {\t\"a\" :\n[ 1 , 2 ]\r} \n");
        row("byte order mark", "\xEF\xBB\xBF[1]");
        row("empty input", "");
        row("top-level string", "\"x\"");
        row("top-level number", "1");
        row("garbage after", "[1] x");
        row("nul after", QByteArray("[1]\0", 4));
        row("trailing comma in array", "[1,]");
        row("trailing comma in object", q("{'a':1,}"));
        row("missing colon", q("{'a' 1}"));
        row("number key", "{1:2}");
        row("duplicate keys keep the last", q("{'a':1,'b':0,'a':2}"));
        row("truncated literal", "[tru]");
        row("long literal", "[nulll]");
        row("unterminated string", "[\"abc");
        row("unterminated escape", "[\"\\");
        row("every escape", "[\"\\\"\\\\\\/\\b\\f\\n\\r\\t\\u00e9\\u20AC\"]");
        row("unknown escape", "[\"\\x\\q\"]");
        row("escaped high byte", "[\"\\\x80\"]");
        row("escaped lead byte", "[\"\\\xC3\xA9\"]");
        row("bad hex", "[\"\\u12G4\"]");
        row("short hex", "[\"\\u12\"]");
        row("surrogate pair", "[\"\\uD83D\\uDE00\"]");
        row("lone surrogate", "[\"a\\ud800b\"]");
        row("raw control characters", QByteArray("[\"a\tb\x01" "c\0d\"]", 10));
        row("raw delete", "[\"a\x7f\"]");
        row("two-byte", "[\"caf\xC3\xA9\"]");
        row("three-byte", "[\"\xE2\x82\xAC\"]");
        row("four-byte", "[\"\xF0\x9F\x99\x82\"]");
        row("noncharacter", "[\"\xEF\xBF\xBF\"]");
        row("overlong", "[\"\xC0\xAF\"]");
        row("overlong three-byte", "[\"\xE0\x80\xAF\"]");
        row("encoded surrogate", "[\"\xED\xA0\x80\"]");
        row("encoded low surrogate", "[\"\xED\xB0\x80\"]");
        row("last before surrogates", "[\"\xED\x9F\xBF\"]");
        row("past U+10FFFF", "[\"\xF4\x90\x80\x80\"]");
        row("stray continuation", "[\"\x80\"]");
        row("cut sequence", "[\"\xE2\x82\"]");
        row("invalid byte", "[\"\xFF\"]");
        row("utf-8 in a key", "{\"\xC3\xA9\":1}");
        for (const char *number : {"0", "-0", "-0.0", "1.", "1.e5", ".5", "-.5", "-", "--1", "+1", "01", "-01", "00",
                                   "1e", "1.5e", "1.5e+", "1E+2", "1e02", "0e0", "1e400", "-1e400", "1e-400",
                                   "0x10", "Infinity", "NaN", "9223372036854775807", "9223372036854775808",
                                   "-9223372036854775808", "-9223372036854775809", "12345678901234567890",
                                   "100000000000000000000000000000000000000", "0.1", "1.7976931348623157e308"})
            row(number, QByteArray("[") + number + "]");
        row("number at the end", "[1");
        row("form feed is no space", "[\x0c" "1]");
        row("vertical tab is no space", "[1\x0b]");
        row("deepest nesting", QByteArray(1024, '[') + QByteArray(1024, ']'));
        row("too deep", QByteArray(1025, '[') + QByteArray(1025, ']'));
    }
    void parserAgreesWithQt()
    {
        QFETCH(QByteArray, bytes);
        const QString difference = disagreement(bytes);
        QVERIFY2(difference.isEmpty(), qPrintable(difference));
    }

    // Long strings go eight bytes at a time: an escape, a quote or a
    // multi-byte character at every position around those blocks, and
    // every cut and single-byte change of a small document.
    void parserAgreesWithQtOnVariants()
    {
        QStringList differences;
        const auto check = [&](const QByteArray &bytes) {
            const QString difference = disagreement(bytes);
            if (!difference.isEmpty())
                differences.append(difference);
        };
        for (const QByteArray &stop : {QByteArray("\\n"), QByteArray("\\\""), QByteArray("\\u00e9"),
                                          QByteArray("\xC3\xA9"), QByteArray("\xF0\x9F\x99\x82"),
                                          QByteArray("\x80"), QByteArray("\\")}) {
            for (int before = 0; before < 20; ++before) {
                for (int after = 0; after < 12; ++after)
                    check("[\"" + QByteArray(before, 'a') + stop + QByteArray(after, 'b') + "\"]");
            }
        }
        const QByteArray sample =
            q("{'id':'A1','n':[1,-2.5e3,true,null],'t':'caf\\u00e9 \\/ \\n','o':{'k':'\xF0\x9F\x99\x82'}}");
        for (qsizetype cut = 0; cut < sample.size(); ++cut)
            check(sample.left(cut));
        for (qsizetype at = 0; at < sample.size(); ++at) {
            for (const char replacement : {'"', '\\', '}', ']', ',', ':', ' ', '0', 'x', '\x80', '\0'}) {
                QByteArray changed = sample;
                changed[at] = replacement;
                check(changed);
            }
        }
        QVERIFY2(differences.isEmpty(), qPrintable(differences.mid(0, 5).join(u'\n')));
    }

    // A second reader from any byte of the array on gives the answer of
    // one reader: its elements are taken only where the first arrives at
    // exactly that byte.
    void splitReadingGivesTheSameAnswer_data()
    {
        QTest::addColumn<QByteArray>("document");
        const QByteArray good =
            "{\n  \"jobs\" : [\n    {\n      \"a\" : \"x\\\"]y\",\n      \"n\" : [1, {\"b\" : null}]\n"
            "    },\n    {\"a\" : \"\\u00e9\"},\n    [2],\n    \"s\"\n  ],\n  \"z\" : 1\n}\n";
        QTest::newRow("good") << good;
        QTest::newRow("a fault after the array") << QByteArray(good).replace("\"z\" : 1", "\"z\" : ]");
        QTest::newRow("a fault in the last element") << QByteArray(good).replace("[2]", "[2,]");
        QTest::newRow("the array twice") << QByteArray("{\"jobs\":[1,{\"a\":2}],\"jobs\":[3, [4]],\"z\":0}");
    }
    void splitReadingGivesTheSameAnswer()
    {
        QFETCH(QByteArray, document);
        const auto read = [&document](std::optional<qsizetype> from) {
            QList<QByteArray> elements;
            QList<QByteArray> second;
            const auto element = [](QList<QByteArray> &into) {
                return [&into](const QJsonValue &, QByteArrayView bytes, const json::ElementParts &) {
                    into.append(bytes.toByteArray());
                };
            };
            const json::RootArrayReader reader{L("jobs"),         [&] { elements.clear(); },  {}, {}, {}, {},
                                               element(elements), [&] { elements += second; }};
            const json::RootArrayReader other{L("jobs"), [] {}, {}, {}, {}, {}, element(second), {}};
            QString answer;
            try {
                const QJsonValue root = from ? json::parseJson(document, reader, other, *from)
                                             : json::parseJson(document, reader);
                answer = QString::fromUtf8(QJsonDocument(root.toObject()).toJson(QJsonDocument::Compact));
            } catch (const DecodingError &e) {
                answer = e.description();
            }
            return std::pair(answer, elements);
        };
        const auto whole = read(std::nullopt);
        QVERIFY(whole.second.size() >= 2);
        for (qsizetype from = 0; from <= document.size(); ++from) {
            const auto split = read(from);
            QVERIFY2(split == whole,
                     qPrintable(QStringLiteral("second reader from byte %1: %2 and %3 elements")
                                    .arg(from)
                                    .arg(split.first)
                                    .arg(split.second.size())));
        }
    }

    void isoDates_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("utc"); // empty: must be rejected
        QTest::newRow("Z") << "2026-12-07T07:46:26Z"
                           << "2026-12-07T07:46:26Z";
        QTest::newRow("positive offset") << "2026-12-07T09:46:26+02:00"
                                         << "2026-12-07T07:46:26Z";
        QTest::newRow("negative offset") << "2026-12-07T02:16:26-05:30"
                                         << "2026-12-07T07:46:26Z";
        QTest::newRow("offset crosses midnight") << "2026-12-31T23:30:00-01:00"
                                                 << "2027-01-01T00:30:00Z";
        QTest::newRow("fraction") << "2026-12-07T07:46:26.123Z"
                                  << "";
        QTest::newRow("no zone") << "2026-12-07T07:46:26"
                                 << "";
        QTest::newRow("lower-case z") << "2026-12-07T07:46:26z"
                                      << "";
        QTest::newRow("offset without colon") << "2026-12-07T07:46:26+0200"
                                              << "";
        QTest::newRow("space for T") << "2026-12-07 07:46:26Z"
                                     << "";
        QTest::newRow("no such day") << "2026-02-30T07:46:26Z"
                                     << "";
        QTest::newRow("hour 24") << "2026-12-07T24:00:00Z"
                                 << "";
        QTest::newRow("date only") << "2026-12-07"
                                   << "";
        QTest::newRow("empty") << ""
                               << "";
    }
    void isoDates()
    {
        QFETCH(QString, text);
        QFETCH(QString, utc);
        const auto dates = JsonDates::iso8601();
        if (utc.isEmpty()) {
            QVERIFY_THROWS_EXCEPTION(DecodingError, (void)dates.decode(text));
            return;
        }
        const QDateTime decoded = dates.decode(text);
        QCOMPARE(decoded.toUTC(), QDateTime::fromString(utc, Qt::ISODate));
        QCOMPARE(dates.encode(decoded).toString(), utc);
    }

    void isoWritingDropsFractionsAndConvertsToUtc()
    {
        const QDateTime local(QDate(2026, 3, 1), QTime(1, 2, 3, 999), Qt::OffsetFromUTC, 3600);
        QCOMPARE(JsonDates::iso8601().encode(local).toString(), QStringLiteral("2026-03-01T00:02:03Z"));
        QCOMPARE(JsonDates::iso8601().encode(QDateTime(QDate(42, 1, 1), QTime(0, 0), Qt::UTC)).toString(),
                 QStringLiteral("0042-01-01T00:00:00Z"));
        QVERIFY_THROWS_EXCEPTION(DecodingError, (void)JsonDates::iso8601().decode(QJsonValue(12.0)));
    }

    void referenceDateSeconds()
    {
        const auto dates = JsonDates::secondsSinceReferenceDate();
        const QDateTime reference(QDate(2001, 1, 1), QTime(0, 0), Qt::UTC);
        QCOMPARE(dates.encode(reference).toDouble(), 0.0);
        QCOMPARE(dates.encode(reference.addMSecs(1500)).toDouble(), 1.5);
        QCOMPARE(dates.encode(reference.addSecs(-60)).toDouble(), -60.0);
        QCOMPARE(dates.decode(QJsonValue(86400.25)), reference.addMSecs(86400250));
        QVERIFY_THROWS_EXCEPTION(DecodingError, (void)dates.decode(QJsonValue(QStringLiteral("0"))));
        QVERIFY_THROWS_EXCEPTION(DecodingError, (void)dates.decode(QJsonValue(1e300)));
    }

    void uuids_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("valid");
        QTest::newRow("upper") << "3F2504E0-4F89-11D3-9A0C-0305E82C3301" << true;
        QTest::newRow("lower") << "3f2504e0-4f89-11d3-9a0c-0305e82c3301" << true;
        QTest::newRow("braces") << "{3F2504E0-4F89-11D3-9A0C-0305E82C3301}" << false;
        QTest::newRow("no hyphens") << "3F2504E04F8911D39A0C0305E82C3301" << false;
        QTest::newRow("trailing blank") << "3F2504E0-4F89-11D3-9A0C-0305E82C330 " << false;
        QTest::newRow("hyphen misplaced") << "3F2504E04-F89-11D3-9A0C-0305E82C3301" << false;
        QTest::newRow("not hex") << "3G2504E0-4F89-11D3-9A0C-0305E82C3301" << false;
    }
    void uuids()
    {
        QFETCH(QString, text);
        QFETCH(bool, valid);
        const auto parsed = parseUuid(text);
        QCOMPARE(parsed.has_value(), valid);
        if (valid)
            QCOMPARE(uuidString(*parsed), text.toUpper());
    }

    void writerFormat()
    {
        const QJsonObject doc{
            {L("b"), QJsonObject{{L("z"), 1}, {L("a"), QJsonArray{true, QJsonValue::Null, 2.5}}}},
            {L("a"), QStringLiteral("http://x/y")},
            {L("empty"), QJsonObject()},
            {L("list"), QJsonArray()},
        };
        const QByteArray expected = "{\n"
                                    "  \"a\" : \"http:\\/\\/x\\/y\",\n"
                                    "  \"b\" : {\n"
                                    "    \"a\" : [\n"
                                    "      true,\n"
                                    "      null,\n"
                                    "      2.5\n"
                                    "    ],\n"
                                    "    \"z\" : 1\n"
                                    "  },\n"
                                    "  \"empty\" : {},\n"
                                    "  \"list\" : []\n"
                                    "}\n";
        QCOMPARE(json::writeSorted(doc), expected);
    }

    void writerStrings_data()
    {
        QTest::addColumn<QString>("value");
        QTest::addColumn<QByteArray>("written");
        QTest::newRow("quote and backslash") << QStringLiteral("a\"b\\c") << QByteArray("\"a\\\"b\\\\c\"");
        QTest::newRow("controls") << QStringLiteral("\n\t\r\b\f") << QByteArray("\"\\n\\t\\r\\b\\f\"");
        QTest::newRow("other control") << QString(QChar(0x01)) << QByteArray("\"\\u0001\"");
        QTest::newRow("unicode raw") << QStringLiteral("Español 日本 🇯🇵")
                                     << QStringLiteral("\"Español 日本 🇯🇵\"").toUtf8();
        QTest::newRow("slash") << QStringLiteral("a/b") << QByteArray("\"a\\/b\"");
    }
    void writerStrings()
    {
        QFETCH(QString, value);
        QFETCH(QByteArray, written);
        QCOMPARE(json::writeSorted(QJsonValue(value)), written + '\n');
        // Qt's reader takes the escaped slash back as a plain one.
        const QJsonObject back = json::parseDocument("{\"k\":" + written + "}").toObject();
        QCOMPARE(back.value(L("k")).toString(), value);
    }

    // Runs are copied whole and non-ASCII runs converted at once: the bytes
    // must be those of converting the text character by character and
    // escaping byte by byte; a surrogate without its partner is escaped, and
    // both readers (ours and Qt's) give the text back unit for unit.
    void writerStringsInRuns_data()
    {
        QTest::addColumn<QString>("value");
        const QChar high(0xD83D), low(0xDE42);
        QTest::newRow("empty") << QString();
        QTest::newRow("mixed") << QStringLiteral("a/b \"c\" caf\u00e9\n\u65e5\u672c\t\U0001F642 end\\");
        QTest::newRow("high at the end") << QStringLiteral("ab") + high;
        QTest::newRow("high before ascii") << QStringLiteral("a") + high + QStringLiteral("b");
        QTest::newRow("high before non-ascii") << high + QStringLiteral("\u00e9");
        QTest::newRow("low alone") << QStringLiteral("a") + low + QStringLiteral("b");
        QTest::newRow("reversed pair") << QString(low) + high;
        QTest::newRow("two highs then low") << QString(high) + high + low;
        QString controls;
        for (char16_t c = 0; c < 0x20; ++c)
            controls += QChar(c) + QStringLiteral("x");
        QTest::newRow("every control") << controls;
    }
    void writerStringsInRuns()
    {
        QFETCH(QString, value);
        QByteArray utf8;
        for (qsizetype i = 0; i < value.size(); ++i) {
            const QChar c = value.at(i);
            if (c.isHighSurrogate() && i + 1 < value.size() && value.at(i + 1).isLowSurrogate()) {
                utf8 += value.mid(i++, 2).toUtf8();
            } else if (c.isSurrogate()) {
                utf8 += "\x01" + QByteArray::number(c.unicode(), 16); // escaped below
            } else {
                utf8 += QString(c).toUtf8();
            }
        }
        QByteArray expected = "\"";
        for (qsizetype i = 0; i < utf8.size(); ++i) {
            const char c = utf8.at(i);
            if (c == '\x01' && i + 4 < utf8.size() && utf8.at(i + 1) == 'd') {
                expected += "\\u" + utf8.mid(i + 1, 4);
                i += 4;
                continue;
            }
            const auto u = static_cast<unsigned char>(c);
            if (u == '"' || u == '\\' || u == '/')
                expected += '\\' + QByteArray(1, c);
            else if (const qsizetype at = QByteArray("\b\f\n\r\t").indexOf(c); at >= 0)
                expected += '\\' + QByteArray(1, "bfnrt"[at]);
            else if (u < 0x20)
                expected += "\\u00" + QByteArray::number(u, 16).rightJustified(2, '0');
            else
                expected += c;
        }
        expected += '"';
        QCOMPARE(json::writeSorted(QJsonValue(value)), expected + '\n');
        const QByteArray document = "[" + expected + "]";
        QCOMPARE(json::parseJson(document).toArray().at(0).toString(), value);
        QCOMPARE(QJsonDocument::fromJson(document).array().at(0).toString(), value);
    }

    // Whether an escape is the one the writer uses: the loader copies texts
    // that are wholly in the writer's form instead of writing them again.
    void writersEscapes_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<int>("length");
        QTest::newRow("short form") << QByteArray("\\n") << 2;
        QTest::newRow("control") << QByteArray("\\u001f") << 6;
        QTest::newRow("control with a short form") << QByteArray("\\u000a") << 0;
        QTest::newRow("upper-case hex") << QByteArray("\\u001F") << 0;
        QTest::newRow("letter") << QByteArray("\\u00e9") << 0;
        QTest::newRow("lone high") << QByteArray("\\ud83dx") << 6;
        QTest::newRow("lone high at the end") << QByteArray("\\ud83d") << 6;
        QTest::newRow("lone low") << QByteArray("\\ude00") << 6;
        QTest::newRow("high before high") << QByteArray("\\ud83d\\ud83d") << 6;
        QTest::newRow("low before low") << QByteArray("\\ude00\\ude00") << 6;
        QTest::newRow("escaped pair") << QByteArray("\\ud83d\\ude00") << 0;
        QTest::newRow("upper-case surrogate") << QByteArray("\\uD83D") << 0;
    }
    void writersEscapes()
    {
        QFETCH(QByteArray, text);
        QFETCH(int, length);
        QCOMPARE(json::writersEscapeLength(text), qsizetype(length));
    }

    // The one place the reader does not give Qt's values: a raw byte order
    // mark at the start of a string is kept (the text as written), where Qt
    // drops it. Only at the very start of the document is it skipped.
    void byteOrderMarkInAString()
    {
        const QByteArray document = "[\"\xEF\xBB\xBFx\", \"a\xEF\xBB\xBF\"]";
        const QJsonArray ours = json::parseJson(document).toArray();
        QCOMPARE(ours.at(0).toString(), QStringLiteral("\uFEFFx"));
        QCOMPARE(ours.at(1).toString(), QStringLiteral("a\uFEFF"));
        const QJsonArray qts = QJsonDocument::fromJson(document).array();
        QCOMPARE(qts.at(0).toString(), QStringLiteral("x"));
        QCOMPARE(qts.at(1).toString(), QStringLiteral("a\uFEFF"));
        QCOMPARE(json::parseJson("\xEF\xBB\xBF[\"x\"]").toArray().at(0).toString(), QStringLiteral("x"));
    }

    void writerNumbers_data()
    {
        QTest::addColumn<double>("value");
        QTest::addColumn<QByteArray>("written");
        QTest::newRow("whole") << 87.0 << QByteArray("87");
        QTest::newRow("negative") << -3.0 << QByteArray("-3");
        QTest::newRow("fraction") << 0.1 << QByteArray("0.1");
        QTest::newRow("shortest") << 1.0 / 3.0 << QByteArray("0.3333333333333333");
        QTest::newRow("not finite") << qInf() << QByteArray("null");
        QTest::newRow("minus infinity") << -qInf() << QByteArray("null");
        QTest::newRow("not a number") << qQNaN() << QByteArray("null");
        QTest::newRow("lowest whole") << -9223372036854775808.0 << QByteArray("-9223372036854775808");
    }
    void writerNumbers()
    {
        QFETCH(double, value);
        QFETCH(QByteArray, written);
        QCOMPARE(json::writeSorted(QJsonValue(value)), written + '\n');
    }

    void writerSortsByCodePoint()
    {
        // U+FF21 is above U+E000, the emoji is a supplementary character:
        // in code point order the emoji comes last, in UTF-16 order it would not.
        const QJsonObject doc{
            {QStringLiteral("\uFF21"), 1}, {QStringLiteral("🙂"), 2}, {L("Z"), 3}, {L("a"), 4}};
        const QByteArray out = json::writeSorted(doc);
        const qsizetype z = out.indexOf("\"Z\""), a = out.indexOf("\"a\"");
        const qsizetype full = out.indexOf(QStringLiteral("\uFF21").toUtf8());
        const qsizetype emoji = out.indexOf(QStringLiteral("🙂").toUtf8());
        QVERIFY(z < a && a < full && full < emoji);
    }

    void writerRoundTrip()
    {
        QJsonObject doc;
        for (int i = 0; i < 50; ++i)
            doc.insert(QString::number(i * 7919 % 101),
                       QJsonArray{i, QString::number(i), QJsonObject{{L("k"), i}}});
        const QByteArray written = json::writeSorted(doc);
        QCOMPARE(QJsonDocument::fromJson(written).object(), doc);
    }
};

QTEST_GUILESS_MAIN(TestJson)
#include "tst_json.moc"
