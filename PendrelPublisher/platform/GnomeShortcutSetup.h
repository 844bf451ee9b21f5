#pragma once

#include "platform/ShortcutSetup.h"

#include <QStringList>

#include <functional>
#include <optional>

namespace pendrel {

// Super+Shift+S as a GNOME custom keyboard shortcut (Settings › Keyboard ›
// Custom Shortcuts), for GNOME releases without the GlobalShortcuts portal.
// Written through GSettings, so GNOME's settings daemon picks it up at once.
class GnomeShortcutSetup final : public ShortcutSetup {
public:
    static constexpr QStringView name = u"Pendrel Publisher: capture";
    static constexpr QStringView binding = u"<Super><Shift>s";

    // `command` is what the shortcut runs; `portalPresent` is asked once,
    // the first time it matters.
    GnomeShortcutSetup(QString command, std::function<bool()> portalPresent);

    // `pendrel-publisher --capture` when that name finds this program on
    // PATH, otherwise its full path.
    static QString captureCommand();
    // Whether an accelerator in GNOME's notation ("<Shift><Super>S") is Super+Shift+S.
    static bool isSuperShiftS(QStringView accelerator);

    [[nodiscard]] bool applies() const override;
    [[nodiscard]] bool isAdded() const override;
    [[nodiscard]] QList<Binding> otherBindings() const override;
    void add() override;
    void remove() override;

private:
    [[nodiscard]] QStringList ourPaths() const;

    QString command_;
    std::function<bool()> portalPresent_;
    mutable std::optional<bool> portal_;
};

} // namespace pendrel
