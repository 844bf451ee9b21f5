#include "platform/XdgLoginItemBackend.h"
#include "shell/LaunchAtLoginService.h"
#include "state/AppConfiguration.h"
#include "state/AppState.h"

#include <QTest>

#include "AppStateHarness.h"

using namespace pendrel;
using namespace pendrel::test;

Q_DECLARE_METATYPE(pendrel::LoginItemBackend::Status)

// The production build: the only one that registers itself.
class TestLaunchAtLogin : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        AppConfiguration::setBundleInfo(BundleInfo{QStringLiteral("com.pendrel.publisher"), {}, {}});
        QCOMPARE(AppConfiguration::bundleIdentifier(), QStringLiteral("com.pendrel.publisher"));
    }

    void snapshot_data()
    {
        using S = LoginItemBackend::Status;
        QTest::addColumn<S>("status");
        QTest::addColumn<bool>("enabled");
        QTest::addColumn<QString>("text");
        QTest::newRow("not registered") << S::notRegistered << false << "";
        QTest::newRow("enabled") << S::enabled << true << "";
        QTest::newRow("requires approval")
            << S::requiresApproval << false << "Enable Pendrel in Login Items to finish setup.";
        QTest::newRow("not found") << S::notFound << false
                                   << "Launch at login becomes available in the packaged app.";
        QTest::newRow("unavailable") << S::unavailable << false
                                     << "Launch at login is temporarily unavailable.";
    }
    void snapshot()
    {
        QFETCH(LoginItemBackend::Status, status);
        QFETCH(bool, enabled);
        QFETCH(QString, text);
        FakeLoginItems items;
        items.current = status;
        const LaunchAtLoginSnapshot s = LaunchAtLoginService(items).currentSnapshot();
        QCOMPARE(s.isEnabled, enabled);
        QCOMPARE(s.helperText.value_or(QString()), text);
    }

    // The outcome, not the request, decides the switch.
    void switching()
    {
        AppStateHarness h;
        blockingWait(h.state->bootstrap());
        QVERIFY(!h.state->launchAtLoginEnabled() && !h.state->launchAtLoginHelperText());
        h.state->setLaunchAtLoginEnabled(true);
        QVERIFY(h.state->launchAtLoginEnabled());
        QCOMPARE(h.loginItems.current, LoginItemBackend::Status::enabled);
        h.loginItems.refusal = QStringLiteral("The autostart folder is not writable.");
        h.state->setLaunchAtLoginEnabled(false);
        QVERIFY(!h.state->launchAtLoginEnabled());
        QCOMPARE(h.state->launchAtLoginHelperText(), QStringLiteral("The autostart folder is not writable."));
        QCOMPARE(h.loginItems.current, LoginItemBackend::Status::enabled); // still registered
    }

    // A production build that is not installed: nothing is written that the
    // switch could not show and remove; an entry already there can be removed.
    void notInstalled()
    {
        QTemporaryDir dir;
        const QString autostart = dir.filePath(QStringLiteral("autostart"));
        XdgLoginItemBackend items(autostart, dir.filePath(QStringLiteral("missing.desktop")),
                                  QStringLiteral("/tmp/build/pendrel-publisher"));
        LaunchAtLoginService service(items);
        const LaunchAtLoginSnapshot on = service.setEnabled(true);
        QVERIFY(!on.isEnabled);
        QCOMPARE(on.helperText, QStringLiteral("Launch at login becomes available in the packaged app."));
        QVERIFY(!QFileInfo::exists(items.entryPath()));

        QDir().mkpath(autostart);
        QFile left(items.entryPath());
        QVERIFY(left.open(QIODevice::WriteOnly));
        left.write("[Desktop Entry]\nType=Application\nExec=/tmp/build/pendrel-publisher\n");
        left.close();
        QVERIFY(service.currentSnapshot().isEnabled);
        QVERIFY(!service.setEnabled(false).isEnabled);
        QVERIFY(!QFileInfo::exists(items.entryPath()));
    }
};

QTEST_GUILESS_MAIN(TestLaunchAtLogin)
#include "tst_launchatlogin.moc"
