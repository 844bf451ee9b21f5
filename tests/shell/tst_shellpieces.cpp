#include "platform/DesktopSession.h"
#include "platform/ShortcutSetup.h"
#include "platform/X11HotkeyBackend.h"
#include "shell/PanelPlacement.h"
#include "shell/GlobalShortcutService.h"
#include "shell/PanelWindow.h"
#include "shell/SingleInstance.h"
#include "shell/StatusIconPresenter.h"
#include "ui/PanelPieces.h"

#include <QFile>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <xcb/xproto.h>

#include "PrivateBus.h"

using namespace pendrel;

Q_DECLARE_METATYPE(std::optional<QRect>)
Q_DECLARE_METATYPE(pendrel::IconLook)

namespace {

// Which pixels of the icon are (mostly) opaque: its shape, colour aside.
QList<bool> alphaMask(const QImage &image)
{
    QList<bool> mask;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            mask.append(qAlpha(image.pixel(x, y)) > 127);
    return mask;
}

// A desktop's answers, given by the test.
class ScriptedHotkeys final : public HotkeyBackend {
public:
    bool registers = true;
    bool later = false;
    QString holding;
    QStringList calls; // "register Ctrl+Alt+P", "unregister"
    bool registerHotkey(std::function<void()>) override
    {
        calls << QStringLiteral("register ") + keys_.displayText();
        return registers;
    }
    void unregisterHotkey() override { calls << QStringLiteral("unregister"); }
    [[nodiscard]] bool answersLater() const override { return later; }
    [[nodiscard]] QString holder() const override { return holding; }
    void say(HotkeyState state, const QString &trigger = {}) { report(state, trigger); }
};

// GNOME's custom shortcut as the settings row sees it.
class ScriptedSetup final : public ShortcutSetup {
public:
    bool applying = true;
    bool added = false;
    bool settled = true;
    QList<Binding> others;
    QList<Binding> blocking;
    ShortcutKeys keys;
    void setKeys(const ShortcutKeys &k) override { keys = k; }
    [[nodiscard]] bool applies() const override { return applying; }
    [[nodiscard]] bool isAdded() const override { return added; }
    [[nodiscard]] QList<Binding> otherBindings() const override { return others; }
    [[nodiscard]] QList<Binding> blockingBindings() const override { return blocking; }
    [[nodiscard]] bool isSettled() const override { return settled; }
    void add() override { added = true; }
    void remove() override { added = false; }
};

// The lines the service wrote to the log.
QStringList shortcutLines;
void keepShortcutLines(QtMsgType, const QMessageLogContext &, const QString &message)
{
    if (message.startsWith(u"Keyboard shortcut: "))
        shortcutLines.append(message.mid(19));
}

} // namespace

class TestShellPieces : public QObject {
    Q_OBJECT

    QList<IconLook> shown;
    StatusIconState current = StatusIconState::idle();

    std::unique_ptr<StatusIconPresenter> presenter()
    {
        shown.clear();
        return std::make_unique<StatusIconPresenter>([this](const IconLook &l) { shown.append(l); },
                                                     [this] { return current; });
    }

private slots:
    // The hotkey path follows what the user logged into, not which display
    // answers: Wayland sessions offer Xwayland too.
    void sessionKind_data()
    {
        QTest::addColumn<QString>("type");
        QTest::addColumn<QString>("wayland");
        QTest::addColumn<QString>("x11");
        QTest::addColumn<QString>("desktop");
        QTest::addColumn<int>("kind");
        QTest::addColumn<bool>("kde");
        const int w = int(SessionKind::Wayland), x = int(SessionKind::X11), none = int(SessionKind::None);
        QTest::newRow("wayland with xwayland") << "wayland" << "wayland-0" << ":0" << "KDE" << w << true;
        QTest::newRow("wayland display only") << "" << "wayland-1" << ":1" << "ubuntu:GNOME" << w << false;
        QTest::newRow("session type only") << "wayland" << "" << "" << "sway" << w << false;
        QTest::newRow("x11") << "x11" << "" << ":0" << "XFCE" << x << false;
        QTest::newRow("display only") << "" << "" << ":0" << "KDE" << x << true;
        QTest::newRow("tty") << "tty" << "" << "" << "" << none << false;
    }
    void sessionKind()
    {
        QFETCH(QString, type);
        QFETCH(QString, wayland);
        QFETCH(QString, x11);
        QFETCH(QString, desktop);
        QFETCH(int, kind);
        QFETCH(bool, kde);
        QProcessEnvironment env;
        const auto put = [&](const char *name, const QString &value) {
            if (!value.isEmpty())
                env.insert(QString::fromLatin1(name), value);
        };
        put("XDG_SESSION_TYPE", type);
        put("WAYLAND_DISPLAY", wayland);
        put("DISPLAY", x11);
        put("XDG_CURRENT_DESKTOP", desktop);
        QCOMPARE(int(pendrel::sessionKind(env)), kind);
        QCOMPARE(isKdeDesktop(env), kde);
        QCOMPARE(qtPlatformFor(SessionKind(kind)).startsWith("wayland"), kind == int(SessionKind::Wayland));
    }

    void panelFitsScreen_data()
    {
        QTest::addColumn<int>("wanted");
        QTest::addColumn<int>("available");
        QTest::addColumn<int>("frame");
        QTest::addColumn<int>("height");
        QTest::newRow("signed in on 800") << 762 << 800 << 38 << 762;
        QTest::newRow("signed in on 768") << 762 << 768 << 38 << 730;
        QTest::newRow("taller than screen") << 762 << 600 << 0 << 600;
        QTest::newRow("signed out fits") << 550 << 600 << 38 << 550;
        QTest::newRow("screen unknown") << 762 << 0 << 0 << 762;
    }
    void panelFitsScreen()
    {
        QFETCH(int, wanted);
        QFETCH(int, available);
        QFETCH(int, frame);
        QFETCH(int, height);
        QCOMPARE(PanelWindow::fittedHeight(wanted, available, frame), height);
    }

    // A repeated processing state keeps the animation where it is.
    void animationIsNotRestarted()
    {
        auto p = presenter();
        current = StatusIconState::processing(1);
        p->apply(current);
        QCOMPARE(shown, (QList<IconLook>{IconLook{StatusIconPresenter::processingColors[0], IconBadge::working, 0}}));
        QVERIFY(QTest::qWaitFor([&] { return shown.size() == 2; }, 2000));
        QCOMPARE(shown[1], (IconLook{StatusIconPresenter::processingColors[1], IconBadge::working, 1}));
        p->apply(StatusIconState::processing(2));
        QCOMPARE(shown.size(), 2); // no frame drawn again, counter kept
        QCOMPARE(p->animationFrame(), 2);
        QVERIFY(QTest::qWaitFor([&] { return shown.size() == 4; }, 2000));
        QCOMPARE(shown[2], (IconLook{StatusIconPresenter::processingColors[2], IconBadge::working, 2}));
        QCOMPARE(shown[3], (IconLook{StatusIconPresenter::processingColors[0], IconBadge::working, 0}));
        p->apply(StatusIconState::idle());
        QVERIFY(!p->isAnimating());
        QCOMPARE(p->animationFrame(), 0);
        QCOMPARE(shown.last(), IconLook{});
    }

    void delayedReturn()
    {
        auto p = presenter();
        current = StatusIconState::success();
        p->apply(current);
        QCOMPARE(shown.last(), (IconLook{StatusIconPresenter::successTint, IconBadge::success}));
        // Processing starts within 1.4 s: the return is skipped.
        current = StatusIconState::processing(1);
        p->apply(current);
        QTest::qWait(StatusIconPresenter::returnDelayMs + 200);
        QVERIFY(std::none_of(shown.begin(), shown.end(), [](const IconLook &l) { return !l.tint; }));

        // Success then error: red, and the first return already restores the plain icon.
        auto q = presenter();
        current = StatusIconState::success();
        q->apply(current);
        QTest::qWait(300);
        current = StatusIconState::error();
        q->apply(current);
        QCOMPARE(shown.last(), (IconLook{StatusIconPresenter::errorTint, IconBadge::error}));
        QVERIFY(
            QTest::qWaitFor([&] { return shown.last() == IconLook{}; }, StatusIconPresenter::returnDelayMs));
    }

    // What the log line and the settings' row say, by what the desktop
    // answered and what it lets the user do instead.
    void shortcutStatus_data()
    {
        QTest::addColumn<int>("state");
        QTest::addColumn<QString>("trigger");
        QTest::addColumn<QString>("holder");  // as the backend names it
        QTest::addColumn<QString>("setup");   // "", "offered", "added", "blocked", "elsewhere"
        QTest::addColumn<QString>("keys");    // the user's choice; "" for the default
        QTest::addColumn<QString>("desktop"); // XDG_CURRENT_DESKTOP
        QTest::addColumn<QString>("text");
        const int active = int(HotkeyState::Active), declined = int(HotkeyState::Declined),
                  unavailable = int(HotkeyState::Unavailable), pending = int(HotkeyState::Pending);
        QTest::newRow("bound") << active << "Meta+Shift+S" << "" << "" << "" << ""
                               << "Super+Shift+S captures the clipboard.";
        QTest::newRow("bound to other keys")
            << active << "Ctrl+Alt+P" << "" << "" << "" << ""
            << "Ctrl+Alt+P captures the clipboard (the desktop's choice; change it in its keyboard settings).";
        QTest::newRow("bound to the chosen keys") << active << "" << "" << "" << "Alt+Super+F5" << ""
                                                  << "Alt+Super+F5 captures the clipboard.";
        QTest::newRow("KDE: the chosen keys, said with Meta")
            << active << "Meta+Ctrl+P" << "" << "" << "Ctrl+Super+P" << ""
            << "Ctrl+Super+P captures the clipboard.";
        QTest::newRow("portal: the desktop assigned others than chosen")
            << active << "Ctrl+Alt+Q" << "" << "" << "Ctrl+Alt+P" << ""
            << "Ctrl+Alt+Q captures the clipboard (the desktop's choice; change it in its keyboard settings).";
        QTest::newRow("asked") << pending << "" << "" << "" << "Ctrl+Alt+P" << ""
                               << "Waiting for the desktop to approve Ctrl+Alt+P.";
        QTest::newRow("KDE: another component has the keys")
            << declined << "" << "\u201CCapture Rectangular Region\u201D (Spectacle)" << "" << "" << ""
            << "Super+Shift+S is taken by \u201CCapture Rectangular Region\u201D (Spectacle); choose other keys.";
        QTest::newRow("X11: another program holds the chosen keys")
            << declined << "" << "another program" << "" << "Ctrl+Alt+P" << ""
            << "Ctrl+Alt+P is taken by another program; choose other keys.";
        QTest::newRow("declined, holder unknown")
            << declined << "" << "" << "" << "" << ""
            << "The desktop did not bind Super+Shift+S; capture from the panel, or choose other keys.";
        QTest::newRow("no way of its own")
            << unavailable << "" << "" << "" << "" << ""
            << "Super+Shift+S is not available on this desktop; capture from the panel, or bind the keys to "
               "\u201Cpendrel-publisher --capture\u201D in the desktop's keyboard settings.";
        QTest::newRow("sway: its bindsym line")
            << unavailable << "" << "" << "" << "" << "sway"
            << "Super+Shift+S is not available on this desktop; capture from the panel, or add \u201Cbindsym "
               "Mod4+Shift+s exec pendrel-publisher --capture\u201D to sway's config.";
        QTest::newRow("sway: chosen keys in its notation")
            << unavailable << "" << "" << "" << "Ctrl+Alt+P" << "sway"
            << "Ctrl+Alt+P is not available on this desktop; capture from the panel, or add \u201Cbindsym "
               "Ctrl+Mod1+p exec pendrel-publisher --capture\u201D to sway's config.";
        QTest::newRow("setup where it does not apply")
            << unavailable << "" << "" << "elsewhere" << "" << ""
            << "Super+Shift+S is not available on this desktop; capture from the panel, or bind the keys to "
               "\u201Cpendrel-publisher --capture\u201D in the desktop's keyboard settings.";
        QTest::newRow("GNOME 43: the row offers the setup")
            << unavailable << "" << "" << "offered" << "" << "GNOME"
            << "Super+Shift+S is not set up yet: \u201CSet Up\u201D under Keyboard shortcut in the settings "
               "adds it to GNOME's keyboard shortcuts.";
        QTest::newRow("GNOME 43: set up with chosen keys")
            << unavailable << "" << "" << "added" << "Super+F9" << "GNOME"
            << "Super+F9 captures the clipboard through GNOME's keyboard shortcuts.";
        QTest::newRow("GNOME 43: set up, then keys chosen that another binding holds")
            << unavailable << "" << "" << "added, blocked" << "Ctrl+Alt+P" << "GNOME"
            << "Ctrl+Alt+P is already \u201CFlameshot\u201D (your custom shortcuts); choose other keys, or "
               "change that in Settings \u203A Keyboard first.";
        QTest::newRow("GNOME 43: a custom shortcut has the keys")
            << unavailable << "" << "" << "blocked" << "" << "GNOME"
            << "Super+Shift+S is already \u201CFlameshot\u201D (your custom shortcuts); choose other keys, or "
               "change that in Settings \u203A Keyboard first.";
    }
    void shortcutStatus()
    {
        QFETCH(int, state);
        QFETCH(QString, trigger);
        QFETCH(QString, holder);
        QFETCH(QString, setup);
        QFETCH(QString, keys);
        QFETCH(QString, desktop);
        QFETCH(QString, text);
        const QByteArray desktopBefore = qgetenv("XDG_CURRENT_DESKTOP");
        qputenv("XDG_CURRENT_DESKTOP", desktop.toUtf8());
        auto owned = std::make_unique<ScriptedHotkeys>();
        ScriptedHotkeys *hotkeys = owned.get();
        hotkeys->later = true;
        hotkeys->holding = holder;
        ScriptedSetup gnome;
        gnome.applying = setup != u"elsewhere";
        gnome.added = setup.startsWith(u"added");
        if (setup.endsWith(u"blocked"))
            gnome.blocking = {{QStringLiteral("Flameshot"), QStringLiteral("your custom shortcuts")}};
        shortcutLines.clear();
        const QtMessageHandler before = qInstallMessageHandler(keepShortcutLines);
        {
            GlobalShortcutService service(std::move(owned), [] {}, setup.isEmpty() ? nullptr : &gnome);
            if (!keys.isEmpty())
                service.setKeys(*ShortcutKeys::fromText(keys));
            service.install();
            hotkeys->say(HotkeyState(state), trigger);
            QCOMPARE(service.statusText(), text);
        }
        qInstallMessageHandler(before);
        qputenv("XDG_CURRENT_DESKTOP", desktopBefore);
        QCOMPARE(shortcutLines, QStringList{text});
    }

    // The chosen keys in each desktop's notation; text that names no
    // usable chord (no Ctrl/Alt/Super, a key without a name) is refused.
    void shortcutKeysNotations_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("display"); // "" where the text is refused
        QTest::addColumn<QString>("gnome");
        QTest::addColumn<QString>("sway");
        QTest::addColumn<QString>("portal");
        QTest::addColumn<uint>("keysym");
        QTest::addColumn<uint>("x11Modifiers");
        QTest::newRow("default") << "Super+Shift+S" << "Super+Shift+S" << "<Super><Shift>s" << "Mod4+Shift+s"
                                 << "LOGO+SHIFT+s" << 0x73u << uint(XCB_MOD_MASK_4 | XCB_MOD_MASK_SHIFT);
        QTest::newRow("Meta is Super, any order") << "shift+meta+s" << "Super+Shift+S" << "<Super><Shift>s"
                                                  << "Mod4+Shift+s" << "LOGO+SHIFT+s" << 0x73u
                                                  << uint(XCB_MOD_MASK_4 | XCB_MOD_MASK_SHIFT);
        QTest::newRow("Ctrl+Alt") << "Ctrl+Alt+P" << "Ctrl+Alt+P" << "<Control><Alt>p" << "Ctrl+Mod1+p"
                                  << "CTRL+ALT+p" << 0x70u << uint(XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_1);
        QTest::newRow("digit") << "Alt+7" << "Alt+7" << "<Alt>7" << "Mod1+7" << "ALT+7" << 0x37u
                               << uint(XCB_MOD_MASK_1);
        QTest::newRow("F-key") << "Super+F9" << "Super+F9" << "<Super>F9" << "Mod4+F9" << "LOGO+F9" << 0xffc6u
                               << uint(XCB_MOD_MASK_4);
        QTest::newRow("named key") << "Ctrl+Super+PgUp" << "Ctrl+Super+PgUp" << "<Control><Super>Page_Up"
                                   << "Ctrl+Mod4+Page_Up" << "CTRL+LOGO+Page_Up" << 0xff55u
                                   << uint(XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_4);
        QTest::newRow("punctuation") << "Ctrl+Alt+," << "Ctrl+Alt+," << "<Control><Alt>comma" << "Ctrl+Mod1+comma"
                                     << "CTRL+ALT+comma" << 0x2cu << uint(XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_1);
        QTest::newRow("Shift alone is no modifier") << "Shift+S" << "" << "" << "" << "" << 0u << 0u;
        QTest::newRow("no modifier") << "S" << "" << "" << "" << "" << 0u << 0u;
        QTest::newRow("modifiers only") << "Ctrl+Alt" << "" << "" << "" << "" << 0u << 0u;
        QTest::newRow("unknown key") << "Ctrl+Alt+Menu" << "" << "" << "" << "" << 0u << 0u;
        QTest::newRow("unknown modifier") << "Hyper+S" << "" << "" << "" << "" << 0u << 0u;
    }
    void shortcutKeysNotations()
    {
        QFETCH(QString, text);
        QFETCH(QString, display);
        QFETCH(QString, gnome);
        QFETCH(QString, sway);
        QFETCH(QString, portal);
        QFETCH(uint, keysym);
        QFETCH(uint, x11Modifiers);
        const std::optional<ShortcutKeys> keys = ShortcutKeys::fromText(text);
        QCOMPARE(keys.has_value(), !display.isEmpty());
        if (!keys)
            return;
        QCOMPARE(keys->displayText(), display);
        QCOMPARE(keys->gnomeAccelerator(), gnome);
        QCOMPARE(keys->swayKeys(), sway);
        QCOMPARE(keys->portalTrigger(), portal);
        QCOMPARE(keys->keysym(), keysym);
        QCOMPARE(uint(pendrel::x11Modifiers(keys->combination().keyboardModifiers())), x11Modifiers);
        // What is written is read back as the same keys.
        QCOMPARE(ShortcutKeys::fromText(keys->displayText()), keys);
        QCOMPARE(ShortcutKeys::fromGnomeAccelerator(keys->gnomeAccelerator()), keys);
    }

    // Keys chosen while bound: the old ones are let go and the new ones
    // bound at once, and the line says so; equal keys change nothing. The
    // choice is kept in the settings file, the default as no entry.
    void shortcutKeysChange()
    {
        auto owned = std::make_unique<ScriptedHotkeys>();
        ScriptedHotkeys *hotkeys = owned.get();
        shortcutLines.clear();
        const QtMessageHandler before = qInstallMessageHandler(keepShortcutLines);
        GlobalShortcutService service(std::move(owned), [] {});
        service.install();
        const ShortcutKeys ctrlAltP = *ShortcutKeys::fromText(u"Ctrl+Alt+P");
        service.setKeys(ctrlAltP);
        service.setKeys(ctrlAltP);
        hotkeys->registers = false; // X11: another program holds these
        hotkeys->holding = QStringLiteral("another program");
        service.setKeys(*ShortcutKeys::fromText(u"Ctrl+Alt+O"));
        qInstallMessageHandler(before);
        QCOMPARE(hotkeys->calls, (QStringList{QStringLiteral("register Super+Shift+S"), QStringLiteral("unregister"),
                                              QStringLiteral("register Ctrl+Alt+P"), QStringLiteral("unregister"),
                                              QStringLiteral("register Ctrl+Alt+O")}));
        QCOMPARE(shortcutLines, (QStringList{QStringLiteral("Super+Shift+S captures the clipboard."),
                                             QStringLiteral("Ctrl+Alt+P captures the clipboard."),
                                             QStringLiteral("Ctrl+Alt+O is not available on this desktop; capture "
                                                            "from the panel, or bind the keys to \u201Cpendrel-"
                                                            "publisher --capture\u201D in the desktop's keyboard "
                                                            "settings.")}));

        QTemporaryDir folder;
        const QString file = folder.filePath(QStringLiteral("appearance.conf"));
        QCOMPARE(GlobalShortcutService::storedKeys(file), ShortcutKeys());
        GlobalShortcutService::storeKeys(file, ctrlAltP);
        QCOMPARE(GlobalShortcutService::storedKeys(file), ctrlAltP);
        GlobalShortcutService::storeKeys(file, ShortcutKeys());
        QVERIFY(!QSettings(file, QSettings::IniFormat).contains(QStringLiteral("shortcutKeys")));
        QSettings(file, QSettings::IniFormat).setValue(QStringLiteral("shortcutKeys"), QStringLiteral("P"));
        QCOMPARE(GlobalShortcutService::storedKeys(file), ShortcutKeys()); // no modifier: not usable
    }

    // Nothing is said before there is something to say: a desktop that is
    // asked answers later, and GNOME's own setup is looked into first.
    void shortcutStatusWaitsForAnswers()
    {
        shortcutLines.clear();
        const QtMessageHandler before = qInstallMessageHandler(keepShortcutLines);
        auto owned = std::make_unique<ScriptedHotkeys>();
        ScriptedHotkeys *hotkeys = owned.get();
        hotkeys->later = true;
        ScriptedSetup gnome;
        gnome.settled = false;
        GlobalShortcutService service(std::move(owned), [] {}, &gnome);
        service.install();
        QVERIFY(!service.hasAnswer());
        hotkeys->say(HotkeyState::Unavailable);
        QVERIFY(!service.hasAnswer()); // GNOME has not said whether the row applies
        gnome.settled = true;
        service.refresh();
        QVERIFY(service.hasAnswer());
        gnome.add(); // the row's Set Up
        service.refresh();
        service.refresh(); // said once
        qInstallMessageHandler(before);
        QCOMPARE(shortcutLines,
                 (QStringList{QStringLiteral("Super+Shift+S is not set up yet: \u201CSet Up\u201D under Keyboard "
                                             "shortcut in the settings adds it to GNOME's keyboard shortcuts."),
                              QStringLiteral("Super+Shift+S captures the clipboard through GNOME's keyboard "
                                             "shortcuts.")}));

        // A backend that binds at once and says nothing is taken as bound;
        // one that refused says so.
        auto plain = std::make_unique<ScriptedHotkeys>();
        GlobalShortcutService bound(std::move(plain), [] {});
        bound.install();
        QCOMPARE(bound.state(), HotkeyState::Active);
        auto refusing = std::make_unique<ScriptedHotkeys>();
        refusing->registers = false;
        GlobalShortcutService refused(std::move(refusing), [] {});
        refused.install();
        QCOMPARE(refused.state(), HotkeyState::Unavailable);
    }

    void toolTip_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<int>("step"); // -1: no running stage known
        QTest::addColumn<QString>("text");
        using K = StatusIconState::Kind;
        QTest::newRow("idle") << int(K::idle) << -1 << QStringLiteral("Pendrel Publisher");
        QTest::newRow("queued") << int(K::processing) << -1 << QStringLiteral("Pendrel Publisher \u2014 Transforming");
        QTest::newRow("stage") << int(K::processing) << int(JobStep::illustrations)
                               << QStringLiteral("Pendrel Publisher \u2014 Generating images");
        QTest::newRow("ending") << int(K::processing) << int(JobStep::done)
                                << QStringLiteral("Pendrel Publisher \u2014 Transforming");
        QTest::newRow("success") << int(K::success) << -1 << QStringLiteral("Pendrel Publisher \u2014 Article ready");
        QTest::newRow("error") << int(K::error) << -1 << QStringLiteral("Pendrel Publisher \u2014 Needs attention");
    }
    void toolTip()
    {
        QFETCH(int, kind);
        QFETCH(int, step);
        QFETCH(QString, text);
        const StatusIconState states[] = {StatusIconState::idle(), StatusIconState::processing(1),
                                          StatusIconState::success(), StatusIconState::error()};
        const std::optional<JobStep> running = step < 0 ? std::nullopt : std::optional(JobStep(step));
        QCOMPARE(StatusIconPresenter::toolTip(states[kind], running), text);
    }

    // The automatically chosen icon stands out from light and dark panels:
    // every opaque pixel of its strokes, badge included, at 3:1 at least.
    void iconContrast_data()
    {
        QTest::addColumn<QColor>("panel");
        QTest::addColumn<IconLook>("look");
        const std::pair<const char *, IconLook> looks[] = {
            {"idle", IconLook{}},
            {"working", IconLook{StatusIconPresenter::processingColors[1], IconBadge::working, 1}},
            {"success", IconLook{StatusIconPresenter::successTint, IconBadge::success}},
            {"error", IconLook{StatusIconPresenter::errorTint, IconBadge::error}}};
        for (const char *panel : {"#f6f5f4", "#ffffff", "#241f31", "#2b2b2b", "#000000"})
            for (const auto &[name, look] : looks)
                QTest::addRow("%s %s", panel, name) << QColor(QString::fromLatin1(panel)) << look;
    }

    void iconContrast()
    {
        QFETCH(QColor, panel);
        QFETCH(IconLook, look);
        QVERIFY(StatusIconImages::hasBrandImage());
        const TrayIconVariant variant = StatusIconImages::resolve(TrayIconStyle::automatic, panel);
        for (const int size : {18, 36}) {
            const QImage icon = StatusIconImages::image(look, variant, size);
            int strokes = 0;
            for (int y = 0; y < icon.height(); ++y)
                for (int x = 0; x < icon.width(); ++x) {
                    const QColor pixel = icon.pixelColor(x, y);
                    if (pixel.alpha() < 255)
                        continue;
                    ++strokes;
                    QVERIFY2(contrastRatio(pixel, panel) >= 3.0,
                             qPrintable(QStringLiteral("%1 at %2,%3").arg(pixel.name()).arg(x).arg(y)));
                }
            QVERIFY(strokes >= size * size / 10);
        }
    }

    // The states differ in shape, not only in hue, in every style.
    void badgesDifferInShape_data()
    {
        QTest::addColumn<int>("variant");
        QTest::newRow("light") << int(TrayIconVariant::light);
        QTest::newRow("dark") << int(TrayIconVariant::dark);
        QTest::newRow("colour") << int(TrayIconVariant::colour);
    }

    void badgesDifferInShape()
    {
        QFETCH(int, variant);
        const QList<IconLook> looks = {
            IconLook{},
            IconLook{StatusIconPresenter::successTint, IconBadge::success},
            IconLook{StatusIconPresenter::errorTint, IconBadge::error},
            IconLook{StatusIconPresenter::processingColors[0], IconBadge::working, 0},
            IconLook{StatusIconPresenter::processingColors[1], IconBadge::working, 1},
            IconLook{StatusIconPresenter::processingColors[2], IconBadge::working, 2}};
        QList<QList<bool>> masks;
        for (const IconLook &look : looks)
            masks.append(alphaMask(StatusIconImages::image(look, TrayIconVariant(variant), 36)));
        for (int a = 0; a < masks.size(); ++a)
            for (int b = a + 1; b < masks.size(); ++b) {
                int differing = 0;
                for (int i = 0; i < masks[a].size(); ++i)
                    differing += masks[a][i] != masks[b][i] ? 1 : 0;
                QVERIFY2(differing >= 8, qPrintable(QStringLiteral("looks %1 and %2: %3 pixels")
                                                        .arg(a).arg(b).arg(differing)));
            }
    }

    void placement_data()
    {
        QTest::addColumn<std::optional<QRect>>("icon");
        QTest::addColumn<QPoint>("cursor");
        QTest::addColumn<QRect>("placed");
        QTest::newRow("below a top-bar icon")
            << std::optional<QRect>(QRect(1000, 0, 24, 24)) << QPoint(0, 0) << QRect(792, 28, 440, 548);
        QTest::newRow("above a bottom-panel icon")
            << std::optional<QRect>(QRect(1000, 1056, 24, 24)) << QPoint(0, 0) << QRect(792, 504, 440, 548);
        QTest::newRow("icon in the right corner")
            << std::optional<QRect>(QRect(1900, 0, 20, 24)) << QPoint(0, 0) << QRect(1480, 28, 440, 548);
        QTest::newRow("no geometry: cursor at the top")
            << std::optional<QRect>() << QPoint(100, 10) << QRect(0, 0, 440, 548);
        QTest::newRow("no geometry: cursor at the bottom")
            << std::optional<QRect>() << QPoint(1000, 1070) << QRect(780, 532, 440, 548);
        QTest::newRow("empty geometry counts as none")
            << std::optional<QRect>(QRect()) << QPoint(1000, 1070) << QRect(780, 532, 440, 548);
    }
    void placement()
    {
        QFETCH(std::optional<QRect>, icon);
        QFETCH(QPoint, cursor);
        QFETCH(QRect, placed);
        QCOMPARE(placePanel(QSize(440, 548), icon, cursor, QRect(0, 0, 1920, 1080)), placed);
    }

    void placementInsideTheArea()
    {
        // A second screen to the right, and a panel taller than a small screen.
        const QRect right(1920, 0, 1280, 1024);
        QVERIFY(right.contains(placePanel(QSize(440, 760), QRect(3190, 0, 10, 24), {}, right)));
        const QRect small(0, 0, 800, 600);
        QCOMPARE(placePanel(QSize(440, 760), std::nullopt, QPoint(400, 590), small).topLeft(),
                 QPoint(180, 0));
        // A 760-pixel panel on a 400-pixel area (a laptop at scale 2): cut to
        // the room beside the icon, it stays off the icon, top or bottom.
        const QRect tiny(0, 0, 640, 400);
        for (const QRect icon : {QRect(600, 0, 22, 22), QRect(600, 378, 22, 22)}) {
            const int room = roomForPanel(icon, {}, tiny);
            const QRect panel = placePanel(QSize(440, std::min(760, room)), icon, {}, tiny);
            QVERIFY(tiny.contains(panel));
            QVERIFY(!panel.intersects(icon));
            QVERIFY(room >= 370);
        }
    }

    // A second launch hands over to the first and steps back; the lock is
    // private to the user.
    void singleInstance()
    {
        test::PrivateBus bus;
        if (!bus.ok())
            QSKIP("dbus-daemon is not available");
        QTemporaryDir dir;
        const QString name = QStringLiteral("com.pendrel.publisher.test");
        SingleInstance first(dir.path(), name, bus.connect(QStringLiteral("first")));
        QCOMPARE(first.claim(), SingleInstance::Claim::claimed);
        const QFile::Permissions others = QFile::ReadGroup | QFile::WriteGroup | QFile::ExeGroup | QFile::ReadOther
                                          | QFile::WriteOther | QFile::ExeOther;
        QCOMPARE(QFile::permissions(dir.filePath(QStringLiteral("instance.lock"))) & others, QFile::Permissions());
        QSignalSpy shown(&first, &SingleInstance::showPanelRequested);
        SingleInstance second(dir.path(), name, bus.connect(QStringLiteral("second")));
        QCOMPARE(second.claim(), SingleInstance::Claim::anotherRuns);
        QTRY_COMPARE_WITH_TIMEOUT(shown.size(), 1, 3000);
        // Without any bus the lock alone still keeps a second copy out.
        SingleInstance third(dir.path(), name, QDBusConnection(QStringLiteral("nothing")));
        QCOMPARE(third.claim(), SingleInstance::Claim::anotherRuns);
        // Deciding asks nothing of the running copy (a launch decides before
        // it has an application); only the hand-over does, once.
        SingleInstance fourth(dir.path(), name, bus.connect(QStringLiteral("fourth")));
        QCOMPARE(fourth.lock(), SingleInstance::Claim::anotherRuns);
        QCOMPARE(fourth.publish(SingleInstance::Claim::anotherRuns), SingleInstance::Claim::anotherRuns);
        QSignalSpy captured(&first, &SingleInstance::captureRequested);
        fourth.handOver(SingleInstance::Request::capture);
        QVERIFY(fourth.handOverProblem().isEmpty());
        QTRY_COMPARE_WITH_TIMEOUT(captured.size(), 1, 3000);
        QCOMPARE(shown.size(), 1);
    }

    // A folder where no lock can be made is not mistaken for a running copy.
    void singleInstanceFolderUnusable()
    {
        QTemporaryDir dir;
        QFile plain(dir.filePath(QStringLiteral("plain")));
        QVERIFY(plain.open(QIODevice::WriteOnly));
        SingleInstance instance(plain.fileName() + QStringLiteral("/app"), QStringLiteral("com.pendrel.publisher.test"),
                                QDBusConnection(QStringLiteral("nothing")));
        QCOMPARE(instance.claim(), SingleInstance::Claim::folderUnusable);
        QVERIFY2(instance.folderProblem().contains(QStringLiteral("Not a directory")), qPrintable(instance.folderProblem()));
    }

    void lockKeyCombinations_data()
    {
        QTest::addColumn<quint16>("numLock");
        QTest::addColumn<QList<quint16>>("masks");
        const quint16 base = 0x0041; // Shift | Mod4
        QTest::newRow("num lock on mod2")
            << quint16(0x10)
            << QList<quint16>{base, quint16(base | 0x2), quint16(base | 0x10), quint16(base | 0x12)};
        QTest::newRow("no num lock key") << quint16(0) << QList<quint16>{base, quint16(base | 0x2)};
        QTest::newRow("num lock on a shortcut modifier")
            << quint16(0x40) << QList<quint16>{base, quint16(base | 0x2)};
    }
    void lockKeyCombinations()
    {
        QFETCH(quint16, numLock);
        QFETCH(QList<quint16>, masks);
        const QList<std::uint16_t> got = lockVariants(0x0041, 0x2, numLock);
        QCOMPARE(QList<quint16>(got.begin(), got.end()), masks);
    }
};

QTEST_GUILESS_MAIN(TestShellPieces)
#include "tst_shellpieces.moc"
