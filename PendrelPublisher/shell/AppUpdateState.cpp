#include "shell/AppUpdateState.h"

#include "state/AppConfiguration.h"

namespace pendrel {

AppUpdateState AppUpdateState::initial()
{
    AppUpdateState state;
    state.currentVersion = AppConfiguration::shortVersion();
    state.feedURL = AppConfiguration::feedURL();
    return state;
}

QString AppUpdateState::actionTitle() const
{
    if (availableVersion && !availableVersion->isEmpty())
        return QStringLiteral("Update to ") + *availableVersion + u'\u2026';
    return QStringLiteral("Check for Updates\u2026");
}

QString AppUpdateState::statusSummary() const
{
    switch (status) {
    case AppUpdateStatus::idle:
        return QStringLiteral("Version ") + currentVersion;
    case AppUpdateStatus::checking:
        return QStringLiteral("Checking for updates\u2026");
    case AppUpdateStatus::upToDate:
        return QStringLiteral("Version ") + currentVersion + QStringLiteral(" is current");
    case AppUpdateStatus::updateAvailable:
        return availableVersion
                   ? QStringLiteral("Version ") + *availableVersion + QStringLiteral(" is available")
                   : QStringLiteral("An update is available");
    case AppUpdateStatus::error:
        return errorMessage.value_or(QStringLiteral("Update check failed"));
    }
    return {};
}

} // namespace pendrel
