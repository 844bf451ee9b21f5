#include "shell/VersionComparison.h"

#include <QTest>

using namespace pendrel;

// The order of release versions, checked both ways round so that a
// comparison that is not antisymmetric fails.
class TestVersionComparison : public QObject {
    Q_OBJECT

private slots:
    void order_data()
    {
        QTest::addColumn<QString>("older");
        QTest::addColumn<QString>("newer");
        QTest::addColumn<bool>("equal");
        const auto row = [](const char *name, const char *a, const char *b, bool equal = false) {
            QTest::newRow(name) << QString::fromLatin1(a) << QString::fromLatin1(b) << equal;
        };
        row("padding", "1.0", "1.0.0", true);
        row("padding twice", "2", "2.0.0.0", true);
        row("dash ends", "2.0-beta", "2.0", true);
        row("dash ends, numbers", "1.4-7", "1.4-2", true);
        row("numeric, not textual", "1.9", "1.10");
        row("numeric with leading zeros", "1.09", "1.10");
        row("huge numbers", "1.99999999999999999998", "1.99999999999999999999");
        row("beta numbers", "1.0b9", "1.0b10");
        row("alpha before beta", "1.0a1", "1.0b1");
        row("pre-release before release", "1.0b1", "1.0");
        row("pre-release before padded release", "1.0rc2", "1.0.0");
        row("patch", "1.0", "1.0.1");
        row("major", "1.9.9", "2");
        row("same", "3.1.4", "3.1.4", true);
        row("letters compared", "1.0a", "1.0b");
        row("number beats separator", "1..2", "1.0.2");
        row("empty is oldest", "", "0.1");
    }
    void order()
    {
        QFETCH(QString, older);
        QFETCH(QString, newer);
        QFETCH(bool, equal);
        const int forward = VersionComparison::compare(older, newer);
        const int backward = VersionComparison::compare(newer, older);
        if (equal) {
            QCOMPARE(forward, 0);
            QCOMPARE(backward, 0);
        } else {
            QVERIFY2(forward < 0, qPrintable(older + QStringLiteral(" < ") + newer));
            QVERIFY2(backward > 0, qPrintable(newer + QStringLiteral(" > ") + older));
        }
        QCOMPARE(VersionComparison::compare(older, older), 0);
    }
};

QTEST_GUILESS_MAIN(TestVersionComparison)
#include "tst_versioncomparison.moc"
