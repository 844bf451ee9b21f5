// Built twice: as the production build (PENDREL_TEST_PRODUCTION) and as a
// development build, because the build's identity is fixed once per process.
#include "shell/Appcast.h"
#include "shell/StatusItemController.h"
#include "shell/UpdateDialogs.h"
#include "shell/UpdaterService.h"
#include "shell/PanelWindow.h"
#include "ui/ClipperPanelView.h"
#include "ui/PanelPieces.h"
#include "state/AppConfiguration.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QMenu>
#include <QDir>
#include <QHash>
#include <QLabel>
#include <QSettings>
#include <QTest>

#include "AppStateHarness.h"

using namespace pendrel;
using namespace pendrel::test;

Q_DECLARE_METATYPE(pendrel::test::ScriptedAnswer)
Q_DECLARE_METATYPE(std::optional<QString>)

namespace {

const QUrl feedBase(QStringLiteral("https://updates.pendrel.test/linux/appcast.xml"));
constexpr auto bundleFeed = "https://updates.pendrel.test/bundle/appcast.xml";

// An RSS feed around `items`, with the vocabulary bound to the usual prefix.
QByteArray feed(const QString &items, const QString &extraNamespaces = {})
{
    return QStringLiteral("<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
                          "<rss version=\"2.0\" xmlns:sparkle=\"http://www.andymatuschak.org/xml-namespaces/"
                          "sparkle\" %2><channel><title>Pendrel Publisher</title>%1</channel></rss>")
        .arg(items, extraNamespaces)
        .toUtf8();
}

QString item(const QString &version, const QString &extra = {})
{
    return QStringLiteral("<item><title>Version %1</title><sparkle:version>%1</sparkle:version>%2</item>")
        .arg(version, extra);
}

class RecordingDriver final : public UpdateUserDriver {
public:
    QStringList shown;
    void showUpdateFound(const AppcastItem &item, const QString &current) override
    {
        shown.append(QStringLiteral("found %1 over %2").arg(item.offeredVersion(), current));
    }
    void showUpToDate(const QString &current) override { shown.append(QStringLiteral("current ") + current); }
    void showError(const QString &description) override { shown.append(QStringLiteral("error ") + description); }
};

// The application state with an updater service whose controller reads the
// fake service's feed.
struct UpdaterHarness {
    AppStateHarness app;
    RecordingDriver driver;
    QList<AppUpdateState> changes; // what onUpdateStateChange received
    UpdaterConfiguration configuration;
    int controllersMade = 0;
    std::unique_ptr<UpdaterService> service;

    explicit UpdaterHarness(bool automaticChecks = false)
    {
        configuration.feedURL = app.service.baseUrl().resolved(QUrl(QStringLiteral("linux/appcast.xml"))).toString();
        configuration.currentVersion = QStringLiteral("1.4.0");
        configuration.settingsPath = app.dir.filePath(QStringLiteral("config/updater.conf"));
        configuration.timeoutMs = 400;
        QSettings(configuration.settingsPath, QSettings::IniFormat)
            .setValue(QStringLiteral("Updates/automaticChecks"), automaticChecks);
        app.state->onUpdateStateChange = [this](const AppUpdateState &s) { changes.append(s); };
    }

    void create()
    {
        service = std::make_unique<UpdaterService>(*app.state, [this](UpdaterDelegate &delegate) {
            ++controllersMade;
            return std::make_unique<UpdaterController>(configuration, delegate, &driver);
        });
    }

    void serveFeed(const ScriptedAnswer &answer)
    {
        app.service.answer("GET", QStringLiteral("/linux/appcast.xml"), answer);
    }

    [[nodiscard]] const AppUpdateState &state() const { return app.state->appUpdateState(); }

    // Asks as the menu does and waits until the check has ended.
    bool userCheck()
    {
        app.state->onCheckForUpdatesRequested();
        const bool began = QTest::qWaitFor([this] { return state().status == AppUpdateStatus::checking; }, 2000);
        return began && QTest::qWaitFor([this] { return state().status != AppUpdateStatus::checking; }, 5000);
    }
};

} // namespace

class TestUpdates : public QObject {
    Q_OBJECT

public:
    static void initMain()
    {
#ifdef PENDREL_TEST_PRODUCTION
        AppConfiguration::setBundleInfo({AppConfiguration::productionBundleIdentifier.toString(),
                                         QStringLiteral("1.4.0"), QString::fromLatin1(bundleFeed)});
#else
        AppConfiguration::setBundleInfo({QString(), QStringLiteral("1.4.0"), QString()});
#endif
    }

private slots:
    void parseFeeds_data()
    {
        QTest::addColumn<QByteArray>("document");
        QTest::addColumn<int>("count");
        QTest::addColumn<QString>("newest");
        QTest::addColumn<QString>("offered");
        QTest::addColumn<QString>("notes");
        QTest::addColumn<QString>("download");

        QTest::newRow("newest by version order")
            << feed(item(QStringLiteral("1.9")) + item(QStringLiteral("1.10")) + item(QStringLiteral("1.10b3")))
            << 3 << "1.10" << "1.10" << "" << "";
        QTest::newRow("any prefix bound to the namespace")
            << QByteArray("<rss xmlns:sp='http://www.andymatuschak.org/xml-namespaces/sparkle'><channel>"
                          "<item><sp:version>2.1</sp:version><sp:shortVersionString>2.1 Beta</sp:shortVersionString>"
                          "</item></channel></rss>")
            << 1 << "2.1" << "2.1 Beta" << "" << "";
        QTest::newRow("the usual prefix bound elsewhere is not the vocabulary")
            << QByteArray("<rss xmlns:s='http://www.andymatuschak.org/xml-namespaces/sparkle'><channel>"
                          "<item xmlns:sparkle='urn:other'><sparkle:version>9.0</sparkle:version></item>"
                          "<item><s:version>1.5</s:version></item></channel></rss>")
            << 1 << "1.5" << "1.5" << "" << "";
        QTest::newRow("other systems and channels left out")
            << feed(item(QStringLiteral("9.0"),
                         QStringLiteral("<enclosure url='https://d.test/9.dmg' sparkle:os='macos'/>"))
                    + item(QStringLiteral("8.0"), QStringLiteral("<sparkle:channel>beta</sparkle:channel>"))
                    + item(QStringLiteral("2.0"), QStringLiteral("<enclosure url='https://d.test/2.dmg' "
                                                                 "sparkle:os='macos'/><enclosure url='https://"
                                                                 "d.test/2.deb' sparkle:os='linux' length='42'/>")))
            << 1 << "2.0" << "2.0" << "" << "https://d.test/2.deb";
        QTest::newRow("version from the enclosure, macOS bounds ignored")
            << feed(QStringLiteral("<item><sparkle:minimumSystemVersion>99.0</sparkle:minimumSystemVersion>"
                                   "<enclosure url='pkg/3.1.deb' sparkle:version='3.1' "
                                   "sparkle:shortVersionString='3.1 (Oak)'/></item>"))
            << 1 << "3.1" << "3.1 (Oak)" << "" << "https://updates.pendrel.test/linux/pkg/3.1.deb";
        QTest::newRow("release notes trimmed and resolved, unsafe links dropped")
            << feed(item(QStringLiteral("2.2"),
                         QStringLiteral("<sparkle:releaseNotesLink>\n   ../notes/2.2.html  \n"
                                        "</sparkle:releaseNotesLink><link>javascript:alert(1)</link>")))
            << 1 << "2.2" << "2.2" << "https://updates.pendrel.test/notes/2.2.html" << "";
        QTest::newRow("the page when there is no download")
            << feed(item(QStringLiteral("2.3"), QStringLiteral("<link>https://pendrel.com/r/2.3</link>"
                                                               "<sparkle:shortVersionString>  </sparkle:"
                                                               "shortVersionString>")))
            << 1 << "2.3" << "2.3" << "" << "https://pendrel.com/r/2.3";
    }
    void parseFeeds()
    {
        QFETCH(QByteArray, document);
        QList<AppcastItem> items;
        try {
            items = Appcast::parse(document, feedBase);
        } catch (const AppcastError &e) {
            QFAIL(qPrintable(e.description()));
        }
        QFETCH(int, count);
        QCOMPARE(items.size(), count);
        const auto newest = Appcast::newest(items);
        QVERIFY(newest);
        QTEST(newest->versionString, "newest");
        QTEST(newest->offeredVersion(), "offered");
        QTEST(newest->releaseNotesURL.value_or(QUrl()).toString(), "notes");
        QTEST(newest->downloadURL().value_or(QUrl()).toString(), "download");
    }

    void badFeeds_data()
    {
        QTest::addColumn<QByteArray>("document");
        QTest::addColumn<QString>("message");
        QTest::newRow("empty") << QByteArray(" \n") << "The update feed is empty.";
        QTest::newRow("not XML") << QByteArray("Service unavailable") << "The update feed is not valid XML";
        QTest::newRow("cut short") << feed(item(QStringLiteral("2.0"))).left(150)
                                   << "The update feed is not valid XML";
        QTest::newRow("a web page") << QByteArray("<html><body>Moved</body></html>")
                                    << "The update feed is not an RSS feed.";
        QTest::newRow("no items") << feed({}) << "The update feed lists no releases.";
        QTest::newRow("no versions") << feed(QStringLiteral("<item><title>2.0</title></item>"))
                                     << "The update feed lists releases without a version number.";
        QTest::newRow("only for macOS")
            << feed(item(QStringLiteral("2.0"), QStringLiteral("<enclosure url='https://d.test/a' sparkle:os='macos'/>")))
            << "The update feed lists no release for Linux.";
    }
    void badFeeds()
    {
        QFETCH(QByteArray, document);
        QFETCH(QString, message);
        try {
            Appcast::parse(document, feedBase);
            QFAIL("parsed");
        } catch (const AppcastError &e) {
            QVERIFY2(e.description().startsWith(message), qPrintable(e.description()));
        }
    }

    void derivedTexts_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<std::optional<QString>>("available");
        QTest::addColumn<std::optional<QString>>("error");
        QTest::addColumn<QString>("actionTitle");
        QTest::addColumn<QString>("summary");
        using S = AppUpdateStatus;
        const std::optional<QString> none;
        QTest::newRow("idle") << int(S::idle) << none << none << "Check for Updates\u2026" << "Version 1.4.0";
        QTest::newRow("checking keeps a known version")
            << int(S::checking) << std::optional(QStringLiteral("2.0")) << none << "Update to 2.0\u2026"
            << "Checking for updates\u2026";
        QTest::newRow("current") << int(S::upToDate) << none << none << "Check for Updates\u2026"
                                 << "Version 1.4.0 is current";
        QTest::newRow("empty version") << int(S::updateAvailable) << std::optional(QString()) << none
                                       << "Check for Updates\u2026" << "Version  is available";
        QTest::newRow("no version") << int(S::updateAvailable) << none << none << "Check for Updates\u2026"
                                    << "An update is available";
        QTest::newRow("error text") << int(S::error) << none << std::optional(QStringLiteral("Offline"))
                                    << "Check for Updates\u2026" << "Offline";
        QTest::newRow("error without text") << int(S::error) << none << none << "Check for Updates\u2026"
                                            << "Update check failed";
    }
    void derivedTexts()
    {
        AppUpdateState state;
        state.currentVersion = QStringLiteral("1.4.0");
        QFETCH(int, status);
        state.status = AppUpdateStatus(status);
        QFETCH(std::optional<QString>, available);
        QFETCH(std::optional<QString>, error);
        state.availableVersion = available;
        state.errorMessage = error;
        QTEST(state.actionTitle(), "actionTitle");
        QTEST(state.statusSummary(), "summary");
    }

    // The dialogs that end a check the user asked for.
    void dialogs()
    {
        QList<QUrl> opened;
        UpdateDialogs dialogs([&opened](const QUrl &url) { opened.append(url); });
        AppcastItem full;
        full.versionString = QStringLiteral("2.0");
        full.displayVersionString = QStringLiteral(" 2.0 ");
        full.releaseNotesURL = QUrl(QStringLiteral("https://pendrel.com/notes/2.0"));
        full.infoURL = QUrl(QStringLiteral("https://pendrel.com/r/2.0"));
        full.enclosure = AppcastEnclosure{QUrl(QStringLiteral("https://pendrel.com/2.0.deb")), 1, {}, {}};
        const auto click = [&](const char *name) {
            QVERIFY(dialogs.current());
            auto *button = dialogs.current()->findChild<QAbstractButton *>(QLatin1String(name));
            QVERIFY2(button, name);
            button->click();
        };

        dialogs.showUpdateFound(full, QStringLiteral("1.4.0"));
        QCOMPARE(dialogs.current()->text(), QStringLiteral("A new version of Pendrel Publisher is available!"));
        QVERIFY(dialogs.current()->informativeText().contains(u"Pendrel Publisher 2.0 is now available"));
        click("releaseNotes");
        dialogs.showUpdateFound(full, QStringLiteral("1.4.0"));
        click("download");
        full.enclosure.reset();
        dialogs.showUpdateFound(full, QStringLiteral("1.4.0"));
        click("download");
        QCOMPARE(opened, (QList<QUrl>{*full.releaseNotesURL, QUrl(QStringLiteral("https://pendrel.com/2.0.deb")),
                                      *full.infoURL}));

        full.infoURL.reset();
        full.releaseNotesURL.reset();
        dialogs.showUpdateFound(full, QStringLiteral("1.4.0"));
        QVERIFY(!dialogs.current()->findChild<QAbstractButton *>(QStringLiteral("download")));
        QVERIFY(dialogs.current()->findChild<QAbstractButton *>(QStringLiteral("later")));

        QPointer<QMessageBox> previous = dialogs.current();
        dialogs.showUpToDate(QStringLiteral("1.4.0"));
        QVERIFY(!previous); // one window at a time
        QCOMPARE(dialogs.current()->text(), QStringLiteral("You're up to date!"));
        QVERIFY(dialogs.current()->informativeText().contains(u"1.4.0"));
        dialogs.showError(QStringLiteral("The update feed is empty."));
        QCOMPARE(dialogs.current()->text(), QStringLiteral("Update Error!"));
        QCOMPARE(dialogs.current()->informativeText(), QStringLiteral("The update feed is empty."));
    }

    // The panel's Appearance, chosen in the tray menu or in the panel's
    // settings: kept in appearance.conf (not the state file), applied to the
    // panel, its window and the update window at once, and read at the
    // next start.
    void appearanceChoice()
    {
        QFile::remove(StatusItemController::appearanceSettingsPath());
        UpdaterHarness h;
        const QByteArray stateBefore = [&] {
            h.app.state->persistenceStore().waitForPendingSaves();
            QFile f(h.app.state->persistenceStore().currentFilePath());
            return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
        }();
        {
            StatusItemController tray(*h.app.state);
            QCOMPARE(tray.panelAppearance(), PanelAppearance::automatic);
            auto *menu = tray.contextMenu().findChild<QMenu *>(QStringLiteral("panelAppearanceMenu"));
            QVERIFY(menu);
            QStringList titles;
            for (QAction *a : menu->actions())
                titles << a->text();
            QCOMPARE(titles, (QStringList{u"Automatic"_qs, u"Light"_qs, u"Dark"_qs}));
            menu->actions().at(2)->trigger();
            QCOMPARE(tray.panelLook(), PanelLook::dark);
            QCOMPARE(tray.panel().palette().color(QPalette::Window), panelColors(PanelLook::dark).window);
            tray.showPanel();
            auto *view = tray.panel().findChild<ClipperPanelView *>();
            QVERIFY(view);
            QCOMPARE(view->look(), PanelLook::dark);
            auto *picker = view->findChild<QComboBox *>(QStringLiteral("appearancePicker"));
            QCOMPARE(picker->currentText(), u"Dark"_qs);
            // Light, from the panel's own row: the menu shows it too.
            picker->setCurrentIndex(1);
            emit picker->activated(1);
            QCOMPARE(view->look(), PanelLook::light);
            QVERIFY(menu->actions().at(1)->isChecked());
            tray.hidePanel();
        }
        QCOMPARE(QSettings(StatusItemController::appearanceSettingsPath(), QSettings::IniFormat)
                     .value(QStringLiteral("panelAppearance"))
                     .toString(),
                 u"light"_qs);
        {
            QSettings(StatusItemController::appearanceSettingsPath(), QSettings::IniFormat)
                .setValue(QStringLiteral("panelAppearance"), QStringLiteral("dark"));
            StatusItemController tray(*h.app.state);
            QCOMPARE(tray.panelAppearance(), PanelAppearance::dark);
            QCOMPARE(tray.panelLook(), PanelLook::dark);
        }
        h.app.state->persistenceStore().waitForPendingSaves();
        QFile after(h.app.state->persistenceStore().currentFilePath());
        QCOMPARE(after.open(QIODevice::ReadOnly) ? after.readAll() : QByteArray(), stateBefore);
        QFile::remove(StatusItemController::appearanceSettingsPath());
    }

    // The update window wears the panel's look, the one of the moment it
    // opens: its background, its texts (4.5:1) and its buttons.
    void dialogLooks_data()
    {
        QTest::addColumn<bool>("dark");
        QTest::newRow("light") << false;
        QTest::newRow("dark") << true;
    }
    void dialogLooks()
    {
        QFETCH(bool, dark);
        PanelLook look = PanelLook::light;
        UpdateDialogs dialogs([](const QUrl &) {}, [&look] { return look; });
        look = dark ? PanelLook::dark : PanelLook::light;
        AppcastItem item;
        item.versionString = QStringLiteral("2.0");
        item.releaseNotesURL = QUrl(QStringLiteral("https://pendrel.com/notes/2.0"));
        item.enclosure = AppcastEnclosure{QUrl(QStringLiteral("https://pendrel.com/2.0.deb")), 1, {}, {}};
        dialogs.showUpdateFound(item, QStringLiteral("1.4.0"));
        QMessageBox *box = dialogs.current();
        QVERIFY(QTest::qWaitForWindowExposed(box));
        const QImage image = box->grab().toImage().convertToFormat(QImage::Format_RGB32);
        QHash<QRgb, int> counts;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                ++counts[image.pixel(x, y)];
        QRgb background = 0;
        for (auto it = counts.cbegin(); it != counts.cend(); ++it)
            if (it.value() > counts.value(background))
                background = it.key();
        const double luminance = relativeLuminance(QColor::fromRgb(background));
        QVERIFY2(dark ? luminance < 0.05 : luminance > 0.6, qPrintable(QColor::fromRgb(background).name()));
        // Each text against the window, and the buttons' text on the buttons.
        QStringList failures;
        for (QWidget *w : box->findChildren<QWidget *>()) {
            const bool label = qobject_cast<QLabel *>(w) && !static_cast<QLabel *>(w)->text().isEmpty()
                               && static_cast<QLabel *>(w)->pixmap().isNull();
            if (!w->isVisible() || !(label || qobject_cast<QAbstractButton *>(w)))
                continue;
            const QImage part = image.copy(QRect(w->mapTo(box, QPoint(0, 0)), w->size()));
            QHash<QRgb, int> inPart;
            for (int y = 0; y < part.height(); ++y)
                for (int x = 0; x < part.width(); ++x)
                    ++inPart[part.pixel(x, y)];
            QRgb behind = inPart.cbegin().key();
            for (auto it = inPart.cbegin(); it != inPart.cend(); ++it)
                if (it.value() > inPart.value(behind))
                    behind = it.key();
            double best = 1.0;
            for (auto it = inPart.cbegin(); it != inPart.cend(); ++it)
                best = std::max(best, contrastRatio(QColor::fromRgb(behind), QColor::fromRgb(it.key())));
            if (best < 4.5)
                failures << w->objectName() + u' ' + QString::number(best, 'f', 2);
        }
        QVERIFY2(failures.isEmpty(), qPrintable(failures.join(u", ")));
        QDir().mkpath(QStringLiteral(PENDREL_ARTIFACTS));
        image.save(QStringLiteral(PENDREL_ARTIFACTS "/update-dialog-%1.png").arg(dark ? u"dark" : u"light"));
    }

#ifdef PENDREL_TEST_PRODUCTION
    // Start publishes idle with the updater's flag, then the automatic
    // check runs without a window and finds the newer release.
    void startChecksInTheBackground()
    {
        UpdaterHarness h(true);
        h.serveFeed(ScriptedAnswer::text(200, feed(item(QStringLiteral("1.3")) + item(QStringLiteral("2.0"))),
                                         "application/rss+xml"));
        h.create();
        h.service->start();
        QVERIFY(!h.changes.isEmpty());
        QCOMPARE(h.changes.first().canCheckForUpdates, true);
        QVERIFY(std::any_of(h.changes.begin(), h.changes.end(), [](const AppUpdateState &s) {
            return s.status == AppUpdateStatus::idle && s.lastCheckedAt && s.canCheckForUpdates;
        }));
        QCOMPARE(h.state().canCheckForUpdates, false); // the background check is running
        QVERIFY(QTest::qWaitFor([&] { return h.state().status == AppUpdateStatus::updateAvailable; }, 5000));
        QCOMPARE(h.state().availableVersion, QStringLiteral("2.0"));
        QCOMPARE(h.state().actionTitle(), QStringLiteral("Update to 2.0\u2026"));
        QCOMPARE(h.state().canCheckForUpdates, true);
        QCOMPARE(h.state().feedURL, QString::fromLatin1(bundleFeed));
        QCOMPARE(h.state().currentVersion, QStringLiteral("1.4.0"));
        QCOMPARE(h.changes.last(), h.state());
        QVERIFY(h.driver.shown.isEmpty());
        const auto requests = h.app.service.requestsTo("GET", QStringLiteral("/linux/appcast.xml"));
        QCOMPARE(requests.size(), 1);
        QVERIFY(requests.first().header("User-Agent").startsWith("Pendrel Publisher/1.4.0"));
        QCOMPARE(h.controllersMade, 1);
    }

    // With automatic checks on, the feed is read again every interval until
    // the user turns them off; the choice is kept.
    void automaticChecksRepeatUntilTurnedOff()
    {
        UpdaterHarness h(true);
        h.configuration.checkInterval = std::chrono::milliseconds(150);
        h.serveFeed(ScriptedAnswer::text(200, feed(item(QStringLiteral("1.4.0")))));
        h.create();
        h.service->start();
        QVERIFY(h.app.service.waitForRequests(3));
        h.service->updaterController()->setAutomaticallyChecksForUpdates(false);
        QVERIFY(QTest::qWaitFor([&] { return !h.service->updaterController()->isChecking(); }, 2000));
        const qsizetype seen = h.app.service.requests().size();
        QTest::qWait(400);
        QCOMPARE(h.app.service.requests().size(), seen);
        QCOMPARE(h.state().status, AppUpdateStatus::upToDate);

        UpdaterHarness again(true);
        again.configuration.settingsPath = h.configuration.settingsPath;
        again.create();
        again.service->start();
        QVERIFY(!again.service->updaterController()->automaticallyChecksForUpdates());
        QTest::qWait(100);
        QVERIFY(again.app.service.requests().isEmpty());
        QCOMPARE(again.state().status, AppUpdateStatus::idle);
    }

    void userCheckOutcomes_data()
    {
        QTest::addColumn<ScriptedAnswer>("answer");
        QTest::addColumn<int>("status");
        QTest::addColumn<std::optional<QString>>("available");
        QTest::addColumn<QString>("summary");
        QTest::addColumn<QString>("shown");
        using S = AppUpdateStatus;
        const auto rss = [](const QString &items) { return ScriptedAnswer::text(200, feed(items), "application/rss+xml"); };
        QTest::newRow("newer")
            << rss(item(QStringLiteral("2.0"), QStringLiteral("<sparkle:shortVersionString>\n 2.0 \n</sparkle:"
                                                               "shortVersionString><sparkle:releaseNotesLink>"
                                                               "notes.html</sparkle:releaseNotesLink>")))
            << int(S::updateAvailable) << std::optional(QStringLiteral("2.0")) << "Version 2.0 is available"
            << "found 2.0 over 1.4.0";
        QTest::newRow("display version only spaces")
            << rss(item(QStringLiteral("2.1"), QStringLiteral("<sparkle:shortVersionString>   </sparkle:"
                                                               "shortVersionString>")))
            << int(S::updateAvailable) << std::optional(QStringLiteral("2.1")) << "Version 2.1 is available"
            << "found 2.1 over 1.4.0";
        QTest::newRow("same version") << rss(item(QStringLiteral("1.4"))) << int(S::upToDate)
                                      << std::optional<QString>() << "Version 1.4.0 is current"
                                      << "current 1.4.0";
        QTest::newRow("only pre-releases of it") << rss(item(QStringLiteral("1.4.0b2"))) << int(S::upToDate)
                                                 << std::optional<QString>() << "Version 1.4.0 is current"
                                                 << "current 1.4.0";
        const QString failed = QStringLiteral("The update feed could not be loaded (HTTP 503 Service Unavailable).");
        QTest::newRow("server error") << ScriptedAnswer::text(503, "busy") << int(S::error)
                                      << std::optional<QString>() << failed << "error " + failed;
        const QString late = QStringLiteral("The update feed did not answer within 0.4 seconds.");
        ScriptedAnswer slow = rss(item(QStringLiteral("2.0")));
        slow.delayMs = 1500;
        QTest::newRow("time-out") << slow << int(S::error) << std::optional<QString>() << late << "error " + late;
        QTest::newRow("dropped") << ScriptedAnswer::dropped() << int(S::error) << std::optional<QString>()
                                 << "The update feed could not be reached: " << "error The update feed could";
        QTest::newRow("not a feed") << ScriptedAnswer::text(200, "<html></html>") << int(S::error)
                                    << std::optional<QString>() << "The update feed is not an RSS feed."
                                    << "error The update feed is not an RSS feed.";
    }
    void userCheckOutcomes()
    {
        QFETCH(ScriptedAnswer, answer);
        UpdaterHarness h;
        h.serveFeed(answer);
        h.create();
        h.service->start();
        QCOMPARE(h.state().status, AppUpdateStatus::idle);
        QVERIFY(h.state().canCheckForUpdates);
        QVERIFY(h.app.service.requests().isEmpty()); // automatic checks are off here

        h.changes.clear();
        QVERIFY(h.userCheck());
        QCOMPARE(h.changes.first().status, AppUpdateStatus::checking);
        QVERIFY(std::any_of(h.changes.begin(), h.changes.end(), [](const AppUpdateState &s) {
            return s.status == AppUpdateStatus::checking && !s.canCheckForUpdates;
        }));
        QFETCH(int, status);
        QCOMPARE(int(h.state().status), status);
        QTEST(h.state().availableVersion, "available");
        QFETCH(QString, summary);
        QVERIFY2(h.state().statusSummary().startsWith(summary), qPrintable(h.state().statusSummary()));
        QVERIFY(h.state().canCheckForUpdates);
        QCOMPARE(h.changes.last(), h.state());
        QFETCH(QString, shown);
        QCOMPARE(h.driver.shown.size(), 1);
        QVERIFY2(h.driver.shown.first().startsWith(shown), qPrintable(h.driver.shown.first()));
        if (h.state().status == AppUpdateStatus::updateAvailable && QTest::currentDataTag() == QByteArray("newer"))
            QCOMPARE(h.state().releaseNotesURL, h.configuration.feedURL.section(u'/', 0, -2) + "/notes.html");
    }

    // A known update stays on show while a new check runs and after it
    // fails; the menu entry follows the state.
    void knownUpdateStaysVisible()
    {
        UpdaterHarness h;
        StatusItemController tray(*h.app.state);
        h.serveFeed(ScriptedAnswer::text(200, feed(item(QStringLiteral("2.0")))));
        h.create();
        h.service->start();
        QAction *entry = tray.contextMenu().actions().first();
        QCOMPARE(entry->text(), QStringLiteral("Check for Updates\u2026"));
        QVERIFY(entry->isEnabled());
        entry->trigger();
        QVERIFY(QTest::qWaitFor([&] { return h.state().status == AppUpdateStatus::updateAvailable; }, 5000));
        QCOMPARE(entry->text(), QStringLiteral("Update to 2.0\u2026"));
        QVERIFY(entry->isEnabled());

        ScriptedAnswer slow = ScriptedAnswer::text(500, "down");
        slow.delayMs = 200;
        h.serveFeed(slow);
        entry->trigger();
        QVERIFY(QTest::qWaitFor([&] { return h.state().status == AppUpdateStatus::checking; }, 2000));
        QCOMPARE(h.state().availableVersion, QStringLiteral("2.0"));
        QVERIFY(!entry->isEnabled());
        QCOMPARE(entry->text(), QStringLiteral("Update to 2.0\u2026"));
        QVERIFY(QTest::qWaitFor([&] { return h.state().status == AppUpdateStatus::error; }, 5000));
        QCOMPARE(h.state().availableVersion, QStringLiteral("2.0"));
        QVERIFY(entry->isEnabled());
    }

    // A feed address the updater must not use ends start-up in the error
    // state; a later request reports the same reason instead of hanging.
    void startFailure_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("message");
        QTest::newRow("plain HTTP elsewhere") << "http://updates.pendrel.test/appcast.xml"
                                              << "The update feed must be served over HTTPS: http://updates.pendrel.test/appcast.xml";
        QTest::newRow("not an address") << "appcast.xml" << "The update feed address is not valid: \"appcast.xml\".";
        QTest::newRow("a file") << "file:///etc/passwd" << "The update feed address is not valid: \"file:///etc/passwd\".";
    }
    void startFailure()
    {
        QFETCH(QString, address);
        QFETCH(QString, message);
        UpdaterHarness h(true);
        h.configuration.feedURL = address;
        h.create();
        h.service->start();
        QCOMPARE(h.state().status, AppUpdateStatus::error);
        QCOMPARE(h.state().errorMessage, message);
        QVERIFY(!h.state().canCheckForUpdates);
        QVERIFY(h.app.state->onCheckForUpdatesRequested);
        h.app.state->onCheckForUpdatesRequested();
        QVERIFY(QTest::qWaitFor([&] { return h.driver.shown.size() == 1; }, 2000));
        QCOMPARE(h.driver.shown.first(), "error " + message);
        QCOMPARE(h.state().status, AppUpdateStatus::error);
        QCOMPARE(h.state().errorMessage, message);
    }

    // The standard configuration reads the bundle's feed first.
    void standardConfiguration()
    {
        qputenv("PENDREL_APPCAST_URL", "  https://elsewhere.test/feed.xml ");
        const UpdaterConfiguration configuration = UpdaterConfiguration::standard();
        QCOMPARE(configuration.feedURL, QString::fromLatin1(bundleFeed));
        QCOMPARE(configuration.currentVersion, QStringLiteral("1.4.0"));
        QVERIFY(configuration.settingsPath.endsWith(u"/PendrelPublisher/com-pendrel-publisher/updater.conf"));
        QCOMPARE(configuration.checkInterval, std::chrono::hours(24));
        qunsetenv("PENDREL_APPCAST_URL");
    }
#else
    // A development build explains itself once and never checks.
    void developmentBuildOnlyExplains()
    {
        UpdaterHarness h(true);
        StatusItemController tray(*h.app.state);
        const auto menuFollows = h.app.state->onUpdateStateChange;
        h.app.state->onUpdateStateChange = [&h, menuFollows](const AppUpdateState &s) {
            h.changes.append(s);
            menuFollows(s);
        };
        h.serveFeed(ScriptedAnswer::text(200, feed(item(QStringLiteral("9.0")))));
        const AppUpdateState before = h.state();
        h.create();
        h.service->start();
        QCOMPARE(h.changes.size(), 1);
        QCOMPARE(h.changes.first().errorMessage, QStringLiteral("Updates are available only in the production build."));
        QCOMPARE(h.changes.first().status, AppUpdateStatus::idle);
        QVERIFY(!h.changes.first().canCheckForUpdates);
        QVERIFY(!h.changes.first().feedURL);
        QCOMPARE(h.state(), before); // the stored record is left alone
        QVERIFY(!h.app.state->onCheckForUpdatesRequested);

        h.service->checkForUpdates();
        QTest::qWait(100);
        QCOMPARE(h.state(), before);
        QVERIFY(h.app.service.requests().isEmpty());
        QCOMPARE(h.controllersMade, 0);
        QAction *entry = tray.contextMenu().actions().first();
        QCOMPARE(entry->text(), QStringLiteral("Check for Updates\u2026"));
        QVERIFY(!entry->isEnabled());
    }
#endif
};

QTEST_MAIN(TestUpdates)
#include "tst_updates.moc"
