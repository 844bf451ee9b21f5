#include "state/AppConfiguration.h"
#include "state/AppResources.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

using namespace pendrel;

namespace {

// Sets or unsets one environment variable for the life of the guard.
class EnvGuard {
public:
    EnvGuard(const char *name, const std::optional<QString> &value) : name_(name)
    {
        if (value)
            qputenv(name, value->toUtf8());
        else
            qunsetenv(name);
    }
    ~EnvGuard() { qunsetenv(name_); }

private:
    const char *name_;
};

using OptString = std::optional<QString>;

QString probePath()
{
    return QCoreApplication::applicationDirPath() + QStringLiteral("/resource-probe");
}

} // namespace

class TestConfiguration : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        // A source build: no identifier, no feed key.
        AppConfiguration::setBundleInfo(BundleInfo{QString(), QStringLiteral("2.3.4"), QString()});
    }

    void bundleIdentifier()
    {
        QCOMPARE(AppConfiguration::bundleIdentifier(), QStringLiteral("com.pendrel.publisher.dev"));
        QVERIFY(!AppConfiguration::isProductionBuild());
        QCOMPARE(AppConfiguration::resolveBundleIdentifier(QStringLiteral("com.pendrel.publisher")),
                 QStringLiteral("com.pendrel.publisher"));
        QCOMPARE(AppConfiguration::resolveBundleIdentifier(QString()),
                 QStringLiteral("com.pendrel.publisher.dev"));
        // Computed once: later bundle information does not change it.
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("after first use")));
        AppConfiguration::setBundleInfo(BundleInfo{QStringLiteral("com.pendrel.publisher"), {}, {}});
        QCOMPARE(AppConfiguration::bundleIdentifier(), QStringLiteral("com.pendrel.publisher.dev"));
        AppConfiguration::setBundleInfo(BundleInfo{QString(), QStringLiteral("2.3.4"), QString()});
    }

    void bundleKeys()
    {
        const EnvGuard feed("PENDREL_APPCAST_URL", std::nullopt);
        QCOMPARE(AppConfiguration::shortVersion(), QStringLiteral("2.3.4"));
        QCOMPARE(AppConfiguration::feedURL(), AppConfiguration::defaultAppcastURL());
        AppConfiguration::setBundleInfo(
            BundleInfo{QString(), QString(), QStringLiteral("https://f.test/feed.xml")});
        QCOMPARE(AppConfiguration::shortVersion(), QStringLiteral("1.0.0"));
        QCOMPARE(AppConfiguration::feedURL(), QStringLiteral("https://f.test/feed.xml"));
        QCOMPARE(AppConfiguration::bundleInfo().value(u"SUFeedURL"),
                 QStringLiteral("https://f.test/feed.xml"));
        QCOMPARE(AppConfiguration::bundleInfo().value(u"CFBundleShortVersionString"), std::nullopt);
        AppConfiguration::setBundleInfo(BundleInfo{QString(), QStringLiteral("2.3.4"), QString()});
    }

    void apiBaseURL_data()
    {
        QTest::addColumn<OptString>("value");
        QTest::addColumn<QString>("expected");
        const QString production = QStringLiteral("https://pendrel.com");
        QTest::newRow("unset") << OptString() << production;
        QTest::newRow("empty") << OptString(QString()) << production;
        QTest::newRow("local service")
            << OptString(QStringLiteral("http://127.0.0.1:8787")) << QStringLiteral("http://127.0.0.1:8787");
        QTest::newRow("with path") << OptString(QStringLiteral("https://staging.pendrel.test/base/"))
                                   << QStringLiteral("https://staging.pendrel.test/base/");
        QTest::newRow("not an address") << OptString(QStringLiteral("not a url")) << production;
        QTest::newRow("no scheme") << OptString(QStringLiteral("pendrel.test")) << production;
        QTest::newRow("blanks are not trimmed")
            << OptString(QStringLiteral(" http://127.0.0.1:8787")) << production;
    }
    void apiBaseURL()
    {
        QFETCH(OptString, value);
        QFETCH(QString, expected);
        const EnvGuard guard("PENDREL_API_BASE_URL", value);
        QCOMPARE(AppConfiguration::apiBaseURL().toString(), expected);
    }

    void appcastURL_data()
    {
        QTest::addColumn<OptString>("value");
        QTest::addColumn<QString>("expected");
        const QString fallback = QStringLiteral("https://download.pendrel.com/macos/appcast.xml");
        QTest::newRow("unset") << OptString() << fallback;
        QTest::newRow("blanks only") << OptString(QStringLiteral(" \t\n ")) << fallback;
        QTest::newRow("trimmed") << OptString(QStringLiteral("  http://127.0.0.1:8787/appcast.xml\n"))
                                 << QStringLiteral("http://127.0.0.1:8787/appcast.xml");
        QTest::newRow("not checked as a URL") << OptString(QStringLiteral("feed")) << QStringLiteral("feed");
    }
    void appcastURL()
    {
        QFETCH(OptString, value);
        QFETCH(QString, expected);
        const EnvGuard guard("PENDREL_APPCAST_URL", value);
        QCOMPARE(AppConfiguration::appcastURL(), expected);
        QCOMPARE(AppConfiguration::feedURL(), expected); // the bundle has no SUFeedURL
    }

    void debugSwitches_data()
    {
        QTest::addColumn<OptString>("value");
        QTest::addColumn<OptString>("previewName");
        QTest::addColumn<bool>("showPanel");
        QTest::newRow("unset") << OptString() << OptString() << false;
        QTest::newRow("one") << OptString(QStringLiteral("1")) << OptString(QStringLiteral("1")) << true;
        QTest::newRow("true") << OptString(QStringLiteral("true")) << OptString(QStringLiteral("true"))
                              << false;
        QTest::newRow("yes") << OptString(QStringLiteral("yes")) << OptString(QStringLiteral("yes")) << false;
        QTest::newRow("padded one") << OptString(QStringLiteral(" 1\n")) << OptString(QStringLiteral("1"))
                                    << false;
        QTest::newRow("blank") << OptString(QStringLiteral(" \n")) << OptString() << false;
    }
    void debugSwitches()
    {
        QFETCH(OptString, value);
        QFETCH(OptString, previewName);
        QFETCH(bool, showPanel);
        const EnvGuard preview("PENDREL_DEBUG_PREVIEW_STATE", value);
        const EnvGuard panel("PENDREL_DEBUG_SHOW_PANEL_ON_LAUNCH", value);
        QCOMPARE(AppConfiguration::debugPreviewStateName(), previewName);
        QCOMPARE(AppConfiguration::showPanelOnLaunch(), showPanel);
    }

    void bundleSearch()
    {
        const QStringList candidates = AppResources::candidateLocations();
        QCOMPARE(candidates.size(), 4);
        for (const QString &c : candidates)
            QVERIFY(c.endsWith(QStringLiteral("/pendrel-macos_PendrelPublisher.bundle")));
        QVERIFY(candidates.first().contains(QStringLiteral("/share/pendrel-publisher/")));
        // Relative to the executable, for an installation under another prefix.
        QCOMPARE(candidates[1], QDir::cleanPath(QCoreApplication::applicationDirPath()
                                                + QStringLiteral("/../share/pendrel-publisher/")
                                                + AppResources::bundleName.toString()));
        // The build tree keeps a copy beside the executables.
        QCOMPARE(AppResources::bundle().absolutePath(),
                 QDir(QCoreApplication::applicationDirPath()).filePath(AppResources::bundleName.toString()));
        QVERIFY(AppResources::imagePath(u"Brand", u"pendrel-symbol", u"png"));
        for (const char *mark : {"google-mark", "github-mark", "linkedin-mark", "facebook-mark"})
            QVERIFY2(AppResources::imagePath(u"AuthProviders", QString::fromLatin1(mark), u"png"), mark);
        QCOMPARE(AppResources::imagePath(u"Brand", u"no-such-image", u"png"), std::nullopt);

        QTemporaryDir dir;
        const QString a = dir.filePath(QStringLiteral("a")), b = dir.filePath(QStringLiteral("b"));
        QVERIFY(QDir().mkpath(b));
        QCOMPARE(AppResources::findBundle({a, b}), b);
        QVERIFY(QDir().mkpath(a));
        QCOMPARE(AppResources::findBundle({a, b}), a);
        QCOMPARE(AppResources::findBundle({dir.filePath(QStringLiteral("c"))}), std::nullopt);
        QCOMPARE(AppResources::missingBundleMessage({QStringLiteral("/x"), QStringLiteral("/y")}),
                 QStringLiteral("could not load resource bundle from: /x, /y"));
    }

    // The search run from another folder: through a symbolic link the
    // executable's real folder (with the bundle) is found; a plain copy
    // without a bundle beside it ends the process with the message.
    void searchFromElsewhere_data()
    {
        QTest::addColumn<bool>("link");
        QTest::newRow("symbolic link") << true;
        QTest::newRow("copy without bundle") << false;
    }
    void searchFromElsewhere()
    {
        QFETCH(bool, link);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("probe"));
        QVERIFY(link ? QFile::link(probePath(), path) : QFile::copy(probePath(), path));
        QProcess probe;
        probe.start(path, {});
        QVERIFY(probe.waitForFinished(20000));
        QCOMPARE(probe.exitStatus(), QProcess::NormalExit);
        if (link) {
            QCOMPARE(probe.exitCode(), 0);
            const QString out = QString::fromUtf8(probe.readAllStandardOutput());
            QVERIFY2(out.contains(QStringLiteral("found ") + QCoreApplication::applicationDirPath()),
                     qPrintable(out));
            return;
        }
        QVERIFY(probe.exitCode() != 0);
        const QString err = QString::fromUtf8(probe.readAllStandardError()).trimmed();
        QVERIFY2(err.startsWith(QStringLiteral("could not load resource bundle from: ")), qPrintable(err));
        QVERIFY(err.contains(dir.path() + QStringLiteral("/pendrel-macos_PendrelPublisher.bundle, ")));
        QCOMPARE(err.count(QStringLiteral(", ")), 3);
    }
};

QTEST_GUILESS_MAIN(TestConfiguration)
#include "tst_configuration.moc"
