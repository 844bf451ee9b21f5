#pragma once

#include <functional>

namespace pendrel {

// One system-wide keyboard shortcut: Super+Shift+S.
class HotkeyBackend {
public:
    virtual ~HotkeyBackend() = default;
    // False when the desktop refused (another program owns the combination,
    // or there is no way to grab keys); `pressed` then never runs.
    virtual bool registerHotkey(std::function<void()> pressed) = 0;
    virtual void unregisterHotkey() = 0;
};

} // namespace pendrel
