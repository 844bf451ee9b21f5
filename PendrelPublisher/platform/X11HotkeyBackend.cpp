#include "platform/X11HotkeyBackend.h"

#include <QGuiApplication>

#include <xcb/xcb.h>
#include <xcb/xcb_keysyms.h>

#include <cstdlib>
#include <memory>

namespace pendrel {

namespace {

constexpr xcb_keysym_t kKeysymNumLock = 0xff7f;

xcb_connection_t *connection()
{
    auto *x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    return x11 ? x11->connection() : nullptr;
}

xcb_window_t rootWindow(xcb_connection_t *c)
{
    return xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
}

// The modifier mask Num Lock is mapped to (usually Mod2).
std::uint16_t numLockMask(xcb_connection_t *c, xcb_key_symbols_t *symbols)
{
    std::unique_ptr<xcb_keycode_t, decltype(&std::free)> numLock(
        xcb_key_symbols_get_keycode(symbols, kKeysymNumLock), &std::free);
    if (!numLock)
        return 0;
    std::unique_ptr<xcb_get_modifier_mapping_reply_t, decltype(&std::free)> mapping(
        xcb_get_modifier_mapping_reply(c, xcb_get_modifier_mapping(c), nullptr), &std::free);
    if (!mapping)
        return 0;
    const xcb_keycode_t *codes = xcb_get_modifier_mapping_keycodes(mapping.get());
    const int perModifier = mapping->keycodes_per_modifier;
    for (int modifier = 0; modifier < 8; ++modifier) {
        for (int k = 0; k < perModifier; ++k) {
            for (const xcb_keycode_t *n = numLock.get(); *n != XCB_NO_SYMBOL; ++n) {
                if (codes[modifier * perModifier + k] == *n)
                    return std::uint16_t(1u << modifier);
            }
        }
    }
    return 0;
}

} // namespace

std::uint16_t x11Modifiers(Qt::KeyboardModifiers modifiers)
{
    std::uint16_t mask = 0;
    if (modifiers & Qt::ShiftModifier)
        mask |= XCB_MOD_MASK_SHIFT;
    if (modifiers & Qt::ControlModifier)
        mask |= XCB_MOD_MASK_CONTROL;
    if (modifiers & Qt::AltModifier)
        mask |= XCB_MOD_MASK_1;
    if (modifiers & Qt::MetaModifier)
        mask |= XCB_MOD_MASK_4; // Super
    return mask;
}

QList<std::uint16_t> lockVariants(std::uint16_t modifiers, std::uint16_t capsLockMask,
                                  std::uint16_t numLockMask)
{
    QList<std::uint16_t> variants{modifiers};
    for (const std::uint16_t lock : {capsLockMask, numLockMask}) {
        if (lock == 0 || (modifiers & lock))
            continue;
        const qsizetype n = variants.size();
        for (qsizetype i = 0; i < n; ++i) {
            if (!variants.contains(std::uint16_t(variants[i] | lock)))
                variants.append(std::uint16_t(variants[i] | lock));
        }
    }
    return variants;
}

X11HotkeyBackend::X11HotkeyBackend() = default;

X11HotkeyBackend::~X11HotkeyBackend()
{
    unregisterHotkey();
}

bool X11HotkeyBackend::isAvailable()
{
    return connection() != nullptr;
}

bool X11HotkeyBackend::registerHotkey(std::function<void()> pressed)
{
    xcb_connection_t *c = connection();
    if (!c)
        return false;
    unregisterHotkey();
    std::unique_ptr<xcb_key_symbols_t, decltype(&xcb_key_symbols_free)> symbols(xcb_key_symbols_alloc(c),
                                                                                &xcb_key_symbols_free);
    std::unique_ptr<xcb_keycode_t, decltype(&std::free)> codes(
        keys_.keysym() ? xcb_key_symbols_get_keycode(symbols.get(), keys_.keysym()) : nullptr, &std::free);
    if (!codes || *codes == XCB_NO_SYMBOL)
        return false;
    keycode_ = *codes;
    const std::uint16_t numLock = numLockMask(c, symbols.get());
    ignoredLocks_ = std::uint16_t(XCB_MOD_MASK_LOCK | numLock);
    const std::uint16_t base = x11Modifiers(keys_.combination().keyboardModifiers());
    modifiers_ = base;
    const xcb_window_t root = rootWindow(c);
    bool refused = false;
    for (const std::uint16_t mods : lockVariants(base, XCB_MOD_MASK_LOCK, numLock)) {
        // Checked, so that BadAccess (someone else owns the combination)
        // comes back here through a round trip instead of as an async error.
        const xcb_void_cookie_t cookie =
            xcb_grab_key_checked(c, 1, root, mods, keycode_, XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC);
        if (xcb_generic_error_t *error = xcb_request_check(c, cookie)) {
            std::free(error);
            refused = true;
        } else {
            grabbed_.append(mods);
        }
    }
    if (refused) {
        unregisterHotkey();
        // X11 does not say who has them.
        holder_ = QStringLiteral("another program");
        report(HotkeyState::Declined);
        return false;
    }
    holder_.clear();
    pressed_ = std::move(pressed);
    qGuiApp->installNativeEventFilter(this);
    return true;
}

void X11HotkeyBackend::unregisterHotkey()
{
    if (qGuiApp)
        qGuiApp->removeNativeEventFilter(this);
    xcb_connection_t *c = connection();
    if (c) {
        for (const std::uint16_t mods : grabbed_)
            xcb_ungrab_key(c, keycode_, rootWindow(c), mods);
        xcb_flush(c);
    }
    grabbed_.clear();
    pressed_ = nullptr;
}

bool X11HotkeyBackend::nativeEventFilter(const QByteArray &eventType, void *message, qintptr *)
{
    if (eventType != "xcb_generic_event_t" || !pressed_)
        return false;
    const auto *event = static_cast<const xcb_generic_event_t *>(message);
    if ((event->response_type & ~0x80) != XCB_KEY_PRESS)
        return false;
    const auto *key = reinterpret_cast<const xcb_key_press_event_t *>(event);
    const std::uint16_t state = key->state & ~ignoredLocks_;
    if (key->detail != keycode_ || state != modifiers_)
        return false;
    pressed_();
    return true;
}

} // namespace pendrel
