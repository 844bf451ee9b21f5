#include "shell/LaunchAtLoginService.h"

#include "state/AppConfiguration.h"

namespace pendrel {

LaunchAtLoginSnapshot LaunchAtLoginService::currentSnapshot() const
{
    if (AppConfiguration::bundleIdentifier() != AppConfiguration::productionBundleIdentifier)
        return {false, QStringLiteral("Launch at login is available only in the production build.")};
    switch (backend_.status()) {
    case LoginItemBackend::Status::notRegistered:
        return {false, std::nullopt};
    case LoginItemBackend::Status::enabled:
        return {true, std::nullopt};
    case LoginItemBackend::Status::requiresApproval:
        return {false, QStringLiteral("Enable Pendrel in Login Items to finish setup.")};
    case LoginItemBackend::Status::notFound:
        return {false, QStringLiteral("Launch at login becomes available in the packaged app.")};
    case LoginItemBackend::Status::unavailable:
        break;
    }
    return {false, QStringLiteral("Launch at login is temporarily unavailable.")};
}

LaunchAtLoginSnapshot LaunchAtLoginService::setEnabled(bool enabled)
{
    if (AppConfiguration::bundleIdentifier() != AppConfiguration::productionBundleIdentifier)
        return currentSnapshot();
    // Registering where the item would not be found (a production build
    // that is not installed) would write an entry the switch then shows as
    // off and so could never remove.
    if (enabled && backend_.status() == LoginItemBackend::Status::notFound)
        return currentSnapshot();
    if (enabled)
        backend_.registerItem();
    else
        backend_.unregisterItem();
    return currentSnapshot();
}

} // namespace pendrel
