#pragma once

#include <QList>
#include <QString>
#include <QtCore/qnamespace.h>

#include <optional>

namespace pendrel {

// The keys of the capture shortcut: one chord, at least one of Ctrl, Alt
// and Super with a key that is not a modifier. Written as each desktop
// writes keys: "Super+Shift+S" for people, "<Super><Shift>s" for GNOME,
// "Mod4+Shift+s" for sway, "LOGO+SHIFT+s" for the shortcuts portal.
class ShortcutKeys {
public:
    // Super+Shift+S.
    ShortcutKeys();
    explicit ShortcutKeys(QKeyCombination combination);

    // "Ctrl+Alt+P", "Super+Shift+S" (also "Meta+"), as displayText() writes
    // them; nothing when the text names no usable chord.
    static std::optional<ShortcutKeys> fromText(QStringView text);
    // GNOME's accelerators ("<Primary><Alt>p", "<Super><Shift>S").
    static std::optional<ShortcutKeys> fromGnomeAccelerator(QStringView accelerator);

    // A chord the desktops can bind: a modifier other than Shift, and a key
    // that has a name (letters, digits, F-keys, punctuation, navigation).
    [[nodiscard]] bool isUsable() const;
    [[nodiscard]] bool isDefault() const { return *this == ShortcutKeys(); }

    [[nodiscard]] QKeyCombination combination() const { return combination_; }
    [[nodiscard]] QString displayText() const;
    [[nodiscard]] QString gnomeAccelerator() const;
    [[nodiscard]] QString swayKeys() const;
    [[nodiscard]] QString portalTrigger() const;
    // The X keysym of the key (also what xkb names on Wayland); 0 if none.
    [[nodiscard]] quint32 keysym() const;

    bool operator==(const ShortcutKeys &) const = default;

private:
    QKeyCombination combination_;
};

// Another binding of the same keys on the desktop: what it does, and where
// it is set ("Flameshot", "your custom shortcuts").
struct ShortcutBinding {
    QString title;
    QString where;
    bool operator==(const ShortcutBinding &) const = default;
};

// What the settings' shortcut row shows of a desktop's own shortcut setup
// (GNOME's custom shortcut, where the desktop has no portal).
struct ShortcutSetupView {
    bool offered = false; // the row offers Set Up / Remove
    bool added = false;
    QList<ShortcutBinding> others;   // the same keys bound elsewhere
    QList<ShortcutBinding> blocking; // of those, the ones that make ours never fire
    bool operator==(const ShortcutSetupView &) const = default;
};

} // namespace pendrel
