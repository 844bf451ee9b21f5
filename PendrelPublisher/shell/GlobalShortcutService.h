#pragma once

#include "platform/HotkeyBackend.h"

#include <QString>

#include <functional>
#include <memory>

namespace pendrel {

// Super+Shift+S from anywhere. Where it stands (bound, waiting for the
// user's approval, refused, impossible) is said once on stderr at each
// change and kept in words for the settings.
class GlobalShortcutService {
public:
    GlobalShortcutService(std::unique_ptr<HotkeyBackend> backend, std::function<void()> handler);
    ~GlobalShortcutService();

    void install();
    [[nodiscard]] bool isRegistered() const { return registered_; }
    [[nodiscard]] HotkeyState state() const { return state_; }
    [[nodiscard]] QString trigger() const { return trigger_; }
    // The state in one sentence for the user.
    [[nodiscard]] QString statusText() const { return statusText(state_, trigger_); }
    static QString statusText(HotkeyState state, const QString &trigger);

    // Each change of state (after the log line).
    std::function<void(HotkeyState)> onStateChange;

private:
    void setState(HotkeyState state, const QString &trigger);

    std::unique_ptr<HotkeyBackend> backend_;
    std::function<void()> handler_;
    bool registered_ = false;
    HotkeyState state_ = HotkeyState::Unavailable;
    QString trigger_;
    bool stateSaid_ = false;
};

} // namespace pendrel
