#pragma once

#include "platform/LoginItemBackend.h"

#include <QString>

#include <optional>

namespace pendrel {

struct LaunchAtLoginSnapshot {
    bool isEnabled = false;
    std::optional<QString> helperText; // shown under the switch

    bool operator==(const LaunchAtLoginSnapshot &) const = default;
};

// Starting the application at login. Only the production build registers
// itself; other builds report why the switch does nothing.
class LaunchAtLoginService {
public:
    explicit LaunchAtLoginService(LoginItemBackend &backend) : backend_(backend) {}

    [[nodiscard]] LaunchAtLoginSnapshot currentSnapshot() const;
    // Registers or unregisters, then reads the state afresh. Throws the
    // desktop's error when it refuses.
    LaunchAtLoginSnapshot setEnabled(bool enabled);

private:
    LoginItemBackend &backend_;
};

} // namespace pendrel
