#pragma once

#include <QDateTime>
#include <QString>

#include <optional>

namespace pendrel {

enum class AppUpdateStatus { idle, checking, upToDate, updateAvailable, error };

// What the application knows about software updates, for the menu and the
// settings.
struct AppUpdateState {
    // Why a build other than the production build offers no updates.
    static inline const QString productionOnlyMessage =
        QStringLiteral("Updates are available only in the production build.");

    AppUpdateStatus status = AppUpdateStatus::idle;
    QString currentVersion;
    std::optional<QString> availableVersion;
    std::optional<QString> feedURL;
    std::optional<QString> releaseNotesURL;
    std::optional<QDateTime> lastCheckedAt;
    bool canCheckForUpdates = false;
    std::optional<QString> errorMessage;

    bool operator==(const AppUpdateState &) const = default;

    // Idle, with the running version and the configured feed.
    static AppUpdateState initial();

    [[nodiscard]] QString actionTitle() const;
    [[nodiscard]] QString statusSummary() const;
};

} // namespace pendrel
