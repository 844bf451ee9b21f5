#pragma once

#include "platform/HotkeyBackend.h"

#include <QAbstractNativeEventFilter>
#include <QList>

#include <cstdint>

namespace pendrel {

// The modifier masks to grab for one shortcut: X11 matches modifiers
// exactly, so every combination of the lock keys (Caps Lock and the mask
// Num Lock sits on) needs a grab of its own.
QList<std::uint16_t> lockVariants(std::uint16_t modifiers, std::uint16_t capsLockMask,
                                  std::uint16_t numLockMask);

// The X11 modifier mask of Qt's modifiers (Super is Mod4, Alt Mod1).
std::uint16_t x11Modifiers(Qt::KeyboardModifiers modifiers);

// The chosen keys on X11: a key grab on the root window, presses seen through
// a native event filter. Needs a QGuiApplication on the xcb platform.
class X11HotkeyBackend final : public HotkeyBackend, public QAbstractNativeEventFilter {
public:
    X11HotkeyBackend();
    ~X11HotkeyBackend() override;

    // Whether this session can grab keys at all (an X11 session).
    static bool isAvailable();

    bool registerHotkey(std::function<void()> pressed) override;
    void unregisterHotkey() override;
    [[nodiscard]] QString holder() const override { return holder_; }

    bool nativeEventFilter(const QByteArray &eventType, void *message, qintptr *result) override;

private:
    std::function<void()> pressed_;
    std::uint8_t keycode_ = 0;
    QList<std::uint16_t> grabbed_;
    std::uint16_t ignoredLocks_ = 0;
    std::uint16_t modifiers_ = 0;
    QString holder_;
};

} // namespace pendrel
