#pragma once

#include "shell/AppUpdateState.h"
#include "shell/UpdaterController.h"
#include "ui/PanelLook.h"

#include <QObject>

#include <functional>
#include <memory>

namespace pendrel {

class AppState;

// Runs the updater in the production build and mirrors what it reports
// into the application state's update record, which the menu and the
// settings show. Other builds only explain that updates are not offered.
class UpdaterService : public QObject, private UpdaterDelegate {
    Q_OBJECT

public:
    using ControllerFactory = std::function<std::unique_ptr<UpdaterController>(UpdaterDelegate &)>;

    // The standard controller: the configured feed, result dialogs.
    explicit UpdaterService(AppState &appState);
    // For tests: a controller of the caller's making, created on first use.
    UpdaterService(AppState &appState, ControllerFactory makeController);
    ~UpdaterService() override;

    void start();
    void checkForUpdates();
    void syncState(AppUpdateStatus status, std::optional<QString> availableVersion,
                   std::optional<QString> releaseNotesURL, std::optional<QString> errorMessage);

    // The look the result windows open in: the panel's.
    std::function<PanelLook()> panelLook;

    // Nothing until first used.
    [[nodiscard]] UpdaterController *updaterController() const { return updaterController_.get(); }

private:
    UpdaterController &controller();
    void publish(const AppUpdateState &state);

    void didFindValidUpdate(const AppcastItem &item) override;
    void didNotFindUpdate() override;
    void didAbortWithError(const QString &description) override;

    AppState &appState_;
    ControllerFactory makeController_;
    std::unique_ptr<UpdaterController> updaterController_;
    QMetaObject::Connection canCheckObservation_;
};

} // namespace pendrel
