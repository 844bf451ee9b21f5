#include "model/Clip.h"
#include "platform/QtClipboardReader.h"
#include "support/Error.h"
#include "support/JsonRead.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QImage>
#include <QMimeData>
#include <QTest>

using namespace pendrel;
using L = QLatin1StringView;

class TestClip : public QObject {
    Q_OBJECT

    QtClipboardReader reader;
    ClipboardCaptureService capture{reader};

private slots:
    void captureTrimsClipboardText_data()
    {
        QTest::addColumn<QString>("clipboard");
        QTest::addColumn<QString>("text");
        QTest::newRow("blanks around two words")
            << QStringLiteral("   two words \n") << QStringLiteral("two words");
        QTest::newRow("inner layout untouched")
            << QStringLiteral("\nLine 1\r\n\tLine 2  \n") << QStringLiteral("Line 1\r\n\tLine 2");
        QTest::newRow("case and length kept") << QString(10000, u'X') << QString(10000, u'X');
    }
    void captureTrimsClipboardText()
    {
        QFETCH(QString, clipboard);
        QFETCH(QString, text);
        QGuiApplication::clipboard()->setText(clipboard);
        const QDateTime before = QDateTime::currentDateTimeUtc();
        const auto clip = capture.captureClip();
        QVERIFY(clip);
        QCOMPARE(clip->text, text);
        QCOMPARE(clip->type, ClipType::clipboard);
        QCOMPARE(clip->url, QString());
        QCOMPARE(clip->title, QStringLiteral("Clipboard"));
        QCOMPARE(clip->author, std::nullopt);
        QVERIFY(!clip->id.isNull());
        QVERIFY(clip->createdAt >= before.addMSecs(-1) && clip->createdAt <= QDateTime::currentDateTimeUtc());
    }

    void captureGivesNothingWithoutText_data()
    {
        QTest::addColumn<int>("content");
        QTest::newRow("blanks, tabs and line breaks") << 0;
        QTest::newRow("image only") << 1;
        QTest::newRow("html without plain text") << 2;
        QTest::newRow("empty") << 3;
        QTest::newRow("a copied file") << 4;
    }
    void captureGivesNothingWithoutText()
    {
        QFETCH(int, content);
        QClipboard *clipboard = QGuiApplication::clipboard();
        switch (content) {
        case 0:
            clipboard->setText(QStringLiteral(" \t\n \r\n\u00A0"));
            break;
        case 1: {
            QImage image(4, 4, QImage::Format_RGB32);
            image.fill(Qt::red);
            clipboard->setImage(image);
            break;
        }
        case 2: {
            auto *data = new QMimeData;
            data->setHtml(QStringLiteral("<b>bold</b>"));
            clipboard->setMimeData(data);
            break;
        }
        case 4: {
            // What a file manager puts there: references, no text of its own.
            auto *data = new QMimeData;
            data->setUrls({QUrl::fromLocalFile(QStringLiteral("/home/user/notes.txt"))});
            clipboard->setMimeData(data);
            break;
        }
        default:
            clipboard->clear();
        }
        QCOMPARE(capture.captureClip(), std::nullopt);
    }

    void captureReadsPlainTextVariants_data()
    {
        QTest::addColumn<QString>("format");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("withFile");
        QTest::addColumn<QString>("text");
        QTest::newRow("utf-8 charset") << "text/plain;charset=utf-8" << QByteArray("h\xc3\xa9llo") << false
                                       << QStringLiteral("h\u00e9llo");
        QTest::newRow("latin-1 charset") << "text/plain;charset=ISO-8859-1" << QByteArray("h\xe9llo") << false
                                         << QStringLiteral("h\u00e9llo");
        QTest::newRow("text beside a file reference")
            << "text/plain" << QByteArray("notes.txt") << true << QStringLiteral("notes.txt");
    }
    void captureReadsPlainTextVariants()
    {
        QFETCH(QString, format);
        QFETCH(QByteArray, bytes);
        QFETCH(bool, withFile);
        QFETCH(QString, text);
        auto *data = new QMimeData;
        data->setData(format, bytes);
        if (withFile)
            data->setUrls({QUrl::fromLocalFile(QStringLiteral("/home/user/other.txt"))});
        QGuiApplication::clipboard()->setMimeData(data);
        const auto clip = capture.captureClip();
        QVERIFY(clip);
        QCOMPARE(clip->text, text);
    }

    void twoCapturesAreDistinctClips()
    {
        QGuiApplication::clipboard()->setText(QStringLiteral("same text"));
        const auto first = capture.captureClip();
        QTest::qWait(2);
        const auto second = capture.captureClip();
        QVERIFY(first && second);
        QCOMPARE(first->text, second->text);
        QVERIFY(first->id != second->id);
        QVERIFY(first->createdAt != second->createdAt);
        QVERIFY(!(*first == *second));
    }

    void webAddressClip()
    {
        const auto clip = ClipPayload::webAddress(QStringLiteral("Example.com/Path"));
        QCOMPARE(clip.type, ClipType::url);
        QCOMPARE(clip.url, QStringLiteral("Example.com/Path"));
        QCOMPARE(clip.text, QString());
        QCOMPARE(clip.title, QStringLiteral("URL"));
        QCOMPARE(clipTypeLabel(clip.type), QStringLiteral("URL"));
    }

    void jsonRoundTrip_data()
    {
        QTest::addColumn<ClipType>("type");
        QTest::addColumn<std::optional<QString>>("author");
        QTest::newRow("clipboard without author") << ClipType::clipboard << std::optional<QString>();
        QTest::newRow("selection with author")
            << ClipType::selection << std::optional<QString>(QStringLiteral("Ann"));
        QTest::newRow("tweet, empty author") << ClipType::tweet << std::optional<QString>(QString());
        QTest::newRow("url") << ClipType::url << std::optional<QString>();
    }
    void jsonRoundTrip()
    {
        QFETCH(ClipType, type);
        QFETCH(std::optional<QString>, author);
        const auto dates = JsonDates::iso8601();
        ClipPayload clip = ClipPayload::clipboardText(QStringLiteral("text/with/slashes"));
        clip.type = type;
        clip.author = author;
        clip.createdAt = QDateTime(QDate(2026, 1, 2), QTime(3, 4, 5), Qt::UTC);
        const QJsonObject o = clip.toJson(dates);
        QCOMPARE(o.contains(L("author")), author.has_value());
        QCOMPARE(o.value(L("type")).toString(), enumString(type));
        QCOMPARE(o.value(L("id")).toString(), uuidStringOf(clip));
        QCOMPARE(ClipPayload::fromJson(o, dates), clip);
    }

    void emptyAuthorDiffersFromNone()
    {
        ClipPayload a = ClipPayload::clipboardText(QStringLiteral("x"));
        ClipPayload b = a;
        b.author = QString();
        QVERIFY(!(a == b));
    }

    void strictDecoding_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QJsonValue>("value"); // undefined: remove the key
        QTest::addColumn<QString>("error");    // empty: must decode
        QTest::newRow("type note") << "type" << QJsonValue(QStringLiteral("note"))
                                   << "type: unknown value \"note\"";
        QTest::newRow("type missing") << "type" << QJsonValue(QJsonValue::Undefined) << "type: missing";
        QTest::newRow("url missing") << "url" << QJsonValue(QJsonValue::Undefined) << "url: missing";
        QTest::newRow("url null") << "url" << QJsonValue(QJsonValue::Null)
                                  << "url: expected a string, found null";
        QTest::newRow("author null") << "author" << QJsonValue(QJsonValue::Null) << "";
        QTest::newRow("bad date") << "createdAt" << QJsonValue(QStringLiteral("yesterday"))
                                  << "createdAt: invalid date \"yesterday\"";
        QTest::newRow("bad id") << "id" << QJsonValue(QStringLiteral("1234")) << "id: invalid UUID \"1234\"";
    }
    void strictDecoding()
    {
        QFETCH(QString, key);
        QFETCH(QJsonValue, value);
        QFETCH(QString, error);
        const auto dates = JsonDates::iso8601();
        QJsonObject o = ClipPayload::clipboardText(QStringLiteral("x")).toJson(dates);
        if (value.isUndefined())
            o.remove(key);
        else
            o.insert(key, value);
        try {
            const ClipPayload clip = ClipPayload::fromJson(o, dates);
            QVERIFY2(error.isEmpty(), "decoded although it should not");
            QCOMPARE(clip.author, std::nullopt);
        } catch (const DecodingError &e) {
            QCOMPARE(e.description(), error);
        }
    }

private:
    static QString uuidStringOf(const ClipPayload &clip)
    {
        return clip.id.toString(QUuid::WithoutBraces).toUpper();
    }
};

QTEST_MAIN(TestClip)
#include "tst_clip.moc"
