#pragma once

#include "platform/LoginItemBackend.h"

#include <QString>

namespace pendrel {

// Launch at login through the XDG autostart folder: an entry
// "com.pendrel.publisher.desktop" in $XDG_CONFIG_HOME/autostart that starts
// the installed executable.
class XdgLoginItemBackend final : public LoginItemBackend {
public:
    static constexpr QStringView entryName = u"com.pendrel.publisher.desktop";

    // `autostartFolder` and `installedEntry` default to the user's autostart
    // folder and the application's entry among the installed applications;
    // `executable` to the running program.
    explicit XdgLoginItemBackend(QString autostartFolder = {}, QString installedEntry = {},
                                 QString executable = {});

    [[nodiscard]] Status status() const override;
    void registerItem() override;
    void unregisterItem() override;

    [[nodiscard]] QString entryPath() const;

private:
    QString autostartFolder_;
    QString installedEntry_;
    QString executable_;
};

} // namespace pendrel
