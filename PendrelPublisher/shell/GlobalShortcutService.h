#pragma once

#include "platform/HotkeyBackend.h"

#include <QString>

#include <functional>
#include <memory>

namespace pendrel {

class ShortcutSetup;

// The chosen keys (Super+Shift+S unless the user chose others) from
// anywhere. Where it stands (bound, waiting for the
// user's approval, refused, impossible) is said once on stderr at each
// change and kept in words for the settings.
class GlobalShortcutService {
public:
    // What the user is told to do where the program binds no keys itself.
    enum class Fallback {
        bindCommand,     // bind `pendrel-publisher --capture` in the desktop's settings
        gnomeSetup,      // the settings' row adds a GNOME custom shortcut
        gnomeSetupAdded, // it did
        swayBinding,     // sway: a bindsym line in its config
    };

    // `setup`, where given, is the desktop's own shortcut that the settings
    // can add (GNOME without the portal).
    GlobalShortcutService(std::unique_ptr<HotkeyBackend> backend, std::function<void()> handler,
                          ShortcutSetup *setup = nullptr);
    ~GlobalShortcutService();

    void install();
    // Binds other keys at once: the old ones are let go first.
    void setKeys(const ShortcutKeys &keys);
    [[nodiscard]] const ShortcutKeys &keys() const { return keys_; }
    // The keys kept in the settings file (appearance.conf); Super+Shift+S
    // when none or unusable ones are kept.
    static ShortcutKeys storedKeys(const QString &settingsPath);
    static void storeKeys(const QString &settingsPath, const ShortcutKeys &keys);
    // Says again where the shortcut stands, after the desktop's own setup
    // changed or answered.
    void refresh();
    [[nodiscard]] bool isRegistered() const { return registered_; }
    // Whether anything has been said yet (a backend may answer later).
    [[nodiscard]] bool hasAnswer() const { return stateSaid_; }
    [[nodiscard]] HotkeyState state() const { return state_; }
    [[nodiscard]] QString trigger() const { return trigger_; }
    // The state in one sentence for the user.
    [[nodiscard]] QString statusText() const { return said_; }
    // `holder`: who has the keys, as the desktop names it ("“Take
    // Screenshot” (Spectacle)"), where known.
    static QString statusText(HotkeyState state, const QString &trigger, const QString &holder = {},
                              Fallback fallback = Fallback::bindCommand, const ShortcutKeys &keys = {});

    // Each change of state (after the log line).
    std::function<void(HotkeyState)> onStateChange;

private:
    void setState(HotkeyState state, const QString &trigger);
    [[nodiscard]] QString currentText() const;

    std::unique_ptr<HotkeyBackend> backend_;
    std::function<void()> handler_;
    ShortcutSetup *setup_ = nullptr;
    bool registered_ = false;
    HotkeyState state_ = HotkeyState::Unavailable;
    QString trigger_;
    QString said_;
    bool stateSaid_ = false;
    bool reported_ = false; // a state came in since the last install()
    ShortcutKeys keys_;
    bool known_ = false; // the backend has given a state
};

} // namespace pendrel
