#include "shell/UpdaterService.h"

#include "shell/UpdateDialogs.h"
#include "state/AppConfiguration.h"
#include "state/AppState.h"

#include <QPointer>

namespace pendrel {

namespace {

// The standard controller with its dialogs; the dialogs open addresses the
// way the panel does.
class StandardController final : public UpdaterController {
public:
    StandardController(UpdaterDelegate &delegate, AppState &state, UpdateDialogs::LookSource look)
        : UpdaterController(UpdaterConfiguration::standard(), delegate, &dialogs_),
          dialogs_([&state](const QUrl &url) { state.openExternalURL(url); }, std::move(look))
    {
    }

private:
    UpdateDialogs dialogs_;
};

} // namespace

UpdaterService::UpdaterService(AppState &appState)
    : UpdaterService(appState, [this, &appState](UpdaterDelegate &delegate) -> std::unique_ptr<UpdaterController> {
          return std::make_unique<StandardController>(delegate, appState, [this] {
              return panelLook ? panelLook() : PanelLook::light;
          });
      })
{
}

UpdaterService::UpdaterService(AppState &appState, ControllerFactory makeController)
    : appState_(appState), makeController_(std::move(makeController))
{
}

UpdaterService::~UpdaterService()
{
    QObject::disconnect(canCheckObservation_);
}

UpdaterController &UpdaterService::controller()
{
    if (!updaterController_)
        updaterController_ = makeController_(*this);
    return *updaterController_;
}

void UpdaterService::start()
{
    if (!AppConfiguration::isProductionBuild()) {
        AppUpdateState explanation;
        explanation.currentVersion = AppConfiguration::shortVersion();
        explanation.errorMessage = AppUpdateState::productionOnlyMessage;
        if (appState_.onUpdateStateChange)
            appState_.onUpdateStateChange(explanation);
        return;
    }
    const QPointer<UpdaterService> self(this);
    appState_.onCheckForUpdatesRequested = [self] {
        QMetaObject::invokeMethod(
            self.data(),
            [self] {
                if (self)
                    self->checkForUpdates();
            },
            Qt::QueuedConnection);
    };
    if (const auto failure = controller().startUpdater()) {
        syncState(AppUpdateStatus::error, std::nullopt, std::nullopt, *failure);
        return;
    }
    const auto followFlag = [this] {
        AppUpdateState state = appState_.appUpdateState();
        state.canCheckForUpdates = controller().canCheckForUpdates();
        publish(state);
    };
    followFlag();
    canCheckObservation_ =
        connect(&controller(), &UpdaterController::canCheckForUpdatesChanged, this, followFlag);
    syncState(AppUpdateStatus::idle, std::nullopt, std::nullopt, std::nullopt);
    if (controller().automaticallyChecksForUpdates())
        controller().checkForUpdateInformation();
}

void UpdaterService::checkForUpdates()
{
    if (!AppConfiguration::isProductionBuild())
        return;
    const AppUpdateState &current = appState_.appUpdateState();
    syncState(AppUpdateStatus::checking, current.availableVersion, current.releaseNotesURL, std::nullopt);
    controller().checkForUpdates();
}

void UpdaterService::syncState(AppUpdateStatus status, std::optional<QString> availableVersion,
                               std::optional<QString> releaseNotesURL, std::optional<QString> errorMessage)
{
    const BundleInfo bundle = AppConfiguration::bundleInfo();
    AppUpdateState state = appState_.appUpdateState();
    state.status = status;
    if (const auto version = bundle.value(u"CFBundleShortVersionString"))
        state.currentVersion = *version;
    state.availableVersion = std::move(availableVersion);
    state.releaseNotesURL = std::move(releaseNotesURL);
    state.errorMessage = std::move(errorMessage);
    state.feedURL = bundle.value(u"SUFeedURL");
    state.lastCheckedAt = QDateTime::currentDateTimeUtc();
    state.canCheckForUpdates = updaterController_ && updaterController_->canCheckForUpdates();
    publish(state);
}

void UpdaterService::publish(const AppUpdateState &state)
{
    appState_.setAppUpdateState(state);
    if (appState_.onUpdateStateChange)
        appState_.onUpdateStateChange(state);
}

void UpdaterService::didFindValidUpdate(const AppcastItem &item)
{
    std::optional<QString> notes;
    if (item.releaseNotesURL)
        notes = item.releaseNotesURL->toString(QUrl::FullyEncoded);
    syncState(AppUpdateStatus::updateAvailable, item.offeredVersion(), notes, std::nullopt);
}

void UpdaterService::didNotFindUpdate()
{
    syncState(AppUpdateStatus::upToDate, std::nullopt, std::nullopt, std::nullopt);
}

void UpdaterService::didAbortWithError(const QString &description)
{
    const AppUpdateState &current = appState_.appUpdateState();
    syncState(AppUpdateStatus::error, current.availableVersion, current.releaseNotesURL, description);
}

} // namespace pendrel
