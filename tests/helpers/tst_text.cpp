#include "support/Text.h"

#include <QTest>

using namespace pendrel;

class TestText : public QObject {
    Q_OBJECT

private slots:
    void trimming_data()
    {
        QTest::addColumn<QString>("input");
        QTest::addColumn<QString>("expected");
        QTest::newRow("blanks and newline")
            << QStringLiteral("  two words \n") << QStringLiteral("two words");
        QTest::newRow("inner whitespace kept")
            << QStringLiteral("\ta \t\n b\r\n") << QStringLiteral("a \t\n b");
        QTest::newRow("no-break space") << QStringLiteral("\u00A0x\u00A0") << QStringLiteral("x");
        QTest::newRow("line and paragraph separators")
            << QStringLiteral("\u2028x\u2029") << QStringLiteral("x");
        QTest::newRow("next line and ideographic space")
            << QStringLiteral("\u0085x\u3000") << QStringLiteral("x");
        QTest::newRow("vertical tab and form feed") << QStringLiteral("\u000Bx\u000C") << QStringLiteral("x");
        // Zero-width space is a format character, not white space.
        QTest::newRow("zero-width space stays") << QStringLiteral("\u200Bx") << QStringLiteral("\u200Bx");
        QTest::newRow("only whitespace") << QStringLiteral(" \t\n\r ") << QString();
    }
    void trimming()
    {
        QFETCH(QString, input);
        QFETCH(QString, expected);
        QCOMPARE(text::trimmed(input), expected);
    }

    void characterCounting_data()
    {
        QTest::addColumn<QString>("input");
        QTest::addColumn<qsizetype>("count");
        QTest::newRow("ascii") << QStringLiteral("hello world") << qsizetype(11);
        QTest::newRow("empty") << QString() << qsizetype(0);
        QTest::newRow("flag") << QStringLiteral("🇯🇵") << qsizetype(1);
        QTest::newRow("combining accent") << QStringLiteral("e\u0301te\u0301") << qsizetype(3);
        QTest::newRow("crlf is one") << QStringLiteral("a\r\nb") << qsizetype(3);
        QTest::newRow("zwj family") << QStringLiteral("👨‍👩‍👧") << qsizetype(1);
        QTest::newRow("cjk") << QStringLiteral("日本語") << qsizetype(3);
        QTest::newRow("hangul jamo") << QStringLiteral("\u1100\u1161\u11A8") << qsizetype(1);
    }
    void characterCounting()
    {
        QFETCH(QString, input);
        QFETCH(qsizetype, count);
        QCOMPARE(text::characterCount(input), count);
    }

    void characterPrefix_data()
    {
        QTest::addColumn<QString>("input");
        QTest::addColumn<int>("count");
        QTest::addColumn<QString>("expected");
        QTest::newRow("ascii") << QStringLiteral("abcdef") << 3 << QStringLiteral("abc");
        QTest::newRow("flags are not split") << QStringLiteral("🇯🇵🇺🇸x") << 1 << QStringLiteral("🇯🇵");
        QTest::newRow("accent stays with its letter")
            << QStringLiteral("e\u0301x") << 1 << QStringLiteral("e\u0301");
        QTest::newRow("longer than text") << QStringLiteral("ab") << 10 << QStringLiteral("ab");
        QTest::newRow("zero") << QStringLiteral("ab") << 0 << QString();
    }
    void characterPrefix()
    {
        QFETCH(QString, input);
        QFETCH(int, count);
        QFETCH(QString, expected);
        QCOMPARE(text::characterPrefix(input, count), expected);
    }

    void splitting_data()
    {
        QTest::addColumn<QString>("input");
        QTest::addColumn<QStringList>("words");
        QTest::newRow("runs of blanks")
            << QStringLiteral("  one  two\tthree\n") << QStringList{"one", "two", "three"};
        QTest::newRow("no-break and ideographic spaces")
            << QStringLiteral("a\u00A0b\u3000c") << QStringList{"a", "b", "c"};
        QTest::newRow("empty") << QString() << QStringList{};
        QTest::newRow("only blanks") << QStringLiteral("   ") << QStringList{};
        QTest::newRow("punctuation is not a separator") << QStringLiteral("a,b") << QStringList{"a,b"};
    }
    void splitting()
    {
        QFETCH(QString, input);
        QFETCH(QStringList, words);
        QCOMPARE(text::splitAtWhitespace(input), words);
        QCOMPARE(text::wordCount(input), words.size());
    }

    void regexWhitespaceRemoval_data()
    {
        QTest::addColumn<QString>("input");
        QTest::addColumn<QString>("expected");
        QTest::newRow("ascii blanks") << QStringLiteral("a b\tc\nd\re\ff") << QStringLiteral("abcdef");
        QTest::newRow("unicode spaces")
            << QStringLiteral("日\u3000本\u00A0語\u2028x") << QStringLiteral("日本語x");
        // ICU's \s is [\t\n\f\r\p{Z}]: vertical tab and U+0085 are not in it.
        QTest::newRow("vertical tab and next line stay")
            << QStringLiteral("a\u000Bb\u0085c") << QStringLiteral("a\u000Bb\u0085c");
    }
    void regexWhitespaceRemoval()
    {
        QFETCH(QString, input);
        QFETCH(QString, expected);
        QCOMPARE(text::removingRegexWhitespace(input), expected);
    }
};

QTEST_GUILESS_MAIN(TestText)
#include "tst_text.moc"
