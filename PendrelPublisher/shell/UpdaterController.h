#pragma once

#include "shell/Appcast.h"

#include <QNetworkAccessManager>
#include <QObject>
#include <QPointer>
#include <QTimer>

#include <QCoroTask>

#include <chrono>
#include <optional>

namespace pendrel {

// Hears how each check ended, whoever started it.
class UpdaterDelegate {
public:
    virtual ~UpdaterDelegate() = default;
    virtual void didFindValidUpdate(const AppcastItem &item) = 0;
    virtual void didNotFindUpdate() = 0;
    virtual void didAbortWithError(const QString &description) = 0;
};

// Shows the end of a check the user asked for.
class UpdateUserDriver {
public:
    virtual ~UpdateUserDriver() = default;
    virtual void showUpdateFound(const AppcastItem &item, const QString &currentVersion) = 0;
    virtual void showUpToDate(const QString &currentVersion) = 0;
    virtual void showError(const QString &description) = 0;
};

struct UpdaterConfiguration {
    QString feedURL;        // the bundle's feed, else the configured one
    QString currentVersion; // what a release must be newer than
    QString settingsPath;   // where the automatic-check choice is kept
    int timeoutMs = 60000;
    std::chrono::milliseconds checkInterval = std::chrono::hours(24);

    // From the bundle and the configuration; the choice lives in
    // $XDG_CONFIG_HOME/PendrelPublisher/<bundle identifier>/updater.conf.
    static UpdaterConfiguration standard();
};

// Checks the update feed: in the background at start and every
// `checkInterval` while automatic checks are on, and when the user asks.
// One check runs at a time; `canCheckForUpdates` is false while it does and
// before the updater has started.
class UpdaterController : public QObject {
    Q_OBJECT

public:
    // A feed larger than this is not a feed.
    static constexpr qint64 maxFeedBytes = qint64(4) << 20;

    UpdaterController(UpdaterConfiguration configuration, UpdaterDelegate &delegate,
                      UpdateUserDriver *userDriver, QObject *parent = nullptr);

    // Checks the feed address and arms the periodic check; nothing when it
    // started, else why it could not.
    std::optional<QString> startUpdater();

    [[nodiscard]] bool canCheckForUpdates() const { return canCheck_; }
    [[nodiscard]] bool isChecking() const { return checking_; }
    [[nodiscard]] bool automaticallyChecksForUpdates() const { return automaticChecks_; }
    void setAutomaticallyChecksForUpdates(bool enabled);
    [[nodiscard]] const UpdaterConfiguration &configuration() const { return configuration_; }

    // A check without any window; only the delegate hears of it.
    void checkForUpdateInformation();
    // A check whose end the user sees. Asked during a background check, it
    // takes that check over instead of starting a second one.
    void checkForUpdates();

signals:
    void canCheckForUpdatesChanged(bool canCheck);

private:
    void beginCheck(bool userInitiated);
    QCoro::Task<void> runCheck();
    void finish(std::optional<AppcastItem> update, std::optional<QString> error);
    void setCanCheck(bool value);
    void armTimer();

    UpdaterConfiguration configuration_;
    UpdaterDelegate &delegate_;
    UpdateUserDriver *userDriver_;
    QNetworkAccessManager network_;
    QTimer timer_;
    std::optional<QString> startFailure_;
    bool started_ = false;
    bool checking_ = false;
    bool userInitiated_ = false;
    bool canCheck_ = false;
    bool automaticChecks_ = true; // read from the settings file once, at creation
};

} // namespace pendrel
