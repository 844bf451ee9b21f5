#pragma once

#include "model/ShortcutKeys.h"

#include <QString>

#include <functional>

namespace pendrel {

// Where the shortcut stands, as the desktop answered.
enum class HotkeyState {
    Pending,     // asked; the desktop (or the user, in its dialog) has not answered yet
    Active,      // bound; `trigger` says to which keys, when the desktop told
    Declined,    // the desktop or the user refused, or bound something else
    Unavailable, // no way to bind on this desktop
};

// One system-wide keyboard shortcut: the keys the user chose (Super+Shift+S
// unless they chose others).
class HotkeyBackend {
public:
    virtual ~HotkeyBackend() = default;
    // False when the desktop refused at once (another program owns the
    // combination, or there is no way to grab keys); `pressed` then never
    // runs. A backend that binds asynchronously returns true and reports
    // the outcome through `stateChanged`.
    virtual bool registerHotkey(std::function<void()> pressed) = 0;
    virtual void unregisterHotkey() = 0;
    // Whether registerHotkey() only asks, and the state comes later.
    [[nodiscard]] virtual bool answersLater() const { return false; }
    // Who holds the keys when they could not be had, as the desktop names
    // it ("\"Take Screenshot\" (Spectacle)"); empty when unknown.
    [[nodiscard]] virtual QString holder() const { return {}; }
    // The keys the next registerHotkey() binds.
    void setKeys(const ShortcutKeys &keys) { keys_ = keys; }
    [[nodiscard]] const ShortcutKeys &keys() const { return keys_; }

    // Each change of state, with the trigger the desktop assigned ("Meta+Shift+S").
    std::function<void(HotkeyState state, const QString &trigger)> stateChanged;

protected:
    ShortcutKeys keys_;

    void report(HotkeyState state, const QString &trigger = {})
    {
        if (stateChanged)
            stateChanged(state, trigger);
    }
};

} // namespace pendrel
