// Losing and finding the service: no network at start, a service that is
// away for a while. Jobs wait instead of failing, and nothing asks the user
// to sign in again just because the service could not be asked.

#include "state/AppState.h"

#include "jobs/JobQueue.h"
#include "support/Tasks.h"

#include <QNetworkInformation>
#include <QPointer>

namespace pendrel {

namespace {

int firstReconnectDelayMs = 5000;
int longestReconnectDelayMs = 300000;

} // namespace

void AppState::setReconnectDelaysMs(int first, int longest)
{
    firstReconnectDelayMs = first;
    longestReconnectDelayMs = longest;
}

void AppState::noteServiceUnreachable(const QString &reason)
{
    noteServiceDown(reason, false);
}

void AppState::noteServiceAnsweredError(const QString &reason)
{
    noteServiceDown(reason, true);
}

void AppState::noteServiceDown(const QString &reason, bool answered)
{
    const bool first = !serviceUnreachable_;
    if (first || answered != serviceAnswersWithError_ || reason != *serviceUnreachable_)
        qWarning().noquote() << (answered ? "The service answers with an error:"
                                          : "The service cannot be reached:")
                             << reason << "- jobs wait until it works.";
    const bool kindChanged = serviceAnswersWithError_ != answered;
    serviceAnswersWithError_ = answered;
    if (!assign(serviceUnreachable_, std::optional<QString>(reason), &AppState::serviceUnreachableChanged)
        && kindChanged)
        emit serviceUnreachableChanged();
    // Every try that fails doubles the pause, up to the longest.
    if (first)
        reconnectDelayMs_ = firstReconnectDelayMs;
    else
        reconnectDelayMs_ = std::min(reconnectDelayMs_ * 2, longestReconnectDelayMs);
    if (!isProbingService_) {
        reconnectTimer_.setSingleShot(true);
        reconnectTimer_.start(reconnectDelayMs_);
    }
    followNetworkState();
    notifyPreferredPanelSizeDidChange();
    recomputeStatusIconState();
}

void AppState::noteServiceReachable()
{
    reconnectTimer_.stop();
    if (!serviceUnreachable_)
        return;
    qInfo().noquote() << "The service answers again; waiting jobs resume.";
    serviceAnswersWithError_ = false;
    assign(serviceUnreachable_, std::optional<QString>(), &AppState::serviceUnreachableChanged);
    notifyPreferredPanelSizeDidChange();
    recomputeStatusIconState();
    jobQueue_->processQueueIfNeeded();
}

void AppState::forgetServiceUnreachable()
{
    reconnectTimer_.stop();
    serviceAnswersWithError_ = false;
    assign(serviceUnreachable_, std::optional<QString>(), &AppState::serviceUnreachableChanged);
}

void AppState::reconnectNow()
{
    if (!serviceUnreachable_ || isProbingService_)
        return;
    reconnectTimer_.stop();
    startSoon(
        this, [this] { return probeService(); }, QStringLiteral("Reconnecting"));
}

QCoro::Task<void> AppState::probeService()
{
    const QPointer<AppState> self(this);
    isProbingService_ = true;
    // The same question a job asks first; its answer also refreshes the
    // workspace and balance the panel shows.
    co_await refreshAuthenticatedContext();
    if (!self)
        co_return;
    isProbingService_ = false;
    // Signed out there is nothing to ask the service and no job it holds
    // up: "Offline" would stay for good. The sign-in form says for itself
    // when the service cannot be reached.
    if (!authState_.session) {
        forgetServiceUnreachable();
        co_return;
    }
    if (serviceUnreachable_ && !reconnectTimer_.isActive())
        reconnectTimer_.start(reconnectDelayMs_);
}

// The desktop's word that the network came back cuts the pause short. The
// backend is loaded only once it is needed: loading it may ask the system
// bus, which start-up must not wait on.
void AppState::followNetworkState()
{
    if (followsNetworkState_)
        return;
    followsNetworkState_ = true;
    if (!QNetworkInformation::loadBackendByFeatures(QNetworkInformation::Feature::Reachability))
        return;
    connect(QNetworkInformation::instance(), &QNetworkInformation::reachabilityChanged, this,
            [this](QNetworkInformation::Reachability reachability) {
                if (reachability == QNetworkInformation::Reachability::Online)
                    reconnectNow();
            });
}

} // namespace pendrel
