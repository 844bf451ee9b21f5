// GNOME's custom keyboard shortcut for --capture, written and read back
// through the real GSettings with GNOME's own schemas, on the real dconf
// (dconf-service activated on a bus of the test's own, in a throwaway
// configuration folder, so the user's settings are never touched).

#include "platform/GnomeShortcutSetup.h"
#include "support/Error.h"

#include "../support/PrivateBus.h"

#include <QDBusConnectionInterface>
#include <QDBusReply>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <QCoroTimer>

#include <csignal>
#include <memory>
#include <signal.h>

using namespace pendrel;

namespace {

const QString kMediaKeys = QStringLiteral("org.gnome.settings-daemon.plugins.media-keys");
const QString kCustom = QStringLiteral("org.gnome.settings-daemon.plugins.media-keys.custom-keybinding");
const QString kFolder = QStringLiteral("/org/gnome/settings-daemon/plugins/media-keys/custom-keybindings/");

// The `gsettings` tool's view: a second, independent reader and writer.
QString gsettings(const QStringList &arguments)
{
    QProcess tool;
    tool.start(QStringLiteral("gsettings"), arguments);
    if (!tool.waitForFinished(20000) || tool.exitCode() != 0)
        qFatal("gsettings %s: %s", qPrintable(arguments.join(u' ')), tool.readAllStandardError().constData());
    return QString::fromUtf8(tool.readAllStandardOutput()).trimmed();
}

QString customKey(const QString &slot, const QString &key)
{
    return gsettings({QStringLiteral("get"), kCustom + u':' + kFolder + slot + u'/', key});
}

void setCustom(const QString &slot, const QString &name, const QString &binding)
{
    const QString schema = kCustom + u':' + kFolder + slot + u'/';
    gsettings({QStringLiteral("set"), schema, QStringLiteral("name"), name});
    gsettings({QStringLiteral("set"), schema, QStringLiteral("command"), QStringLiteral("true")});
    gsettings({QStringLiteral("set"), schema, QStringLiteral("binding"), binding});
}

QString dconfDump()
{
    QProcess tool;
    tool.start(QStringLiteral("dconf"), {QStringLiteral("dump"), QStringLiteral("/")});
    tool.waitForFinished(20000);
    return QString::fromUtf8(tool.readAllStandardOutput());
}

} // namespace

class TestGnomeShortcut : public QObject {
    Q_OBJECT

    QTemporaryDir home_;
    std::unique_ptr<test::PrivateBus> bus_;

    static GnomeShortcutSetup setup(bool portal = false)
    {
        // Answers at once (the task runs to its end before returning).
        return GnomeShortcutSetup(QStringLiteral("pendrel-publisher --capture"),
                                  [portal]() -> QCoro::Task<bool> { co_return portal; });
    }

private slots:
    void initTestCase()
    {
        // Before the first GSettings use: GLib reads these once.
        qputenv("XDG_CONFIG_HOME", home_.filePath(QStringLiteral("config")).toUtf8());
        qputenv("XDG_RUNTIME_DIR", home_.filePath(QStringLiteral("run")).toUtf8());
        qputenv("GSETTINGS_BACKEND", "dconf");
        bus_ = std::make_unique<test::PrivateBus>();
        if (!bus_->ok())
            QSKIP("dbus-daemon is not available");
        qputenv("DBUS_SESSION_BUS_ADDRESS", bus_->address().toUtf8());
        QVERIFY2(gsettings({QStringLiteral("list-schemas")}).split(u'\n').contains(kMediaKeys),
                 "GNOME's schemas are missing (scripts/install-deps installs them)");
    }

    void cleanupTestCase()
    {
        // The bus started dconf-service for us; it does not always end with
        // the bus, so it is ended here.
        const QDBusReply<uint> service = bus_->connect(QStringLiteral("cleanup")).interface()->servicePid(
            QStringLiteral("ca.desrt.dconf"));
        if (service.isValid())
            ::kill(pid_t(service.value()), SIGKILL);
        // dconf's connection ends the process with SIGTERM when its bus goes
        // away, as the test's own does once the test is over.
        std::signal(SIGTERM, SIG_IGN);
    }

    void cleanup()
    {
        for (const QString &schema :
             {kMediaKeys, QStringLiteral("org.gnome.shell.keybindings"), QStringLiteral("org.gnome.desktop.wm.keybindings")})
            gsettings({QStringLiteral("reset-recursively"), schema});
        for (const QString &slot : {QStringLiteral("custom0"), QStringLiteral("custom1"), QStringLiteral("custom2")})
            gsettings({QStringLiteral("reset-recursively"), kCustom + u':' + kFolder + slot + u'/'});
    }

    void accelerators_data()
    {
        QTest::addColumn<QString>("accelerator");
        QTest::addColumn<QString>("keys");
        QTest::addColumn<bool>("same");
        const QString superShiftS = QStringLiteral("Super+Shift+S");
        QTest::newRow("ours") << QStringLiteral("<Super><Shift>s") << superShiftS << true;
        QTest::newRow("other order, capital") << QStringLiteral("<Shift><Super>S") << superShiftS << true;
        QTest::newRow("Mod4") << QStringLiteral("<Mod4><Shift>s") << superShiftS << true;
        QTest::newRow("no shift") << QStringLiteral("<Super>s") << superShiftS << false;
        QTest::newRow("one more modifier") << QStringLiteral("<Primary><Super><Shift>s") << superShiftS << false;
        QTest::newRow("another key") << QStringLiteral("<Super><Shift>d") << superShiftS << false;
        QTest::newRow("longer key name") << QStringLiteral("<Super><Shift>space") << superShiftS << false;
        QTest::newRow("disabled") << QStringLiteral("") << superShiftS << false;
        // Keys the user chose, as GNOME writes them.
        QTest::newRow("chosen, Primary") << QStringLiteral("<Primary><Alt>p") << QStringLiteral("Ctrl+Alt+P") << true;
        QTest::newRow("chosen, Control") << QStringLiteral("<Control><Alt>P") << QStringLiteral("Ctrl+Alt+P") << true;
        QTest::newRow("chosen, default is another") << QStringLiteral("<Super><Shift>s") << QStringLiteral("Ctrl+Alt+P")
                                                    << false;
        QTest::newRow("chosen F-key") << QStringLiteral("<Super>F9") << QStringLiteral("Super+F9") << true;
        QTest::newRow("chosen named key") << QStringLiteral("<Alt><Super>Page_Up") << QStringLiteral("Alt+Super+PgUp")
                                          << true;
        QTest::newRow("Hyper is not Super") << QStringLiteral("<Hyper><Shift>s") << superShiftS << false;
    }
    void accelerators()
    {
        QFETCH(QString, accelerator);
        QFETCH(QString, keys);
        QFETCH(bool, same);
        const std::optional<ShortcutKeys> chosen = ShortcutKeys::fromText(keys);
        QVERIFY(chosen);
        QCOMPARE(GnomeShortcutSetup::sameKeys(accelerator, *chosen), same);
    }

    // GNOME's own bindings of the same keys are named, with where they are set.
    void builtInBindings_data()
    {
        QTest::addColumn<QString>("schema");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("value");
        QTest::addColumn<QList<ShortcutSetup::Binding>>("expected");
        QTest::newRow("defaults") << QString() << QString() << QString() << QList<ShortcutSetup::Binding>{};
        QTest::newRow("screenshot UI") << QStringLiteral("org.gnome.shell.keybindings")
                                       << QStringLiteral("show-screenshot-ui")
                                       << QStringLiteral("['Print', '<Shift><Super>s']")
                                       << QList<ShortcutSetup::Binding>{
                                              {QStringLiteral("Take a screenshot interactively"),
                                               QStringLiteral("GNOME Shell")}};
        QTest::newRow("window manager") << QStringLiteral("org.gnome.desktop.wm.keybindings")
                                        << QStringLiteral("switch-to-workspace-1")
                                        << QStringLiteral("['<Super><Shift>S']")
                                        << QList<ShortcutSetup::Binding>{
                                               {QStringLiteral("Switch to workspace 1"),
                                                QStringLiteral("GNOME's window shortcuts")}};
        QTest::newRow("settings daemon") << kMediaKeys << QStringLiteral("www") << QStringLiteral("['<Super><Shift>s']")
                                           << QList<ShortcutSetup::Binding>{
                                                  {QStringLiteral("Launch web browser"),
                                                   QStringLiteral("GNOME's keyboard shortcuts")}};
        QTest::newRow("Super+S is another") << QStringLiteral("org.gnome.shell.keybindings")
                                            << QStringLiteral("show-screenshot-ui") << QStringLiteral("['<Super>s']")
                                            << QList<ShortcutSetup::Binding>{};
    }
    void builtInBindings()
    {
        QFETCH(QString, schema);
        QFETCH(QString, key);
        QFETCH(QString, value);
        QFETCH(QList<ShortcutSetup::Binding>, expected);
        if (!schema.isEmpty())
            gsettings({QStringLiteral("set"), schema, key, value});
        QCOMPARE(setup().otherBindings(), expected);
    }

    // Nothing is written until asked; then our entry joins the others' and
    // leaves them as they were when removed.
    void addAndRemove()
    {
        setCustom(QStringLiteral("custom0"), QStringLiteral("Terminal"), QStringLiteral("<Super>t"));
        setCustom(QStringLiteral("custom1"), QStringLiteral("Flameshot"), QStringLiteral("<Shift><Super>S"));
        const QString others = QStringLiteral("['%1custom0/', '%1custom1/']").arg(kFolder);
        gsettings({QStringLiteral("set"), kMediaKeys, QStringLiteral("custom-keybindings"), others});
        const QString before = dconfDump();

        GnomeShortcutSetup gnome = setup();
        int changes = 0;
        gnome.changed = [&] { ++changes; };
        QVERIFY(!gnome.isAdded());
        const QList<ShortcutSetup::Binding> flameshot{{QStringLiteral("Flameshot"), QStringLiteral("your custom shortcuts")}};
        QCOMPARE(gnome.otherBindings(), flameshot);
        QCOMPARE(dconfDump(), before);

        // The settings daemon would run only one of two custom shortcuts
        // with the same keys: ours is not added while another has them.
        QCOMPARE(gnome.blockingBindings(), flameshot);
        try {
            gnome.add();
            QFAIL("added a binding that could never fire");
        } catch (const pendrel::Error &e) {
            QVERIFY2(e.description().contains(u"\u201CFlameshot\u201D (your custom shortcuts)"),
                     qPrintable(e.description()));
        }
        QVERIFY(!gnome.isAdded());
        QCOMPARE(dconfDump(), before);
        QCOMPARE(changes, 0);

        // Flameshot moved to other keys: ours goes in.
        setCustom(QStringLiteral("custom1"), QStringLiteral("Flameshot"), QStringLiteral("<Super>f"));
        QVERIFY(gnome.blockingBindings().isEmpty());
        gnome.add();
        gnome.add(); // once only
        QCOMPARE(gsettings({QStringLiteral("get"), kMediaKeys, QStringLiteral("custom-keybindings")}),
                 QStringLiteral("['%1custom0/', '%1custom1/', '%1custom2/']").arg(kFolder));
        QCOMPARE(customKey(QStringLiteral("custom2"), QStringLiteral("name")), QStringLiteral("'Pendrel Publisher: capture'"));
        QCOMPARE(customKey(QStringLiteral("custom2"), QStringLiteral("command")), QStringLiteral("'pendrel-publisher --capture'"));
        QCOMPARE(customKey(QStringLiteral("custom2"), QStringLiteral("binding")), QStringLiteral("'<Super><Shift>s'"));
        QVERIFY(gnome.isAdded());
        QVERIFY(gnome.otherBindings().isEmpty());
        QCOMPARE(changes, 1);

        gnome.remove();
        QCOMPARE(changes, 2);
        QVERIFY(!gnome.isAdded());
        QCOMPARE(gsettings({QStringLiteral("get"), kMediaKeys, QStringLiteral("custom-keybindings")}), others);
        QCOMPARE(customKey(QStringLiteral("custom2"), QStringLiteral("name")), QStringLiteral("''"));
        QCOMPARE(customKey(QStringLiteral("custom0"), QStringLiteral("binding")), QStringLiteral("'<Super>t'"));
    }

    // Chosen keys: another binding of them, custom or GNOME's own, keeps
    // ours out and is named; one added follows the keys when they change.
    void chosenKeys()
    {
        setCustom(QStringLiteral("custom0"), QStringLiteral("Flameshot"), QStringLiteral("<Primary><Alt>p"));
        gsettings({QStringLiteral("set"), kMediaKeys, QStringLiteral("custom-keybindings"),
                   QStringLiteral("['%1custom0/']").arg(kFolder)});
        gsettings({QStringLiteral("set"), QStringLiteral("org.gnome.desktop.wm.keybindings"),
                   QStringLiteral("switch-to-workspace-1"), QStringLiteral("['<Super>F9']")});
        GnomeShortcutSetup gnome = setup();
        int changes = 0;
        gnome.changed = [&] { ++changes; };
        QVERIFY(gnome.blockingBindings().isEmpty()); // Super+Shift+S is free

        gnome.setKeys(*ShortcutKeys::fromText(u"Ctrl+Alt+P"));
        const QList<ShortcutSetup::Binding> flameshot{{QStringLiteral("Flameshot"), QStringLiteral("your custom shortcuts")}};
        QCOMPARE(gnome.blockingBindings(), flameshot);
        try {
            gnome.add();
            QFAIL("added a binding that could never fire");
        } catch (const pendrel::Error &e) {
            QVERIFY2(e.description().startsWith(u"Ctrl+Alt+P is already \u201CFlameshot\u201D (your custom shortcuts); "
                                                u"choose other keys"),
                     qPrintable(e.description()));
        }
        QVERIFY(!gnome.isAdded());

        gnome.setKeys(*ShortcutKeys::fromText(u"Super+F9"));
        QCOMPARE(gnome.blockingBindings(),
                 (QList<ShortcutSetup::Binding>{{QStringLiteral("Switch to workspace 1"),
                                                 QStringLiteral("GNOME's window shortcuts")}}));
        QVERIFY_THROWS_EXCEPTION(pendrel::Error, gnome.add());
        QCOMPARE(changes, 0);

        gnome.setKeys(*ShortcutKeys::fromText(u"Ctrl+Alt+O"));
        QVERIFY(gnome.blockingBindings().isEmpty());
        gnome.add();
        QCOMPARE(customKey(QStringLiteral("custom1"), QStringLiteral("binding")), QStringLiteral("'<Control><Alt>o'"));
        gnome.setKeys(*ShortcutKeys::fromText(u"Super+F8"));
        QCOMPARE(customKey(QStringLiteral("custom1"), QStringLiteral("binding")), QStringLiteral("'<Super>F8'"));
        QCOMPARE(changes, 2);
        QCOMPARE(customKey(QStringLiteral("custom0"), QStringLiteral("binding")), QStringLiteral("'<Primary><Alt>p'"));
    }

    void applies_data()
    {
        QTest::addColumn<QString>("desktop");
        QTest::addColumn<bool>("portal");
        QTest::addColumn<bool>("added");
        QTest::addColumn<bool>("applies");
        QTest::newRow("Ubuntu's GNOME") << QStringLiteral("ubuntu:GNOME") << false << false << true;
        QTest::newRow("GNOME with the portal") << QStringLiteral("GNOME") << true << false << false;
        QTest::newRow("portal, but still set up") << QStringLiteral("GNOME") << true << true << true;
        QTest::newRow("KDE") << QStringLiteral("KDE") << false << false << false;
        QTest::newRow("no desktop") << QString() << false << false << false;
    }
    void applies()
    {
        QFETCH(QString, desktop);
        QFETCH(bool, portal);
        QFETCH(bool, added);
        QFETCH(bool, applies);
        qputenv("XDG_CURRENT_DESKTOP", desktop.toUtf8());
        GnomeShortcutSetup gnome = setup(portal);
        if (added)
            gnome.add();
        QCOMPARE(gnome.applies(), applies);
    }

    // The portal's answer is not waited for: nothing is offered before it,
    // and the panel is told when it comes.
    void portalAnswersLate()
    {
        qputenv("XDG_CURRENT_DESKTOP", "GNOME");
        int answers = 0;
        GnomeShortcutSetup gnome(
            QStringLiteral("pendrel-publisher --capture"),
            []() -> QCoro::Task<bool> {
                QTimer later;
                later.setSingleShot(true);
                later.start(50);
                co_await later;
                co_return false;
            },
            [&] { ++answers; });
        QVERIFY(!gnome.applies());
        QCOMPARE(answers, 0);
        QVERIFY(QTest::qWaitFor([&] { return answers == 1; }, 5000));
        QVERIFY(gnome.applies());
        QCOMPARE(answers, 1);
    }
};

QTEST_GUILESS_MAIN(TestGnomeShortcut)
#include "tst_gnomeshortcut.moc"
