#include "state/PersistenceStore.h"
#include "support/Error.h"
#include "support/Tasks.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include "AppStateHarness.h"
#include "StateSamples.h"
#include "TestFiles.h"

using namespace pendrel;
using namespace pendrel::test;

namespace {

const QString kDev = QStringLiteral("com.pendrel.publisher.dev");
const QRegularExpression kAside(QStringLiteral("^clipper-state\\.json\\.unreadable-\\d{8}T\\d{6}Z$"));

// A document with every member the reader knows, small enough to mutate
// hundreds of times.
PersistedState goodState()
{
    return richState(2, 300, 2);
}

const QByteArray &goodDocument()
{
    static const QByteArray bytes = goodState().encode();
    return bytes;
}

// The legacy file is never consulted while the current one exists, readable or not.
const QByteArray &legacyDocument()
{
    static const QByteArray bytes = [] {
        PersistedState legacy = richState(1, 100, 1);
        legacy.settings.authorName = QStringLiteral("from the legacy file");
        return legacy.encode();
    }();
    return bytes;
}

// One store and folder for many cases, as creating folders for each costs
// more than the case itself; every case starts from an empty state folder.
class Scratch {
public:
    Scratch() : store_(dir_.filePath(QStringLiteral("share/PendrelPublisher")), kDev)
    {
        writeFile(store_.legacyFilePath(), legacyDocument());
    }

    // Starts the store on `bytes` in the current file's place, as the
    // application does (on the store's thread). Gives what went wrong, or
    // nothing when the file was refused the way a bad file must be: the
    // default state, the bytes kept aside unchanged under the documented
    // name, no file left in place, the legacy file untouched.
    QString refusal(const QByteArray &bytes)
    {
        if (!clear() || !writeFile(store_.currentFilePath(), bytes))
            return QStringLiteral("could not write the file");
        const PersistedState loaded = blockingWait(store_.loadState());
        if (!(loaded == PersistedState{}))
            return QStringLiteral("loaded a state that is not the default one");
        if (QFileInfo::exists(store_.currentFilePath()))
            return QStringLiteral("the bad file is still in place");
        const QStringList entries = folder().entryList(QDir::Files | QDir::Hidden);
        if (entries.size() != 1 || !kAside.match(entries.first()).hasMatch())
            return QStringLiteral("beside the state file: ") + entries.join(u' ');
        if (readFile(folder().filePath(entries.first())) != bytes)
            return QStringLiteral("the file kept aside differs from the bad file");
        if (readFile(store_.legacyFilePath()) != legacyDocument())
            return QStringLiteral("the legacy file changed");
        return {};
    }

    // What the store makes of a document that it should read.
    QString acceptance(const QByteArray &bytes, const PersistedState &expected)
    {
        if (!clear() || !writeFile(store_.currentFilePath(), bytes))
            return QStringLiteral("could not write the file");
        if (!(blockingWait(store_.loadState()) == expected))
            return QStringLiteral("not read as the document it is");
        if (readFile(store_.currentFilePath()) != bytes)
            return QStringLiteral("the file was moved or changed");
        return {};
    }

private:
    [[nodiscard]] QDir folder() const { return QFileInfo(store_.currentFilePath()).absoluteDir(); }

    bool clear()
    {
        const QDir at = folder();
        bool cleared = true;
        for (const QString &name : at.entryList(QDir::Files | QDir::Hidden))
            cleared = QFile::remove(at.filePath(name)) && cleared;
        return cleared;
    }

    QTemporaryDir dir_;
    PersistenceStore store_;
};

// --- Walking a document: every value with its path (keys and indices).

using Path = QList<QJsonValue>; // a member name (string) or an array index (number)

QString pathText(const Path &path)
{
    QString text;
    for (const QJsonValue &step : path) {
        if (step.isString())
            text += (text.isEmpty() ? QString() : QStringLiteral(".")) + step.toString();
        else
            text += QStringLiteral("[%1]").arg(qint64(step.toDouble()));
    }
    return text.isEmpty() ? QStringLiteral("<root>") : text;
}

void collect(const QJsonValue &value, Path &at, QList<std::pair<Path, QJsonValue>> &out)
{
    out.append({at, value});
    if (value.isObject()) {
        const QJsonObject object = value.toObject();
        for (auto it = object.constBegin(); it != object.constEnd(); ++it) {
            at.append(it.key());
            collect(it.value(), at, out);
            at.removeLast();
        }
    } else if (value.isArray()) {
        const QJsonArray array = value.toArray();
        for (qsizetype i = 0; i < array.size(); ++i) {
            at.append(double(i));
            collect(array.at(i), at, out);
            at.removeLast();
        }
    }
}

QList<std::pair<Path, QJsonValue>> valuesOf(const QJsonValue &root)
{
    QList<std::pair<Path, QJsonValue>> out;
    Path at;
    collect(root, at, out);
    return out;
}

QJsonValue replaced(const QJsonValue &value, const Path &path, qsizetype depth, const QJsonValue &with)
{
    if (depth == path.size())
        return with;
    if (value.isObject()) {
        QJsonObject object = value.toObject();
        const QString key = path.at(depth).toString();
        object.insert(key, replaced(object.value(key), path, depth + 1, with));
        return object;
    }
    QJsonArray array = value.toArray();
    const auto index = qsizetype(path.at(depth).toDouble());
    array.replace(index, replaced(array.at(index), path, depth + 1, with));
    return array;
}

QByteArray documentOf(const QJsonValue &root)
{
    if (root.isObject())
        return QJsonDocument(root.toObject()).toJson();
    if (root.isArray())
        return QJsonDocument(root.toArray()).toJson();
    const QByteArray wrapped = QJsonDocument(QJsonArray{root}).toJson(QJsonDocument::Compact);
    return wrapped.mid(1, wrapped.size() - 2); // a scalar alone
}

QJsonValue goodRoot()
{
    return QJsonDocument::fromJson(goodDocument()).object();
}

QString compactText(const QJsonValue &value)
{
    return QString::fromUtf8(value.isObject()
                                 ? QJsonDocument(value.toObject()).toJson(QJsonDocument::Compact)
                                 : QJsonDocument(value.toArray()).toJson(QJsonDocument::Compact));
}

// The members whose strings name a case of an enumeration.
const QStringList kEnumerationKeys{
    QStringLiteral("status"),      QStringLiteral("step"),
    QStringLiteral("level"),       QStringLiteral("type"),
    QStringLiteral("platform"),    QStringLiteral("mode"),
    QStringLiteral("articleSize"), QStringLiteral("seoStandardMode"),
};

QByteArray nested(int depth, const QByteArray &open, const QByteArray &close,
                  const QByteArray &innermost = "0")
{
    return open.repeated(depth) + innermost + close.repeated(depth);
}

QByteArray replaceFirst(QByteArray bytes, const QByteArray &from, const QByteArray &to)
{
    const qsizetype at = bytes.indexOf(from);
    return at < 0 ? bytes : bytes.replace(at, from.size(), to);
}

// `good` with an extra root member, which the reader ignores.
QByteArray withExtraMember(const QByteArray &value)
{
    QByteArray doc = goodDocument();
    return doc.insert(doc.indexOf('{') + 1, "\"extra\" : " + value + ",");
}

} // namespace

class TestBadStateFile : public QObject {
    Q_OBJECT

    std::unique_ptr<Scratch> scratch;

private slots:
    void initTestCase()
    {
        scratch = std::make_unique<Scratch>();
        // The document has every member, or the walks below would miss some.
        QCOMPARE(PersistedState::decode(goodDocument()), goodState());
        for (const char *member :
             {"\"pendingClip\"", "\"transformResult\"", "\"illustrationsMetadata\"", "\"socialPublishes\"",
              "\"socialCrosspostPreferences\"", "\"selectedBlogId\"", "\"error\"", "\"result\"",
              "\"metadata\"", "\"seoMeta\""})
            QVERIFY2(goodDocument().contains(member), member);
    }
    void cleanupTestCase() { scratch.reset(); }

    void truncated_data()
    {
        QTest::addColumn<QList<qsizetype>>("lengths");
        const QByteArray &good = goodDocument();
        const qsizetype whole = good.lastIndexOf('}'); // what follows is white space
        const auto range = [](qsizetype from, qsizetype to, qsizetype step = 1) {
            QList<qsizetype> out;
            for (qsizetype n = from; n < to; n += step)
                out.append(n);
            return out;
        };
        QTest::newRow("empty") << QList<qsizetype>{0};
        QTest::newRow("the first bytes") << range(1, 80);
        QTest::newRow("throughout") << range(80, whole, 89);
        QTest::newRow("the last bytes") << range(whole - 80, whole);
        // Long strings are read several bytes at a time: every cut across one.
        const qsizetype article = good.indexOf("\"finalContent\" : \"") + 18;
        QTest::newRow("inside an article") << range(article - 3, article + 70);
        QList<qsizetype> escapes;
        for (qsizetype at = good.indexOf("\\u"); at >= 0 && escapes.size() < 60;
             at = good.indexOf("\\u", at + 1))
            escapes << range(at + 1, at + 6);
        for (qsizetype at = good.indexOf("\\\""); at >= 0 && escapes.size() < 80;
             at = good.indexOf("\\\"", at + 1))
            escapes << at + 1;
        QTest::newRow("inside escapes") << escapes;
        const QByteArray umlaut = QStringLiteral("ö").toUtf8();
        const qsizetype multibyte = good.indexOf(QStringLiteral("🚆").toUtf8());
        QTest::newRow("inside UTF-8 sequences")
            << (range(multibyte + 1, multibyte + 4) << good.indexOf(umlaut) + 1);
    }
    void truncated()
    {
        QFETCH(QList<qsizetype>, lengths);
        QVERIFY(!lengths.isEmpty());
        for (const qsizetype length : std::as_const(lengths)) {
            const QString failure = scratch->refusal(goodDocument().left(length));
            QVERIFY2(failure.isEmpty(),
                     qPrintable(QStringLiteral("cut to %1 bytes: %2").arg(length).arg(failure)));
        }
    }

    // Bytes a string cannot hold: broken UTF-8, broken escapes.
    void invalidStrings_data()
    {
        QTest::addColumn<QByteArray>("sequence");
        QTest::newRow("lone continuation byte") << QByteArray("\x80");
        QTest::newRow("byte never used") << QByteArray("\xff");
        QTest::newRow("overlong slash") << QByteArray("\xc0\xaf");
        QTest::newRow("overlong three bytes") << QByteArray("\xe0\x80\xaf");
        QTest::newRow("encoded surrogate") << QByteArray("\xed\xa0\x80");
        QTest::newRow("past U+10FFFF") << QByteArray("\xf4\x90\x80\x80");
        QTest::newRow("sequence cut short") << QByteArray("\xe2\x82");
        QTest::newRow("lead byte then ASCII") << QByteArray("\xf0"
                                                            "abc");
        QTest::newRow("escape without hex digits") << QByteArray("\\uzz12");
        QTest::newRow("escape cut short") << QByteArray("\\u12x");
    }
    void invalidStrings()
    {
        QFETCH(QByteArray, sequence);
        const QByteArray &good = goodDocument();
        QList<std::pair<QString, qsizetype>> places{
            {QStringLiteral("a short string"), good.indexOf("\"Zo") + 1},
            {QStringLiteral("before a closing quote"),
             good.indexOf("\",", good.indexOf("\"authorName\" : \""))},
            {QStringLiteral("a member name"), good.indexOf("\"articleSize\"") + 3},
            {QStringLiteral("an enumeration"), good.indexOf("\"level\" : \"") + 12},
            {QStringLiteral("after an escape"), good.indexOf("\\\"") + 2},
        };
        // In a long article, at each position within an eight-byte stride;
        // not right after a backslash, where a byte is an escape that stands
        // for itself (QJsonDocument takes those, and so does our reader).
        const qsizetype article = good.indexOf("\"sourceText\" : \"") + 16;
        for (qsizetype at = article + 40, taken = 0; taken < 9; ++at) {
            if (good.at(at - 1) == '\\')
                continue;
            places.append({QStringLiteral("an article, byte %1").arg(at - article), at});
            ++taken;
        }
        for (const auto &[where, at] : std::as_const(places)) {
            QVERIFY2(at > 0, qPrintable(where));
            const QString failure = scratch->refusal(QByteArray(good).insert(at, sequence));
            QVERIFY2(failure.isEmpty(), qPrintable(where + QStringLiteral(": ") + failure));
        }
    }

    void deepNesting_data()
    {
        QTest::addColumn<QByteArray>("document");
        constexpr int deep = 100000;
        QTest::newRow("arrays") << nested(deep, "[", "]");
        QTest::newRow("objects") << nested(deep, "{\"a\":", "}");
        QTest::newRow("arrays never closed") << QByteArray("[").repeated(deep);
        QTest::newRow("objects never closed") << QByteArray("{\"a\":").repeated(deep);
        QTest::newRow("arrays and objects") << nested(deep / 2, "[{\"a\":", "}]");
        QTest::newRow("in a member the reader ignores") << withExtraMember(nested(deep, "[", "]"));
        QByteArray inJob = goodDocument();
        inJob.replace("\"logs\" : [", "\"logs\" : [" + nested(deep, "{\"id\":", "}") + ",");
        QTest::newRow("as a log line") << inJob;
        QTest::newRow("just past the limit of 1024") << withExtraMember(nested(1025, "[", "]"));
    }
    void deepNesting()
    {
        QFETCH(QByteArray, document);
        // The application reads on the store's thread; this thread as well.
        const QString failure = scratch->refusal(document);
        QVERIFY2(failure.isEmpty(), qPrintable(failure));
        QVERIFY_THROWS_EXCEPTION(DecodingError, PersistedState::decode(document));
    }

    void nestingWithinTheLimitIsRead()
    {
        const QString failure =
            scratch->acceptance(withExtraMember(nested(100, "[{\"a\":", "}]")), goodState());
        QVERIFY2(failure.isEmpty(), qPrintable(failure));
    }

    void hugeStrings_data()
    {
        QTest::addColumn<QByteArray>("document");
        constexpr qsizetype huge = 24 * 1024 * 1024;
        const QByteArray &good = goodDocument();
        const QByteArray letters(huge, 'x');
        const qsizetype article = good.indexOf("\"finalContent\" : \"") + 18;
        QTest::newRow("never closed") << good.left(article) + letters;
        QTest::newRow("ending in a cut sequence") << QByteArray(good).insert(article, letters + "\xe2\x82");
        QTest::newRow("with a byte never used")
            << QByteArray(good).insert(article, letters + "\xff" + letters.left(99));
        QTest::newRow("as an enumeration")
            << replaceFirst(good, "\"status\" : \"", "\"status\" : \"" + letters);
        QTest::newRow("where a flag belongs")
            << replaceFirst(good, "\"aborted\" : false", "\"aborted\" : \"" + letters + "\"");
        QTest::newRow("as an identifier") << replaceFirst(good, "\"id\" : \"", "\"id\" : \"" + letters);
    }
    void hugeStrings()
    {
        QFETCH(QByteArray, document);
        const QString failure = scratch->refusal(document);
        QVERIFY2(failure.isEmpty(), qPrintable(failure));
    }

    // Nothing limits an article's length: a huge one is a good file.
    void hugeArticleIsRead()
    {
        PersistedState state = goodState();
        state.jobs[1].finalContent = sampleText(7, 24 * 1024 * 1024);
        const QString failure = scratch->acceptance(state.encode(), state);
        QVERIFY2(failure.isEmpty(), qPrintable(failure));
    }

    void unknownEnumerations_data()
    {
        QTest::addColumn<QString>("variant");
        QTest::newRow("capitalised") << "capitalised";
        QTest::newRow("upper case") << "upper";
        QTest::newRow("padded") << "padded";
        QTest::newRow("empty") << "empty";
        QTest::newRow("camel case") << "camel";
        QTest::newRow("unknown word") << "unknown";
    }
    void unknownEnumerations()
    {
        QFETCH(QString, variant);
        const QJsonValue root = goodRoot();
        int mutated = 0;
        for (const auto &[path, value] : valuesOf(root)) {
            if (path.isEmpty() || !path.last().isString()
                || !kEnumerationKeys.contains(path.last().toString()) || !value.isString())
                continue;
            const QString text = value.toString();
            QString other;
            if (variant == u"capitalised")
                other = text.left(1).toUpper() + text.mid(1);
            else if (variant == u"upper")
                other = text.toUpper();
            else if (variant == u"padded")
                other = text + u' ';
            else if (variant == u"empty")
                other = QString();
            else if (variant == u"camel")
                other =
                    QString(text).replace(QRegularExpression(QStringLiteral("_(.)")), QStringLiteral("\\1"));
            else
                other = QStringLiteral("paused");
            if (other == text)
                continue;
            ++mutated;
            const QString failure = scratch->refusal(documentOf(replaced(root, path, 0, other)));
            QVERIFY2(failure.isEmpty(),
                     qPrintable(QStringLiteral("%1 = \"%2\": %3").arg(pathText(path), other, failure)));
        }
        QVERIFY2(mutated >= (variant == u"camel" ? 2 : 30), qPrintable(QString::number(mutated)));
    }

    void wrongTypes_data()
    {
        QTest::addColumn<int>("from");
        QTest::addColumn<QString>("to");
        QTest::newRow("string to number") << int(QJsonValue::String) << "number";
        QTest::newRow("string to bool") << int(QJsonValue::String) << "bool";
        QTest::newRow("number to string") << int(QJsonValue::Double) << "string";
        QTest::newRow("number to bool") << int(QJsonValue::Double) << "bool";
        QTest::newRow("bool to string") << int(QJsonValue::Bool) << "string";
        QTest::newRow("bool to number") << int(QJsonValue::Bool) << "number";
        QTest::newRow("object to array") << int(QJsonValue::Object) << "array";
        QTest::newRow("object to string") << int(QJsonValue::Object) << "string";
        QTest::newRow("array to object") << int(QJsonValue::Array) << "object";
        QTest::newRow("array to string") << int(QJsonValue::Array) << "string";
    }
    void wrongTypes()
    {
        QFETCH(int, from);
        QFETCH(QString, to);
        const QJsonValue root = goodRoot();
        int mutated = 0;
        for (const auto &[path, value] : valuesOf(root)) {
            if (value.type() != QJsonValue::Type(from))
                continue;
            // The same content in another type where the type allows.
            QJsonValue other;
            if (to == u"number")
                other = value.isBool() ? double(value.toBool()) : 42.0;
            else if (to == u"bool")
                other = value.isDouble() ? value.toDouble() != 0 : true;
            else if (to == u"string")
                other = value.isBool()     ? QStringLiteral("true")
                        : value.isDouble() ? QString::number(value.toDouble())
                                           : compactText(value);
            else if (to == u"array")
                other = QJsonArray::fromVariantList(value.toObject().toVariantMap().values());
            else {
                QJsonObject object;
                const QJsonArray array = value.toArray();
                for (qsizetype i = 0; i < array.size(); ++i)
                    object.insert(QString::number(i), array.at(i));
                other = object;
            }
            ++mutated;
            const QString failure = scratch->refusal(documentOf(replaced(root, path, 0, other)));
            QVERIFY2(failure.isEmpty(), qPrintable(pathText(path) + QStringLiteral(": ") + failure));
        }
        QVERIFY2(mutated >= 10, qPrintable(QString::number(mutated)));
    }

    // Right type, impossible value.
    void valuesOutOfRange_data()
    {
        QTest::addColumn<QByteArray>("from");
        QTest::addColumn<QByteArray>("to");
        QTest::newRow("count past 64 bits") // a count past 32 bits is read as it is
            << QByteArray("\"imagesCount\" : 3") << QByteArray("\"imagesCount\" : 9223372036854775808");
        QTest::newRow("fractional count")
            << QByteArray("\"imagesCount\" : 3") << QByteArray("\"imagesCount\" : 2.5");
        QTest::newRow("status past int")
            << QByteArray("\"status\" : 402") << QByteArray("\"status\" : 1e300");
        QTest::newRow("fractional blog id")
            << QByteArray("\"selectedBlogId\" : 42") << QByteArray("\"selectedBlogId\" : 42.5");
        QTest::newRow("identifier in braces") << QByteArray("\"id\" : \"") << QByteArray("\"id\" : \"{");
        QTest::newRow("no such day") << QByteArray("\"createdAt\" : \"2026-03-01T")
                                     << QByteArray("\"createdAt\" : \"2026-02-30T");
        QTest::newRow("a log line's time unreadable")
            << QByteArray("\"timestamp\" : \"") << QByteArray("\"timestamp\" : \"x");
    }
    void valuesOutOfRange()
    {
        QFETCH(QByteArray, from);
        QFETCH(QByteArray, to);
        QVERIFY(goodDocument().contains(from));
        const QString failure = scratch->refusal(QByteArray(goodDocument()).replace(from, to));
        QVERIFY2(failure.isEmpty(), qPrintable(failure));
    }

    // The whole start of the application: the defaults on screen, the bad
    // file kept aside, a fresh file of the defaults in its place.
    void applicationStart_data()
    {
        QTest::addColumn<QByteArray>("document");
        const QByteArray &good = goodDocument();
        QTest::newRow("cut short") << good.left(good.size() / 2);
        QTest::newRow("invalid UTF-8") << QByteArray(good).insert(good.indexOf("\"Zo") + 1, "\xff");
        QTest::newRow("deeply nested") << withExtraMember(nested(100000, "[", "]"));
        QTest::newRow("unknown status") << QByteArray(good).replace("\"status\" : \"", "\"status\" : \"X");
        QTest::newRow("wrong type") << QByteArray(good).replace("\"processing\" : false",
                                                                "\"processing\" : 0");
    }
    void applicationStart()
    {
        QFETCH(QByteArray, document);
        AppStateHarness h;
        const QString file = h.state->persistenceStore().currentFilePath();
        QVERIFY(writeFile(file, document));
        QVERIFY(writeFile(h.state->persistenceStore().legacyFilePath(), legacyDocument()));
        blockingWait(h.state->bootstrap());
        QCOMPARE(h.state->settings(), ClipperSettings::defaults());
        QVERIFY(h.state->jobs().isEmpty());
        QVERIFY(!h.state->pendingClip());
        const QDir folder = QFileInfo(file).absoluteDir();
        const QStringList aside = folder.entryList({QStringLiteral("clipper-state.json.unreadable-*")});
        QCOMPARE(aside.size(), 1);
        QVERIFY(kAside.match(aside.first()).hasMatch());
        QVERIFY(readFile(folder.filePath(aside.first())) == document);
        h.state->persistenceStore().waitForPendingSaves();
        QCOMPARE(PersistedState::decode(readFile(file)), PersistedState{});
        QVERIFY(readFile(h.state->persistenceStore().legacyFilePath()) == legacyDocument());
    }

    // A bad legacy file (read only while no current file exists) is left
    // where it is: it is never written, and the next start has a current file.
    void badLegacyFileIsLeftAlone_data()
    {
        QTest::addColumn<QByteArray>("document");
        const QByteArray &good = goodDocument();
        QTest::newRow("cut short") << good.left(good.size() / 3);
        QTest::newRow("deeply nested") << nested(100000, "[", "]");
        QTest::newRow("wrong type") << replaceFirst(good, "\"autoSend\" : true", "\"autoSend\" : \"true\"");
    }
    void badLegacyFileIsLeftAlone()
    {
        QFETCH(QByteArray, document);
        QTemporaryDir dir;
        PersistenceStore store(dir.filePath(QStringLiteral("share/PendrelPublisher")), kDev);
        QVERIFY(writeFile(store.legacyFilePath(), document));
        QVERIFY(blockingWait(store.loadState()) == PersistedState{});
        QVERIFY(readFile(store.legacyFilePath()) == document);
        QCOMPARE(QDir(QFileInfo(store.legacyFilePath()).absolutePath()).entryList(QDir::Files),
                 QStringList{QStringLiteral("clipper-state.json")});
        QVERIFY(!QFileInfo::exists(store.currentFilePath()));
    }

    // Something other than a plain file at the state file's place. A folder
    // is kept aside like a damaged file; a link (into a synced folder, say)
    // is read through and stays a link: saves replace what it points at.
    void oddThingsAtTheStatePath_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<bool>("loadsTheTarget");
        QTest::newRow("a folder") << QStringLiteral("folder") << false;
        QTest::newRow("a link to a file elsewhere") << QStringLiteral("link") << true;
        QTest::newRow("a link to a file not made yet") << QStringLiteral("dangling") << false;
    }
    void oddThingsAtTheStatePath()
    {
        QFETCH(QString, kind);
        QFETCH(bool, loadsTheTarget);
        QTemporaryDir dir;
        PersistenceStore store(dir.filePath(QStringLiteral("share/PendrelPublisher")), kDev);
        const QString path = store.currentFilePath();
        const QString target = dir.filePath(QStringLiteral("synced/state.json"));
        QVERIFY(QDir().mkpath(QFileInfo(path).absolutePath())
                && QDir().mkpath(QFileInfo(target).absolutePath()));
        if (kind == u"folder") {
            QVERIFY(QDir().mkpath(path));
            QVERIFY(writeFile(path + QStringLiteral("/notes.txt"), "mine"));
        } else {
            if (kind == u"link")
                QVERIFY(writeFile(target, goodDocument()));
            QVERIFY(QFile::link(target, path));
        }

        const PersistedState loaded = blockingWait(store.loadState());
        QVERIFY(loaded == (loadsTheTarget ? goodState() : PersistedState{}));
        PersistedState changed = loaded;
        changed.settings.autoSend = !changed.settings.autoSend;
        store.saveState(changed.settings, changed.pendingClip, changed.jobs);
        store.waitForPendingSaves();
        QVERIFY2(store.lastOutcome() && store.lastOutcome()->saved, qPrintable(store.lastOutcome()->error));
        QCOMPARE(PersistedState::decode(readFile(path)), changed);
        if (kind == u"folder") {
            const QDir folder = QFileInfo(path).absoluteDir();
            const QStringList aside =
                folder.entryList({QStringLiteral("clipper-state.json.unreadable-*")}, QDir::Dirs);
            QCOMPARE(aside.size(), 1);
            QVERIFY(readFile(folder.filePath(aside.first() + QStringLiteral("/notes.txt"))) == "mine");
        } else {
            QVERIFY(QFileInfo(path).isSymLink());
            QCOMPARE(PersistedState::decode(readFile(target)), changed);
        }
    }
};

QTEST_GUILESS_MAIN(TestBadStateFile)
#include "tst_badstatefile.moc"
