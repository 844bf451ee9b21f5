#pragma once

#include "platform/HotkeyBackend.h"

#include <functional>
#include <memory>

namespace pendrel {

// Super+Shift+S from anywhere. A combination another program owns simply
// does nothing here.
class GlobalShortcutService {
public:
    GlobalShortcutService(std::unique_ptr<HotkeyBackend> backend, std::function<void()> handler);
    ~GlobalShortcutService();

    void install();
    [[nodiscard]] bool isRegistered() const { return registered_; }

private:
    std::unique_ptr<HotkeyBackend> backend_;
    std::function<void()> handler_;
    bool registered_ = false;
};

} // namespace pendrel
