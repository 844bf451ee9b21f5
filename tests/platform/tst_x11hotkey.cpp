// The X11 grab on a real X server (Xvfb, started by x11-hotkey.sh): keys
// another client holds are refused and said so; other keys chosen are
// grabbed at once, the old ones let go, and a press through XTest (xdotool)
// reaches the handler, also with Num Lock on.
#include "platform/X11HotkeyBackend.h"
#include "shell/GlobalShortcutService.h"

#include <QGuiApplication>
#include <QProcess>
#include <QTest>

#include <xcb/xcb.h>
#include <xcb/xcb_keysyms.h>

#include <cstdlib>
#include <memory>

using namespace pendrel;

namespace {

// Another X client: its own connection to the server.
class OtherClient {
public:
    OtherClient() : c_(xcb_connect(nullptr, nullptr)) {}
    ~OtherClient() { xcb_disconnect(c_); }
    [[nodiscard]] bool ok() const { return !xcb_connection_has_error(c_); }
    // Grabs the keys on the root window; false on BadAccess (someone has them).
    bool grab(const ShortcutKeys &keys)
    {
        std::unique_ptr<xcb_key_symbols_t, decltype(&xcb_key_symbols_free)> symbols(xcb_key_symbols_alloc(c_),
                                                                                    &xcb_key_symbols_free);
        std::unique_ptr<xcb_keycode_t, decltype(&std::free)> codes(
            xcb_key_symbols_get_keycode(symbols.get(), keys.keysym()), &std::free);
        if (!codes)
            return false;
        const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c_)).data->root;
        xcb_generic_error_t *error = xcb_request_check(
            c_, xcb_grab_key_checked(c_, 1, root, x11Modifiers(keys.combination().keyboardModifiers()), *codes,
                                     XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC));
        std::free(error);
        return error == nullptr;
    }

private:
    xcb_connection_t *c_;
};

bool press(const QString &keys)
{
    return QProcess::execute(QStringLiteral("xdotool"), {QStringLiteral("key"), keys}) == 0;
}

} // namespace

class TestX11Hotkey : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        if (!X11HotkeyBackend::isAvailable())
            QSKIP("no X server (run through x11-hotkey.sh)");
    }

    void takenKeysAndOthersChosen()
    {
        OtherClient other;
        QVERIFY(other.ok());
        QVERIFY(other.grab(ShortcutKeys())); // Super+Shift+S is theirs

        int presses = 0;
        GlobalShortcutService service(std::make_unique<X11HotkeyBackend>(), [&] { ++presses; });
        service.install();
        QCOMPARE(service.state(), HotkeyState::Declined);
        QCOMPARE(service.statusText(),
                 QStringLiteral("Super+Shift+S is taken by another program; choose other keys."));

        service.setKeys(*ShortcutKeys::fromText(u"Ctrl+Alt+P"));
        QCOMPARE(service.state(), HotkeyState::Active);
        QCOMPARE(service.statusText(), QStringLiteral("Ctrl+Alt+P captures the clipboard."));
        QVERIFY(press(QStringLiteral("ctrl+alt+p")));
        QVERIFY(QTest::qWaitFor([&] { return presses == 1; }, 5000));
        QVERIFY(!other.grab(*ShortcutKeys::fromText(u"Ctrl+Alt+P"))); // ours now

        // Changed again: the old keys are let go, the new ones work, also
        // with Num Lock on.
        service.setKeys(*ShortcutKeys::fromText(u"Super+F9"));
        QCOMPARE(service.statusText(), QStringLiteral("Super+F9 captures the clipboard."));
        QVERIFY(other.grab(*ShortcutKeys::fromText(u"Ctrl+Alt+P")));
        QVERIFY(press(QStringLiteral("Num_Lock")));
        QVERIFY(press(QStringLiteral("super+F9")));
        QVERIFY(QTest::qWaitFor([&] { return presses == 2; }, 5000));
        QVERIFY(press(QStringLiteral("Num_Lock")));
        QVERIFY(press(QStringLiteral("ctrl+alt+p"))); // the other client's now
        QTest::qWait(300);
        QCOMPARE(presses, 2);
    }
};

QTEST_MAIN(TestX11Hotkey)
#include "tst_x11hotkey.moc"
